// The program's start: the application, the main window with its creation
// handler, the hidden about window, then the event loop until the main
// window closes.
#include "ABOUT_QVX.h"
#include "Config.h"
#include "ExitSignalNotifier.h"
#include "ISP_S8252.h"
#include "PortAccess.h"
#include "Settings.h"
#include "Version.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstring>

namespace {

void PrintHelp()
{
    std::printf("Usage: qvx-isp [--help | --version] [Qt options]\n"
                "\n"
                "Programs AT89S51, AT89S52, AT89S53, AT89S8252, AT89S8253, AT89S2051 and\n"
                "AT89S4051 flash microcontrollers through the PC parallel port, an FT232R\n"
                "USB cable or GPIO lines, in a window.\n"
                "\n"
                "  -h, --help     show this help and exit\n"
                "  -v, --version  show the version and exit\n"
                "Qt's own options (-platform, -style, ...) go to Qt.\n"
                "\n"
                "Environment:\n"
                "  QVX_PORT  ppdev (also when unset): the parallel port through /dev/parportN,\n"
                "            LPT1 at 0x378, LPT2 at 0x278;\n"
                "            ftdi[:serial=SERIAL,pins=MOSI/MISO/SCK/RST[/SENSE],rate=N]: an FT232R\n"
                "            USB cable in synchronous bit-bang mode (default pins txd/rxd/rts/dtr);\n"
                "            gpio:CHIP,rst=N,mosi=N,sck=N,miso=N[,sense=N]: Linux GPIO lines\n"
                "            of /dev/gpiochipN by number;\n"
                "            sim:DEVICE[,option...]: a simulated cable and chip\n"
                "\n"
                "%s, the timing settings, is read from the first of these that exists:\n",
                qvx::kConfigFileName);
    for (const std::string& place : qvx::ConfigSearchPlaces())
        std::printf("  %s\n", place.c_str());
}

void PrintVersion()
{
    std::printf("qvx-isp %s\n"
                "License GPL-3.0-or-later: GNU GPL version 3 or later.\n"
                "This is free software: you are free to change and redistribute it.\n"
                "There is NO WARRANTY, to the extent permitted by law.\n",
                qvx::kVersion);
}

// --help and --version, answered before anything needs a display. Returns
// true when one was answered.
bool AnswerInformationOption(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            PrintHelp();
            return true;
        }
        if (!std::strcmp(argv[i], "--version") || !std::strcmp(argv[i], "-v")) {
            PrintVersion();
            return true;
        }
    }
    return false;
}

// The port, the main window and the about window, until the main window
// closes. The port outlives the windows and is closed (a simulated chip
// saved) before this returns.
int RunWindows(qvx::ExitSignalNotifier& stopSignals)
{
    // The port backend: QVX_PORT, else the cable remembered, else the
    // parallel port.
    qvx::SettingsFile settings;
    settings.Load(); // a settings file that cannot be read remembers nothing
    std::string error;
    std::unique_ptr<qvx::PortAccess> port = qvx::OpenPortAccess(qvx::ChoosePort({}, {}, settings).Spec, error);
    if (!port) {
        std::fprintf(stderr, "%s\n", error.c_str());
        QMessageBox::critical(nullptr, QString::fromLatin1(qvx::kApplicationTitle), QString::fromStdString(error));
        return 2;
    }

    qvx::TfrmMain frmMain(*port);
    qvx::TfrmAboutQvx frmAboutQvx(&frmMain);
    frmMain.SetAboutWindow(&frmAboutQvx);
    stopSignals.Follow(frmMain);

    frmMain.show();
    frmMain.activateWindow();
    return QApplication::exec();
}

} // namespace

int main(int argc, char* argv[])
{
    if (AnswerInformationOption(argc, argv))
        return 0;

    QApplication application(argc, argv); // takes out the options it knows
    qvx::SetApplicationTitle();
    QGuiApplication::setDesktopFileName(QStringLiteral(QVX_DESKTOP_ID));
    if (argc > 1) {
        std::fprintf(stderr, "qvx-isp: unknown argument '%s' (see qvx-isp --help)\n", argv[1]);
        return 2;
    }

    // From here on SIGINT, SIGTERM and SIGHUP end the program as E&xit does,
    // and main returns normally, so that the port is closed and a simulated
    // chip saved; the exit status then tells the signal.
    qvx::ExitSignals exitSignals;
    qvx::ExitSignalNotifier notifier(exitSignals);
    return exitSignals.ExitStatus(RunWindows(notifier));
}
