// Times AUTO-PROGRAM clicked in the real main window against the simulated
// chip with realistic timing, as a bench user would run it: CONFIG.QVX from
// the working directory, the start-up calibration, Lock Bit 2 ticked.
// A timing program, not a test: a full chip takes minutes.
//
//   window_auto_program DEVICE FILE.hex [SIM-OPTIONS]
//
// e.g. `cd build && ./bench/window_auto_program AT89S52 full8k.hex`
// (with CONFIG.QVX beside it). Prints each status text with the seconds
// since the click, and whether the chip holds the file afterwards.
#include "ISP_S8252.h"
#include "SimPort.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QPushButton>

#include <chrono>
#include <cstdio>

using namespace qvx;

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s DEVICE FILE.hex [SIM-OPTIONS]\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::string options = std::string(argv[1]) + "," + (argc > 3 ? argv[3] : "timing=realistic,iodelay");
    std::string error;
    std::unique_ptr<SimPort> sim = MakeSimPort(options, error);
    if (!sim) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    const QString file = QString::fromLocal8Bit(argv[2]);
    const auto start = std::chrono::steady_clock::now();
    auto seconds = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };

    TfrmMain::Hooks hooks;
    hooks.OpenFile = [&]() -> std::optional<QString> { return file; };
    hooks.Message = [&](const QString& text) { std::printf("%9.2f s  message: %s\n", seconds(), qPrintable(text)); };
    TfrmMain window(*sim, hooks);
    std::printf("TimingFactor %d, ClockDelay %d, WaitUnits %d\n", window.Link().TimingFactor,
                window.Link().ClockDelay, window.Link().WaitUnits);
    window.DeviceMenuItem(DeviceCodeByName(argv[1]))->trigger();
    window.btnLoadFile->click();
    window.chkLock2->setChecked(true);

    window.WindowHooks().Status = [&](const QString& text) { std::printf("%9.2f s  %s\n", seconds(), qPrintable(text)); };
    const auto clicked = std::chrono::steady_clock::now();
    window.btnAuto->click();
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - clicked).count();

    while (sim->Chip().Busy())
        sim->Chip().Settle();
    size_t differ = 0;
    const CodeBuffer& b = window.Buffer();
    for (size_t a = 0; a < sim->Chip().Code().size(); ++a)
        differ += sim->Chip().Code()[a] != HexByteValue(b.CodeHigh[a], b.CodeLow[a]);
    std::printf("AUTO-PROGRAM took %.1f s; chip %s the file (%zu bytes differ); lock bits %d%d%d\n", took,
                differ ? "differs from" : "holds", differ, sim->Chip().LockBit(1), sim->Chip().LockBit(2),
                sim->Chip().LockBit(3));
    return differ ? 1 : 0;
}
