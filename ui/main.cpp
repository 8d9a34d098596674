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
#include <optional>
#include <string>

namespace {

void PrintHelp()
{
    std::printf("Usage: qvx-isp [--port FORM] [Qt options] [FILE]\n"
                "       qvx-isp --help | --version\n"
                "\n"
                "Programs AT89S51, AT89S52, AT89S53, AT89S8252, AT89S8253, AT89S2051 and\n"
                "AT89S4051 flash microcontrollers through the PC parallel port, an FT232R\n"
                "USB cable, GPIO lines, an Arduino as ISP or a USBasp, in a window. FILE\n"
                "(Intel HEX, or .bin) is loaded as LOAD FILE loads it.\n"
                "\n"
                "  --port FORM    the cable for this run, in a form QVX_PORT takes (below)\n"
                "  -h, --help     show this help and exit\n"
                "  -v, --version  show the version and exit\n"
                "Qt's own options (-platform, -style, ...) go to Qt.\n"
                "\n"
                "The cable is the one --port names, else QVX_PORT's, else the one chosen last\n"
                "in the Port menu, else the parallel port.\n"
                "\n"
                "Environment:\n"
                "  QVX_PORT  ppdev (also when unset): the parallel port through /dev/parportN,\n"
                "            LPT1 at 0x378, LPT2 at 0x278;\n"
                "            ftdi[:serial=SERIAL,pins=MOSI/MISO/SCK/RST[/SENSE],rate=N]: an FT232R\n"
                "            USB cable in synchronous bit-bang mode (default pins txd/rxd/rts/dtr);\n"
                "            gpio:CHIP,rst=N,mosi=N,sck=N,miso=N[,sense=N]: Linux GPIO lines\n"
                "            of /dev/gpiochipN by number;\n"
                "            arduino:PATH[,baud=N]: an Arduino running the ArduinoISP sketch on\n"
                "            the serial port PATH (default 19200 baud);\n"
                "            usbasp[:serial=SERIAL]: a USBasp with firmware 1.11 or later;\n"
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

// The window's own arguments, after Qt has taken its options.
struct Arguments {
    std::optional<std::string> Port; // --port
    std::optional<QString> File;     // the code file to load
    std::string Error;               // what is wrong with them
};

Arguments ReadArguments(int argc, char* argv[])
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    Arguments read;
    bool options = true;
    for (qsizetype i = 1; i < args.size() && read.Error.empty(); ++i) {
        const QString& arg = args[i];
        if (options && arg == QLatin1String("--")) {
            options = false;
        } else if (options && (arg == QLatin1String("--port") || arg.startsWith(QLatin1String("--port=")))) {
            if (read.Port)
                read.Error = "--port is given twice";
            else if (arg.size() > 6)
                read.Port = arg.mid(7).toStdString();
            else if (i + 1 < args.size())
                read.Port = args[++i].toStdString();
            else
                read.Error = "--port needs a port form, e.g. --port ftdi";
        } else if (options && arg.startsWith(QLatin1Char('-'))) {
            read.Error = "unknown argument '" + arg.toStdString() + "'";
        } else if (read.File) {
            read.Error = "one file at a time: '" + read.File->toStdString() + "' and '" + arg.toStdString() + "'";
        } else {
            read.File = arg;
        }
    }
    return read;
}

// A port form's refusal, naming where the form came from as the user gave
// it: "--port=sim:X: ...", "QVX_PORT=sim:X: ...", "Port=sim:X (remembered
// in .../qvx-isp.conf): ...".
std::string NamedBySource(std::string error, const qvx::PortChoice& choice)
{
    const bool typed = choice.Source == "--port" || choice.Source == "QVX_PORT";
    const std::string label =
        typed ? choice.Source + "=" + choice.Spec : "Port=" + choice.Spec + " (remembered in " + choice.Source + ")";
    const std::string name = typed ? choice.Source : "Port";
    auto replace = [&error](const std::string& from, const std::string& to) {
        for (size_t at = error.find(from); at != std::string::npos; at = error.find(from, at + to.size()))
            error.replace(at, from.size(), to);
    };
    if (name != "QVX_PORT") {
        replace("QVX_PORT=" + choice.Spec, label);
        replace("QVX_PORT", name);
    }
    if (error.find(label) == std::string::npos)
        error = label + ": " + error;
    return error;
}

// The port, the main window and the about window, until the main window
// closes. The port is the window's, and is closed (a simulated chip saved)
// with it before this returns.
int RunWindows(qvx::ExitSignalNotifier& stopSignals, const Arguments& arguments)
{
    // The port backend: --port, else QVX_PORT, else the cable remembered,
    // else the parallel port.
    qvx::SettingsFile settings;
    settings.Load(); // a settings file that cannot be read remembers nothing
    qvx::PortChoice choice = qvx::ChoosePort(arguments.Port, "--port", settings);
    std::string error;
    std::unique_ptr<qvx::PortAccess> port = qvx::OpenPortAccess(choice.Spec, error);
    std::string fellBack;
    if (!port && choice.Source == settings.Path()) {
        // A cable remembered that cannot be used any more must not keep the
        // window shut: the parallel port, and the Port menu to choose again.
        fellBack = NamedBySource(error, choice) + "\nThe parallel port is used instead; choose a cable from the "
                                                  "Port menu.";
        choice = {};
        port = qvx::OpenPortAccess(choice.Spec, error);
    }
    if (!port) {
        error = NamedBySource(error, choice);
        std::fprintf(stderr, "%s\n", error.c_str());
        QMessageBox::critical(nullptr, QString::fromLatin1(qvx::kApplicationTitle), QString::fromStdString(error));
        return 2;
    }

    qvx::TfrmMain frmMain(std::move(port), choice);
    qvx::TfrmAboutQvx frmAboutQvx(&frmMain);
    frmMain.SetAboutWindow(&frmAboutQvx);
    stopSignals.Follow(frmMain);

    frmMain.show();
    frmMain.activateWindow();
    if (!fellBack.empty())
        QMetaObject::invokeMethod(
            &frmMain, [&frmMain, fellBack] { frmMain.Message(QString::fromStdString(fellBack)); },
            Qt::QueuedConnection);
    if (arguments.File)
        QMetaObject::invokeMethod(
            &frmMain, [&frmMain, file = *arguments.File] { frmMain.LoadNamedFile(file); }, Qt::QueuedConnection);
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
    const Arguments arguments = ReadArguments(argc, argv);
    if (!arguments.Error.empty()) {
        std::fprintf(stderr, "qvx-isp: %s (see qvx-isp --help)\n", arguments.Error.c_str());
        return 2;
    }

    // From here on SIGINT, SIGTERM and SIGHUP end the program as E&xit does,
    // and main returns normally, so that the port is closed and a simulated
    // chip saved; the exit status then tells the signal.
    qvx::ExitSignals exitSignals;
    qvx::ExitSignalNotifier notifier(exitSignals);
    return exitSignals.ExitStatus(RunWindows(notifier, arguments));
}
