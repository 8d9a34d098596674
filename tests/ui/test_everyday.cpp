// The everyday path through the window: a cancelled file dialog changes
// nothing, every cable is chosen from the Port menu and remembered, a failure
// brings the Operation Log up, the device, the folder and the recent files
// are remembered, and qvx-isp run as a process takes --port and a file.
#include "ChildProcess.h"
#include "CommandFixture.h"
#include "FtdiPort.h"
#include "GpioPort.h"
#include "LogWindow.h"
#include "PortSelect.h"
#include "VirtualFt232r.h"
#include "VirtualArduinoIsp.h"
#include "VirtualGpioChip.h"
#include "VirtualUsbasp.h"

#include <QClipboard>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMenu>
#include <QTest>

#include <csignal>
#include <fstream>
#include <iterator>

namespace qvx::test {
namespace {

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class EverydayTest : public CommandTest {
protected:
    EverydayTest() { ::unsetenv("QVX_PORT"); }
    bool Remembers(const std::string& line) const
    {
        return ReadText(Dir() + "/config/qvx-isp/qvx-isp.conf").find(line + "\n") != std::string::npos;
    }
    std::string Recent(int n) const { return window->RecentFileItems[n]->text().toStdString(); }
    // The window's port seam: each form opens a virtual cable whose chip is
    // an AT89S52 (the parallel port: the simulated cable).
    void VirtualCables()
    {
        window->WindowHooks().OpenPort = [this](const std::string& spec, std::string& error) {
            std::unique_ptr<PortAccess> port;
            PortSelection chosen;
            if (!ParsePortSelection(spec, chosen, error))
                return port;
            if (chosen.kind == PortSelection::Kind::Ftdi) {
                auto ft = std::make_unique<VirtualFt232r>(*sim::FindDevice("AT89S52"), sim::ChipOptions{},
                                                          VirtualFt232rOptions{});
                chip = &ft->Chip();
                port = std::make_unique<FtdiPort>(chosen.ftdi, std::move(ft));
                return port;
            }
            if (chosen.kind == PortSelection::Kind::Arduino) { // the sketch on `arduino`'s terminal
                chip = &arduino->Chip();
                return std::unique_ptr<PortAccess>(std::make_unique<ArduinoPort>(chosen.arduino));
            }
            if (chosen.kind == PortSelection::Kind::Usbasp) {
                auto usb = std::make_unique<VirtualUsbasp>(*sim::FindDevice("AT89S52"), sim::ChipOptions{});
                chip = &usb->Chip();
                return std::unique_ptr<PortAccess>(std::make_unique<UsbaspPort>(chosen.usbasp, std::move(usb)));
            }
            std::unique_ptr<SimPort> cable = MakeSimPort("AT89S52,timing=instant", error);
            chip = &cable->Chip();
            if (chosen.kind != PortSelection::Kind::Gpio)
                return std::unique_ptr<PortAccess>(std::move(cable));
            gpios.push_back(std::make_unique<VirtualGpioChip>(*cable, chosen.gpio, gpioOptions));
            cables.push_back(std::move(cable));
            return std::unique_ptr<PortAccess>(std::make_unique<GpioPort>(chosen.gpio, Lend(*gpios.back())));
        };
    }
    // AUTO-PROGRAM of blink.hex; true when the chip behind the cable holds it.
    bool AutoProgramsTheChip()
    {
        chosen.push_back(QString::fromStdString(Example("blink.hex")));
        window->btnLoadFile->click();
        window->btnAuto->click();
        chip->Settle();
        return statuses.back() == "RUN MODE." && chip->CodeByte(0) == 0x02 && chip->CodeByte(0xA3) != 0xFF;
    }

    sim::Chip* chip = nullptr; // behind the cable chosen last
    std::unique_ptr<VirtualArduinoIsp> arduino =
        std::make_unique<VirtualArduinoIsp>(*sim::FindDevice("AT89S52"), sim::ChipOptions{});
    std::vector<std::unique_ptr<SimPort>> cables;
    std::vector<std::unique_ptr<VirtualGpioChip>> gpios;
    VirtualGpioOptions gpioOptions;
};

// LOAD FILE, "&Load Code" and Ctrl+O, each cancelled: buffer, file name and
// status as they were, and PROGRAM still programs the file loaded before.
TEST_F(EverydayTest, ACancelledFileDialogChangesNothing)
{
    OpenOn("AT89S52,timing=instant");
    Choose("AT89S52");
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    LoadHex(HexText({{0x0000, {0x02, 0x00, 0x30}}}));
    const std::function<void()> ways[] = {[&] { window->btnLoadFile->click(); }, [&] { window->Load1->trigger(); },
                                          [&] { QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier); }};
    for (const auto& cancel : ways) {
        window->SetStatus("PROGRAM MODE.");
        chosen.push_back(std::nullopt);
        cancel();
        EXPECT_TRUE(chosen.empty()) << "the dialog was asked";
        EXPECT_EQ(window->edtStatus->text(), QStringLiteral("PROGRAM MODE."));
        EXPECT_EQ(Cell(0x0002), QStringLiteral("30"));
        EXPECT_EQ(window->edtFileName->text().toStdString(), Dir() + "/code.hex");
    }
    window->btnProgram->click();
    EXPECT_EQ(statuses.back(), "Program finished.");
    EXPECT_EQ(sim->Chip().CodeByte(0x0002), 0x30);
}

// Each cable from the Port menu: its dialog, AUTO-PROGRAM through it, the
// cable before left running, the choice remembered for both programs. One
// that cannot be used is refused with its reason, and the window keeps the
// cable it had. Back to the parallel port's LPT2 at the end.
TEST_F(EverydayTest, EveryCableFromThePortMenuIsUsedAndRemembered)
{
    OpenOn("AT89S52,timing=instant");
    Choose("AT89S52");
    VirtualCables();
    struct Row {
        QAction* item;
        QStringList answer, shown;
        std::string spec;
    };
    const Row rows[] = {
        {window->CableItems[0], {"", "", ""}, {"", "", ""}, "ftdi"},
        {window->CableItems[1], {"gpiochip0", "25", "10", "11", "9", ""}, {"gpiochip0", "25", "10", "11", "9", ""},
         "gpio:gpiochip0,rst=25,mosi=10,sck=11,miso=9"},
        {window->CableItems[0], {"QVX00001", "txd/rxd/rts/dtr", "500000"}, {"", "", ""},
         "ftdi:serial=QVX00001,pins=txd/rxd/rts/dtr,rate=500000"},
        {window->CableItems[2], {QString::fromStdString(arduino->Path()), ""}, {"/dev/ttyACM0", ""}, "arduino:" + arduino->Path()},
        {window->CableItems[3], {""}, {""}, "usbasp"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.spec);
        cableAnswers.push_back(row.answer);
        row.item->trigger();
        EXPECT_EQ(asked.back(), row.shown);
        EXPECT_EQ(window->CableChoice().Spec, row.spec);
        EXPECT_TRUE(row.item->isChecked() && !window->LPT11->isChecked());
        EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();
        SettingsFile settings;
        settings.Load();
        EXPECT_EQ(ChoosePort({}, {}, settings).Spec, row.spec) << "what qvx-isp-cli uses";
        EXPECT_TRUE(AutoProgramsTheChip());
    }
    EXPECT_TRUE(RunLines()) << "the simulated cable was left running";

    gpioOptions.busy = {11};
    cableAnswers.push_back(QStringList{"gpiochip0", "25", "10", "11", "9", ""});
    cableAnswers.push_back(QStringList{"gpiochip0", "25", "x", "11", "9", ""});
    window->CableItems[1]->trigger();
    window->CableItems[1]->trigger();
    ASSERT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("GPIO lines cannot be used.\nCannot request line 11 of "
                                                      "gpiochip0 for SCK: Device or resource busy")))
        << messages[0].toStdString();
    EXPECT_EQ(messages[1], QStringLiteral("GPIO lines cannot be used as \"gpio:gpiochip0,rst=25,mosi=x,sck=11,"
                                          "miso=9\": option \"mosi=x\": a line is a number from 0 to 1023\nThe "
                                          "window keeps the cable it had."));
    EXPECT_EQ(asked.back()[2], QStringLiteral("10")) << "the dialog shows what was typed last";
    EXPECT_EQ(window->CableChoice().Spec, rows[4].spec);
    EXPECT_TRUE(window->CableItems[3]->isChecked() && Remembers("Port=" + rows[4].spec));

    window->LPT21->trigger();
    EXPECT_EQ(window->CableChoice().Spec, "ppdev");
    EXPECT_TRUE(window->LPT21->isChecked() && !window->CableItems[3]->isChecked());
    EXPECT_EQ(window->Link().DataPort, kLpt2Data);
    EXPECT_TRUE(Remembers("Port=ppdev") && Remembers("Lpt=2"));
}

