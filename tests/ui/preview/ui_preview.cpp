// Shows the real windows in a chosen state, for looking at them (e.g. under
// Xvfb with a screenshot). Not a test and not part of the program.
//
//   ui_preview [--load FILE] [--about] [--files] [--save] [--device CODE] [--narrow] [--port SELECTION]
//              [--option-menu] [--port-menu] [--device-menu] [--detect] [--crystal] [--lock N] [--auto]
//              [--data FILE]
//
// --load runs "Load Code" with FILE as the dialog's answer; --about opens the
// about window once the main window is up; --files opens the Files menu; --save
// opens the "Save Code As..." dialog; --narrow makes the main window
// 294 pixels wide; --port chooses the backend as QVX_PORT would (default:
// the simulated AT89S8252); --option-menu, --port-menu and --device-menu
// open those menus, --crystal the "Target crystal..." dialog, --detect
// "Detect Chip". --device chooses a device code 0 to 6 from
// the Device menu (-1 leaves none chosen); --lock ticks Lock Bit N; --auto
// clicks AUTO-PROGRAM once the file is loaded (scripts/screenshot.sh).
// --data opens the Data Memory window and loads FILE into it.
#include "ABOUT_QVX.h"
#include "DataMemory.h"
#include "ISP_S8252.h"
#include "PortAccess.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    qvx::SetApplicationTitle();

    QString load, data;
    bool about = false, narrow = false, files = false, save = false, optionMenu = false, portMenu = false,
         crystal = false, autoProgram = false, deviceMenu = false, detect = false;
    int device = -2, lock = 0;
    std::string selection = "sim:AT89S8252,timing=instant";
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--load") && i + 1 < argc)
            load = QString::fromLocal8Bit(argv[++i]);
        else if (!std::strcmp(argv[i], "--about"))
            about = true;
        else if (!std::strcmp(argv[i], "--data") && i + 1 < argc)
            data = QString::fromLocal8Bit(argv[++i]);
        else if (!std::strcmp(argv[i], "--device-menu"))
            deviceMenu = true;
        else if (!std::strcmp(argv[i], "--files"))
            files = true;
        else if (!std::strcmp(argv[i], "--save"))
            save = true;
        else if (!std::strcmp(argv[i], "--narrow"))
            narrow = true;
        else if (!std::strcmp(argv[i], "--option-menu"))
            optionMenu = true;
        else if (!std::strcmp(argv[i], "--port-menu"))
            portMenu = true;
        else if (!std::strcmp(argv[i], "--detect"))
            detect = true;
        else if (!std::strcmp(argv[i], "--crystal"))
            crystal = true;
        else if (!std::strcmp(argv[i], "--device") && i + 1 < argc)
            device = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--lock") && i + 1 < argc)
            lock = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--auto"))
            autoProgram = true;
        else if (!std::strcmp(argv[i], "--port") && i + 1 < argc)
            selection = argv[++i];
    }

    std::string error;
    std::unique_ptr<qvx::PortAccess> port = qvx::OpenPortAccess(selection, error);
    if (!port) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    qvx::TfrmMain::Hooks hooks;
    if (!load.isEmpty())
        hooks.OpenFile = [load]() -> std::optional<QString> { return load; };
    if (!data.isEmpty())
        hooks.OpenDataFile = [data]() -> std::optional<QString> { return data; };
    qvx::TfrmMain frmMain(*port, hooks);
    qvx::TfrmAboutQvx frmAboutQvx(&frmMain);
    frmMain.SetAboutWindow(&frmAboutQvx);
    if (QAction* item = frmMain.DeviceMenuItem(device))
        item->trigger();
    else if (device == -1)
        frmMain.Chosen().DeviceCode = device;
    if (QCheckBox* box = frmMain.LockCheckBox(lock))
        box->click();
    frmMain.show();
    frmMain.activateWindow();
    if (narrow)
        frmMain.setFixedWidth(294 - (frmMain.frameGeometry().width() - frmMain.width()));
    if (!load.isEmpty())
        QTimer::singleShot(100, &frmMain, [&] { frmMain.Load1->trigger(); });
    if (about)
        QTimer::singleShot(300, &frmMain, [&] { frmMain.About1->trigger(); });
    if (save)
        QTimer::singleShot(300, &frmMain, [&] { frmMain.SaveCodeAs1->trigger(); });
    if (files)
        QTimer::singleShot(300, &frmMain, [&] {
            frmMain.menuBar()->setActiveAction(frmMain.Files1->menuAction());
        });
    if (optionMenu)
        QTimer::singleShot(300, &frmMain, [&] {
            frmMain.menuBar()->setActiveAction(frmMain.Option1->menuAction());
        });
    if (portMenu)
        QTimer::singleShot(300, &frmMain, [&] { frmMain.menuBar()->setActiveAction(frmMain.Port1->menuAction()); });
    if (detect)
        QTimer::singleShot(300, &frmMain, [&] { frmMain.DetectChip1->trigger(); });
    if (autoProgram)
        QTimer::singleShot(300, &frmMain, [&] { frmMain.btnAuto->click(); });
    if (!data.isEmpty())
        QTimer::singleShot(300, &frmMain, [&] {
            frmMain.DataMemory1->trigger();
            frmMain.frmDataMemory->btnDataLoad->click();
        });
    if (deviceMenu)
        QTimer::singleShot(300, &frmMain, [&] {
            frmMain.menuBar()->setActiveAction(frmMain.Device1->menuAction());
        });
    if (crystal)
        QTimer::singleShot(300, &frmMain, [&] { frmMain.TargetCrystal1->trigger(); });
    return application.exec();
}
