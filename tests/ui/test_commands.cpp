// The chip commands clicked in the window against the simulated chip: the
// status texts in order, what the chip holds afterwards, the mode lines and
// the controls.
#include "BufferBytes.h"
#include "CommandFixture.h"

#include <QTimer>

namespace qvx::test {
namespace {

const std::vector<std::string> kAutoWithLock2 = {
    "PROGRAM MODE.",   "Erase Chip...", "Programming...", "Program finished.", "Verify code ...",
    "Verify complete.", "Lock bit level 2", "Auto Programming finished.", "RUN MODE.",
};

struct Family {
    const char* device;
    bool fuse;
};

void PrintTo(const Family& family, std::ostream* out)
{
    *out << family.device << (family.fuse ? " with x2 Clock" : "");
}

class AutoProgram : public CommandTest, public ::testing::WithParamInterface<Family> {};

TEST_P(AutoProgram, ErasesProgramsVerifiesLocksAndRuns)
{
    const Family family = GetParam();
    OpenOn(std::string(family.device) + ",timing=instant");
    Choose(family.device);
    const int32_t last = window->Chosen().SelectedDevice()->LastAddress;
    sim->Chip().PresetCode(last / 2 + 100, 0x00); // old data the erase must clear
    const auto program = Program(last);
    LoadHex(HexText(program));
    SetLockLevel(2);
    if (family.fuse)
        window->chk_x2Clock->setChecked(true);

    const size_t from = statuses.size();
    window->btnAuto->click();

    EXPECT_EQ(StatusesSince(from), kAutoWithLock2);
    EXPECT_TRUE(messages.isEmpty()) << messages.join(QLatin1Char('|')).toStdString();
    std::vector<uint8_t> expected(last + 1, 0xFF);
    for (const auto& [address, bytes] : program)
        std::copy(bytes.begin(), bytes.end(), expected.begin() + address);
    EXPECT_EQ(sim->Chip().Code(), expected);
    EXPECT_TRUE(sim->Chip().LockBit(1) && sim->Chip().LockBit(2) && !sim->Chip().LockBit(3));
    EXPECT_EQ(sim->Chip().X2Clock(), family.fuse);
    EXPECT_TRUE(RunLines());
    EXPECT_EQ(window->Link().ProgramMode, 0);
    EXPECT_TRUE(ChipControlsDisabled());
    EXPECT_FALSE(window->btnFuse_Write->isEnabled());
    EXPECT_EQ(window->ProgressBar1->value(), 100);
    EXPECT_TRUE(window->ProgramMode1->isChecked()); // the menu marks stay as they were
}

TEST_P(AutoProgram, WithoutAutoRunEndsInProgramMode)
{
    const Family family = GetParam();
    OpenOn(std::string(family.device) + ",timing=instant");
    Choose(family.device);
    LoadHex(HexText(Program(window->Chosen().SelectedDevice()->LastAddress)));
    SetLockLevel(2);
    window->AutoRUNafterprogram1->trigger();
    ASSERT_FALSE(window->AutoRUNafterprogram1->isChecked());

    const size_t from = statuses.size();
    window->btnAuto->click();
    std::vector<std::string> expected(kAutoWithLock2.begin(), kAutoWithLock2.end() - 1);
    EXPECT_EQ(StatusesSince(from), expected);
    EXPECT_EQ(window->edtStatus->text(), QStringLiteral("Auto Programming finished."));
    EXPECT_TRUE(ProgramLines());
    EXPECT_TRUE(ChipControlsEnabled());
    EXPECT_EQ(window->btnFuse_Write->isEnabled(), family.fuse);
}

INSTANTIATE_TEST_SUITE_P(Families, AutoProgram,
                         ::testing::Values(Family{"AT89S8252", false}, Family{"AT89S52", false},
                                           Family{"AT89S2051", true}),
                         [](const ::testing::TestParamInfo<Family>& info) { return std::string(info.param.device); });

TEST_F(CommandTest, AutoProgramWithoutAFileTouchesNothing)
{
    OpenOn("AT89S8252,timing=instant");
    const size_t from = statuses.size();
    window->btnAuto->click();
    EXPECT_EQ(StatusesSince(from), (std::vector<std::string>{"PROGRAM MODE.", "File name does't indentify!!!."}));
    EXPECT_EQ(sim->Chip().Counters().instructions, 0u);
    EXPECT_TRUE(ProgramLines());
}

TEST_F(CommandTest, FailedVerifyWritesNoLockAndStaysInProgramMode)
{
    OpenOn("AT89S8252,timing=instant");
    LoadHex(HexText(Program(0x1FFF)));
    SetLockLevel(1);
    // The chip loses a byte between programming and verify.
    bool programmed = false;
    sim->Chip().SetTraceSink([&](const std::string& line) {
        if (!programmed && window->edtStatus->text() == QStringLiteral("Verify code ...")) {
            programmed = true;
            sim->Chip().PresetCode(0x0005, 0x00);
        }
        (void)line;
    });
    const size_t from = statuses.size();
    window->btnAuto->click();
    EXPECT_EQ(StatusesSince(from),
              (std::vector<std::string>{"PROGRAM MODE.", "Erase Chip...", "Programming...", "Program finished.",
                                        "Verify code ...", "Verify not match", "Auto programming fail"}));
    EXPECT_FALSE(sim->Chip().LockBit(1));
    EXPECT_TRUE(ProgramLines());
    EXPECT_TRUE(ChipControlsEnabled());
}

TEST_F(CommandTest, SingleCommandsReportTheirResults)
{
    OpenOn("AT89S4051,timing=instant");
    Choose("AT89S4051");
    sim->Chip().PresetCode(0x0123, 0x45);

    size_t from = statuses.size();
    window->btnBlank->click();
    EXPECT_EQ(StatusesSince(from), (std::vector<std::string>{"Blank Check...", "PROGRAM MODE.", "Not blank chip!!!"}));

    from = statuses.size();
    window->btnErase->click();
    EXPECT_EQ(StatusesSince(from), (std::vector<std::string>{"Erase Chip...", "PROGRAM MODE.", "Erase finished."}));
    EXPECT_EQ(sim->Chip().CodeByte(0x0123), 0xFF);
    window->btnBlank->click();
    EXPECT_EQ(statuses.back(), "Blank chip [OK]");
    EXPECT_EQ(window->ProgressBar1->value(), 100);

    LoadHex(HexText({{0x10, {0xAA, 0xBB, 0xCC}}}));
    from = statuses.size();
    window->btnProgram->click();
    EXPECT_EQ(StatusesSince(from), (std::vector<std::string>{"Programming...", "Program finished."}));
    EXPECT_EQ(sim->Chip().CodeByte(0x11), 0xBB);

    from = statuses.size();
    window->btnVerify->click();
    EXPECT_EQ(StatusesSince(from), (std::vector<std::string>{"Verify Code...", "PROGRAM MODE.", "Verify complete."}));
    sim->Chip().PresetCode(0x0FFF, 0x00);
    window->btnVerify->click();
    EXPECT_EQ(statuses.back(), "Verify not match");

    // The key button at level 0 writes nothing.
    from = statuses.size();
    window->SpeedButton1->click();
    EXPECT_EQ(StatusesSince(from), (std::vector<std::string>{"Non Lock bit function"}));
    EXPECT_FALSE(sim->Chip().LockBit(1));
    SetLockLevel(3);
    window->SpeedButton1->click();
    EXPECT_EQ(statuses.back(), "Lock bit level 3");
    EXPECT_TRUE(sim->Chip().LockBit(3));

    // WR writes the fuse from the box, without a status text.
    window->chk_x2Clock->setChecked(true);
    from = statuses.size();
    window->btnFuse_Write->click();
    EXPECT_TRUE(sim->Chip().X2Clock());
    EXPECT_EQ(statuses.size(), from);
}

TEST_F(CommandTest, ProgramWritesFuseAndLockForFuseDevices)
{
    OpenOn("AT89S8253,timing=instant");
    Choose("AT89S8253");
    LoadHex(HexText({{0x2F00, {0x01, 0x02}}}));
    SetLockLevel(1);
    const size_t from = statuses.size();
    window->btnProgram->click();
    EXPECT_EQ(StatusesSince(from), (std::vector<std::string>{"Programming...", "Program finished.", "Lock bit level 1"}));
    EXPECT_EQ(sim->Chip().CodeByte(0x2F01), 0x02);
    EXPECT_TRUE(sim->Chip().LockBit(1));
    EXPECT_EQ(sim->Chip().Counters().fuseWrites, 1u); // the unticked box: x2 clock off
    EXPECT_FALSE(sim->Chip().X2Clock());
    EXPECT_TRUE(ProgramLines()); // PROGRAM switches no mode
}

TEST_F(CommandTest, ReadChipThenProgramWithAndWithoutAutoReload)
{
    OpenOn("AT89S8252,timing=instant");
    LoadHex(HexText({{0x0000, {0x11, 0x22}}}));
    // The chip holds other code; reading it fills the buffer.
    sim->Chip().PresetCode(0x0000, 0x99);
    sim->Chip().PresetCode(0x0100, 0x77);
    size_t from = statuses.size();
    window->btnReadChip->click();
    EXPECT_EQ(StatusesSince(from), (std::vector<std::string>{"Read Chip...", "PROGRAM MODE.", "Read Chip finished"}));
    EXPECT_EQ(Byte(0x0000), "99");
    EXPECT_EQ(Byte(0x0100), "77");
    EXPECT_EQ(Cell(0x0100), QStringLiteral("77"));

    // With Auto Reload the file is programmed, not the bytes just read.
    window->btnErase->click();
    window->btnProgram->click();
    EXPECT_EQ(sim->Chip().CodeByte(0x0000), 0x11);
    EXPECT_EQ(sim->Chip().CodeByte(0x0100), 0xFF);

    // Without it, the buffer as read is programmed.
    window->btnReadChip->click();
    PutByte(window->Buffer(), 0x0200, 0x5A);
    window->AutoReloadFile1->trigger();
    window->btnErase->click();
    window->btnProgram->click();
    EXPECT_EQ(sim->Chip().CodeByte(0x0000), 0x11);
    EXPECT_EQ(sim->Chip().CodeByte(0x0200), 0x5A);
}

TEST_F(CommandTest, ReadChipSetsLockBoxesAndX2ClockFromTheChip)
{
    OpenOn("AT89S8253,timing=instant");
    Choose("AT89S8253");
    sim->Chip().PresetLockBits(false, true, false); // a gap: LB2 alone
    sim->Chip().PresetX2Clock(true);
    window->ReadChip1->trigger();
    EXPECT_TRUE(window->chkLock1->isChecked());
    EXPECT_TRUE(window->chkLock2->isChecked());
    EXPECT_FALSE(window->chkLock3->isChecked());
    EXPECT_EQ(window->Chosen().Locks.LockLevel, 2);
    EXPECT_TRUE(window->chk_x2Clock->isChecked());

    // The AT89S52 tells its lock bits the other way round; no fuse.
    Choose("AT89S52");
    window->chk_x2Clock->setChecked(false);
    std::string error;
    auto s52 = MakeSimPort("AT89S52,timing=instant", error);
    s52->Chip().PresetLockBits(true, true, true);
    window->Link().Port = s52.get();
    window->btnReadChip->click();
    EXPECT_EQ(window->Chosen().Locks.LockLevel, 3);
    EXPECT_TRUE(window->chkLock3->isChecked());
    EXPECT_FALSE(window->chk_x2Clock->isChecked());
    window->Link().Port = sim.get();
}

TEST_F(CommandTest, LockBoxRulesInTheWindow)
{
    OpenOn("AT89S8252,timing=instant");
    TfrmMain& w = *window;
    auto state = [&] {
        return std::string{w.chkLock1->isChecked() ? '1' : '0', w.chkLock2->isChecked() ? '1' : '0',
                           w.chkLock3->isChecked() ? '1' : '0'} + " L" + std::to_string(w.Chosen().Locks.LockLevel);
    };
    w.chkLock3->click();
    EXPECT_EQ(state(), "111 L3");
    w.chkLock3->click();
    EXPECT_EQ(state(), "110 L2");
    w.chkLock1->click();
    EXPECT_EQ(state(), "000 L0");
    w.chkLock2->click();
    EXPECT_EQ(state(), "110 L2");
    w.chkLock2->click();
    EXPECT_EQ(state(), "100 L1");
}

// --- Mended faults -------------------------------------------------------

TEST_F(CommandTest, ACommandRunningIgnoresClicksThatWouldStartAnother)
{
    OpenOn("AT89S8252,timing=instant");
    LoadHex(HexText(Program(0x1FFF)));
    int clicked = 0;
    window->WindowHooks().Status = [&](const QString& text) {
        statuses.push_back(text.toStdString());
        if (text == QStringLiteral("Programming...")) {
            // Clicks that arrive while the command runs: directly and queued.
            ++clicked;
            window->btnErase->click();
            window->btnBlank->click();
            window->AT89S521->trigger();
            window->LPT21->trigger();
            window->btnMode->click();
            QTimer::singleShot(0, window->btnReadChip, &QPushButton::click);
        }
    };
    const size_t from = statuses.size();
    window->btnAuto->click();
    QApplication::processEvents();
    EXPECT_EQ(clicked, 1);
    EXPECT_EQ(StatusesSince(from),
              (std::vector<std::string>{"PROGRAM MODE.", "Erase Chip...", "Programming...", "Program finished.",
                                        "Verify code ...", "Verify complete.", "Auto Programming finished.",
                                        "RUN MODE."}));
    EXPECT_EQ(sim->Chip().Counters().erases, 1u);
    EXPECT_EQ(window->Chosen().DeviceCode, 3);
    EXPECT_TRUE(window->AT89S82521->isChecked());
    EXPECT_EQ(window->Link().DataPort, 0x378);
    EXPECT_FALSE(window->Busy());
    // Afterwards the window takes commands again.
    window->btnMode->click();
    EXPECT_EQ(window->Link().ProgramMode, -1);
}

TEST_F(CommandTest, ClosingDuringACommandWaitsForItsEnd)
{
    OpenOn("AT89S8252,timing=instant");
    window->show();
    LoadHex(HexText(Program(0x1FFF)));
    window->WindowHooks().Status = [&](const QString& text) {
        statuses.push_back(text.toStdString());
        if (text == QStringLiteral("Programming..."))
            window->close();
    };
    window->AutoRUNafterprogram1->trigger(); // stay in program mode, so the close shows
    window->btnAuto->click();
    EXPECT_EQ(sim->Chip().CodeByte(0x1FFF), 0x34); // the run was not cut short
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(statuses.back(), "RUN MODE.");
    EXPECT_TRUE(RunLines());
}

TEST_F(CommandTest, ExitDuringACommandWaitsForItsEnd)
{
    OpenOn("AT89S52,timing=instant");
    Choose("AT89S52");
    window->show();
    LoadHex(HexText(Program(0x1FFF)));
    SetLockLevel(3);
    window->WindowHooks().Status = [&](const QString& text) {
        statuses.push_back(text.toStdString());
        if (text == QStringLiteral("Verify code ...")) {
            window->Exit2->trigger();
            EXPECT_TRUE(ProgramLines()); // reset still held for the verify
        }
    };
    window->btnAuto->click();
    EXPECT_EQ(sim->Chip().LockMode(), 4); // verify and the lock steps ran to their end
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(RunLines());
}

TEST_F(CommandTest, NoDeviceNoChipAccess)
{
    OpenOn("AT89S8252,timing=instant");
    LoadHex(HexText(Program(0x1FFF)));
    window->cmbDevice->setEditText(QStringLiteral("AT89X"));
    EXPECT_EQ(window->Chosen().DeviceCode, -1);
    for (int n = 0; n < 7; ++n)
        EXPECT_FALSE(window->DeviceMenuItem(n)->isChecked());
    EXPECT_FALSE(window->btnFuse_Write->isEnabled());
    const uint8_t lines = DataLines();
    const size_t from = statuses.size();
    SetLockLevel(1);
    for (QAbstractButton* button : std::initializer_list<QAbstractButton*>{
             window->btnErase, window->btnBlank, window->btnProgram, window->btnVerify, window->btnAuto,
             window->btnReadChip, window->SpeedButton1})
        button->click();
    window->btnFuse_Write->setEnabled(true); // even if it could be clicked
    window->btnFuse_Write->click();
    EXPECT_EQ(StatusesSince(from), std::vector<std::string>(8, "No device selected"));
    EXPECT_EQ(sim->Chip().Counters().instructions, 0u);
    EXPECT_EQ(DataLines(), lines);

    // LOAD FILE still loads, without a size check.
    LoadHex(HexText({{0x3000, {0x01}}}));
    EXPECT_EQ(statuses.back(), "Load file complete.");
    EXPECT_EQ(beeps, 0);

    // Typing a device's name selects it again.
    window->cmbDevice->setEditText(QStringLiteral("at89s2051"));
    EXPECT_EQ(window->Chosen().DeviceCode, 5);
    EXPECT_TRUE(window->AT89S20511->isChecked());
    EXPECT_TRUE(window->btnFuse_Write->isEnabled());
}

TEST_F(CommandTest, RefusedOperationEndsTheCommandWithOneMessage)
{
    OpenOn("AT89S8252,timing=instant,fault=nocable");
    LoadHex(HexText(Program(0x1FFF)));
    SetLockLevel(2);
    size_t from = statuses.size();
    window->btnProgram->click();
    EXPECT_EQ(StatusesSince(from), (std::vector<std::string>{"Programming...", "Device have not in program mode"}));
    EXPECT_EQ(messages, (QStringList{"Device have not in program mode"}));

    from = statuses.size();
    window->btnAuto->click();
    EXPECT_EQ(StatusesSince(from), (std::vector<std::string>{"PROGRAM MODE.", "Erase Chip...",
                                                             "Device have not in program mode",
                                                             "Auto programming fail"}));
    EXPECT_EQ(messages.size(), 2); // one per command
    EXPECT_EQ(sim->Chip().Counters().instructions, 0u);
}

TEST_F(CommandTest, SilentChipFailsTheAutoSequenceBeforeItsFirstWrite)
{
    OpenOn("AT89S51,timing=instant,fault=noenable");
    Choose("AT89S51");
    sim->Chip().PresetCode(0x0040, 0x12);
    LoadHex(HexText(Program(0x0FFF)));
    const size_t from = statuses.size();
    window->btnAuto->click();
    EXPECT_EQ(StatusesSince(from), (std::vector<std::string>{"PROGRAM MODE.", "Erase Chip...",
                                                             "Device have not in program mode",
                                                             "Auto programming fail"}));
    EXPECT_EQ(sim->Chip().CodeByte(0x0040), 0x12);
    EXPECT_EQ(messages, (QStringList{"Device have not in program mode"}));
}

TEST_F(CommandTest, ProgrammingTimeOutWritesNoFuseOrLock)
{
    OpenOn("AT89S2051,timing=instant,weak=0x0010");
    Choose("AT89S2051");
    LoadHex(HexText(Program(0x07FF)));
    SetLockLevel(3);
    size_t from = statuses.size();
    window->btnProgram->click();
    EXPECT_EQ(StatusesSince(from), (std::vector<std::string>{"Programming...", "Programming Time-Out"}));
    EXPECT_EQ(messages, (QStringList{"Programming Time-Out"}));
    EXPECT_EQ(sim->Chip().Counters().fuseWrites, 0u);
    EXPECT_FALSE(sim->Chip().LockBit(1));

    from = statuses.size();
    window->btnAuto->click();
    EXPECT_EQ(StatusesSince(from), (std::vector<std::string>{"PROGRAM MODE.", "Erase Chip...", "Programming...",
                                                             "Programming Time-Out", "Auto programming fail"}));
    EXPECT_FALSE(sim->Chip().LockBit(1));
    EXPECT_TRUE(ProgramLines());
}

TEST_F(CommandTest, ReloadThatCannotRunEndsTheCommandBeforeTheChip)
{
    OpenOn("AT89S8252,timing=instant");
    sim->Chip().PresetCode(0x0000, 0x55);
    // No file chosen yet: PROGRAM with Auto Reload has nothing to reload.
    size_t from = statuses.size();
    window->btnProgram->click();
    EXPECT_EQ(messages, (QStringList{"The file name does not indentify!!"}));
    EXPECT_EQ(StatusesSince(from), (std::vector<std::string>{"Programming...", "Load file failed."}));

    // A file that became invalid after loading stops AUTO-PROGRAM before
    // the erase.
    LoadHex(HexText(Program(0x1FFF)), "app.hex");
    WriteFile("app.hex", ":0300100011\r\n");
    from = statuses.size();
    window->btnAuto->click();
    EXPECT_EQ(StatusesSince(from), (std::vector<std::string>{"PROGRAM MODE.", "Auto programming fail"}));
    EXPECT_EQ(sim->Chip().Counters().instructions, 0u);
    EXPECT_EQ(sim->Chip().CodeByte(0x0000), 0x55);
}

TEST_F(CommandTest, EveryStatusAndMessageGoesToTheOperationLog)
{
    OpenOn("AT89S8252,timing=instant,fault=nocable");
    ::testing::internal::CaptureStderr();
    window->btnErase->click();
    const std::string log = ::testing::internal::GetCapturedStderr();
    // "HH:MM:SS text", one line each.
    std::vector<std::string> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 5u) << log;
    EXPECT_EQ(lines[0].substr(8), " Erase Chip...");
    EXPECT_EQ(lines[1].substr(8),
              " The AT89S8252 has no serial signature: the chip on the cable cannot be checked against it");
    EXPECT_EQ(lines[2].substr(8), " message: Device have not in program mode");
    EXPECT_EQ(lines[3].substr(8), " Device have not in program mode");
    EXPECT_EQ(lines[4].substr(9, 40), "The program-mode sense line read low: no");
    EXPECT_EQ(lines[0][2], ':');
}

} // namespace
} // namespace qvx::test