// Without a usable cable at start, "Choose Another Cable" keeps the window
// and opens the Port menu; the message says what chose the cable.
TEST_F(EverydayTest, FirstRunCanGoOnToChooseAnotherCable)
{
    VirtualFt232rOptions absent;
    absent.present = false;
    auto ft = std::make_unique<VirtualFt232r>(*sim::FindDevice("AT89S52"), sim::ChipOptions{}, absent);
    chooseAnotherCable = true;
    window = std::make_unique<TfrmMain>(std::make_unique<FtdiPort>(FtdiSettings{}, std::move(ft)),
                                        PortChoice{"ftdi", SettingsFile().Path()}, Hooks());
    window->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->Port1->isVisible(); }, 5000));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("\nThis cable was remembered in ") +
                                     QString::fromStdString(SettingsFile().Path()) + QStringLiteral(" (Port=ftdi).")));
    EXPECT_EQ(window->edtStatus->text(), QStringLiteral("Choose a cable"));
    window->Port1->close();
}

// A failed verify brings the Operation Log up with the byte that differs,
// each line with its time; Copy and Save As take the whole log.
TEST_F(EverydayTest, TheOperationLogShowsAFailureAndCopiesAndSavesIt)
{
    OpenOn("AT89S8252,timing=instant");
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    LoadHex(HexText({{0x0100, {0xAA, 0xBB}}}));
    window->btnProgram->click();
    EXPECT_FALSE(window->frmOperationLog->isVisible()) << "nothing failed yet";
    sim->Chip().PresetCode(0x0101, 0x0B);
    window->btnVerify->click();
    ASSERT_TRUE(window->frmOperationLog->isVisible());
    const QString log = window->frmOperationLog->Text();
    const QStringList shown = log.split(QLatin1Char('\n'));
    ASSERT_GE(shown.size(), 3);
    EXPECT_EQ(shown[shown.size() - 3].mid(8), QStringLiteral(" Verify failed at 0101: expected BB, read 0B"));
    EXPECT_EQ(shown[shown.size() - 2].mid(8), QStringLiteral(" Verify not match"));

    window->frmOperationLog->btnCopy->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), log);
    const std::string saved = Dir() + "/session.log";
    window->WindowHooks().SaveLog = [&] { return std::optional<QString>(QString::fromStdString(saved)); };
    window->frmOperationLog->btnSave->click();
    EXPECT_EQ(ReadText(saved), log.toStdString());

    // Kept within its bounds: the oldest lines go.
    TfrmOperationLog small(nullptr, 3);
    for (const char* line : {"1", "2", "3", "4", "5"})
        small.Append(QString::fromLatin1(line));
    EXPECT_EQ(small.Text(), QStringLiteral("3\n4\n5\n"));
}

