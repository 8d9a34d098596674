// The program's start: the application, the main window with its creation
// handler, the hidden about window, then the event loop until the main
// window closes.
#include "ABOUT_QVX.h"
#include "ISP_S8252.h"
#include "PortAccess.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    qvx::SetApplicationTitle();

    // The port backend, chosen by QVX_PORT.
    std::string error;
    std::unique_ptr<qvx::PortAccess> port = qvx::OpenPortAccessFromEnvironment(error);
    if (!port) {
        std::fprintf(stderr, "%s\n", error.c_str());
        QMessageBox::critical(nullptr, QString::fromLatin1(qvx::kApplicationTitle), QString::fromStdString(error));
        return 2;
    }

    qvx::TfrmMain frmMain(*port);
    qvx::TfrmAboutQvx frmAboutQvx(&frmMain);
    frmMain.SetAboutWindow(&frmAboutQvx);

    frmMain.show();
    frmMain.activateWindow();
    return application.exec();
}