// The device, the folder and up to eight recent files come back in the next
// window; a recent file that has gone is reported and dropped.
TEST_F(EverydayTest, DeviceFolderAndRecentFilesAreRemembered)
{
    OpenOn("AT89S8252,timing=instant");
    Choose("AT89S2051");
    for (int n = 1; n <= 9; ++n)
        LoadHex(HexText({{0x0000, {uint8_t(n)}}}), "code" + std::to_string(n) + ".hex");
    window.reset();
    OpenOn("AT89S8252,timing=instant");
    EXPECT_TRUE(window->AT89S20511->isChecked() && window->btnFuse_Write->isEnabled());
    EXPECT_EQ(window->cmbDevice->currentText(), QStringLiteral("AT89S2051"));
    EXPECT_EQ(window->OpenDialog1->directory().absolutePath().toStdString(), Dir());
    EXPECT_TRUE(window->RecentFileItems[7]->isVisible() && window->N4->isVisible());
    EXPECT_EQ(Recent(0), "&1 " + Dir() + "/code9.hex");
    EXPECT_EQ(Recent(7), "&8 " + Dir() + "/code2.hex");

    window->RecentFileItems[7]->trigger();
    EXPECT_EQ(Cell(0), QStringLiteral("02"));
    EXPECT_EQ(Recent(0), "&1 " + Dir() + "/code2.hex");
    std::filesystem::remove(Dir() + "/code9.hex");
    window->RecentFileItems[1]->trigger();
    EXPECT_EQ(messages, QStringList{QString::fromStdString("The file " + Dir() +
                                                           "/code9.hex no longer exists; it is taken off the "
                                                           "recent files.")});
    EXPECT_EQ(Cell(0), QStringLiteral("02"));
    EXPECT_EQ(Recent(1), "&2 " + Dir() + "/code8.hex");
    EXPECT_FALSE(window->RecentFileItems[7]->isVisible());
    EXPECT_TRUE(Remembers("RecentFile2=" + Dir() + "/code8.hex"));
}

// qvx-isp as a process: --port for one run, a file to load, and what it
// says about a port form it cannot use, naming where the form came from.
TEST_F(EverydayTest, TheWindowProgramTakesAPortAndAFile)
{
    WriteFile("app.hex", HexText({{0x0000, {0x02, 0x00, 0x30}}}));
    const std::string sim = "sim:AT89S52,timing=instant,lines=" + Dir() + "/lines.txt";
    struct Run {
        std::vector<std::string> args;
        std::string remembered, says;
    } runs[] = {
        {{"--port", sim, "app.hex"}, "", "Load file complete."},
        {{"--port=sim:AT89S99"}, "", "--port=sim:AT89S99: "},
        {{}, "Port=sim:AT89S99", "Port=sim:AT89S99 (remembered in " + SettingsFile().Path() + "): "},
    };
    for (const Run& run : runs) {
        WriteFile("config/qvx-isp/qvx-isp.conf", "[General]\n" + run.remembered + "\n");
        std::vector<std::string> args = {"-platform", "offscreen"};
        args.insert(args.end(), run.args.begin(), run.args.end());
        Child gui({QVX_GUI, args, Dir(), std::nullopt, false, {"ASAN_OPTIONS=detect_leaks=0"}});
        EXPECT_TRUE(gui.WaitFor(run.says)) << gui.Output().err;
        EXPECT_EQ(gui.Output().err.find("QVX_PORT=sim"), std::string::npos) << gui.Output().err;
        gui.Signal(SIGTERM);
        EXPECT_EQ(gui.Finish().status, 128 + SIGTERM);
    }
    EXPECT_EQ(ReadText(Dir() + "/lines.txt"), "RST=0 D3=1 D7=1\n");
    const Ran twoFiles = RunChild({QVX_GUI, {"-platform", "offscreen", "a.hex", "b.hex"}, Dir(), std::nullopt, false,
                                   {"ASAN_OPTIONS=detect_leaks=0"}});
    EXPECT_EQ(twoFiles.status, 2);
    EXPECT_NE(twoFiles.err.find("one file at a time"), std::string::npos) << twoFiles.err;
}

} // namespace
} // namespace qvx::test
