// Commands that end honestly: success texts only once the chip has finished
// its writes, on chips that take their datasheet time (virtual clock) or
// never finish; and the target crystal setting, which the clock floor of
// every command follows and which is remembered between runs.
#include "CommandFixture.h"
#include "Settings.h"


namespace qvx::test {
namespace {

class CompletionTest : public CommandTest {
protected:
    // Records whether the chip was still busy each time `text` was shown.
    void WatchBusyAt(const std::string& text)
    {
        window->WindowHooks().Status = [this, text](const QString& shown) {
            statuses.push_back(shown.toStdString());
            if (shown.toStdString() == text)
                busyAt.push_back(sim->Chip().Busy());
        };
    }
    std::vector<bool> busyAt;
};

TEST_F(CompletionTest, EraseFinishedOnlyOnceTheChipHasErased)
{
    OpenOn("AT89S52,timing=virtual");
    Choose("AT89S52");
    sim->Chip().PresetCode(std::vector<uint8_t>(0x2000, 0x00));
    WatchBusyAt("Erase finished.");
    const int64_t start = sim->Chip().NowNs();
    const size_t from = statuses.size();
    window->btnErase->click();
    EXPECT_EQ(StatusesSince(from), (std::vector<std::string>{"Erase Chip...", "PROGRAM MODE.", "Erase finished."}));
    EXPECT_EQ(busyAt, std::vector<bool>{false});
    EXPECT_GE(sim->Chip().NowNs() - start, 500'000'000); // the AT89S52's chip erase
    EXPECT_EQ(sim->Chip().CodeByte(0x1FFF), 0xFF);
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(CompletionTest, AnEraseThatNeverEndsIsReportedAsFailed)
{
    OpenOn("AT89S8252,timing=virtual,fault=busyerase");
    const size_t from = statuses.size();
    window->btnErase->click();
    EXPECT_EQ(StatusesSince(from), (std::vector<std::string>{"Erase Chip...", "PROGRAM MODE.", "Erase failed"}));
    EXPECT_EQ(messages, QStringList{QStringLiteral("Chip erase did not complete")});
    EXPECT_TRUE(ProgramLines());
    EXPECT_TRUE(ChipControlsEnabled());

    // AUTO-PROGRAM stops after the erase: nothing is programmed.
    LoadHex(HexText(Program(0x1FFF)));
    const size_t autoFrom = statuses.size();
    window->btnAuto->click();
    EXPECT_EQ(StatusesSince(autoFrom),
              (std::vector<std::string>{"PROGRAM MODE.", "Erase Chip...", "Erase failed", "Auto programming fail"}));
    EXPECT_EQ(messages.size(), 2);
    EXPECT_EQ(sim->Chip().Counters().codeWrites, 0u);
    EXPECT_TRUE(ProgramLines());
}

TEST_F(CompletionTest, AutoProgramOnChipsThatTakeTheirDatasheetTime)
{
    // No calibrated waits at all (CONFIG.QVX of zeros): each step finds the
    // chip done with the last one, and run mode comes after the lock bits
    // have landed.
    const std::vector<std::string> kAutoWithLock2 = {
        "PROGRAM MODE.",    "Erase Chip...",    "Programming...",             "Program finished.", "Verify code ...",
        "Verify complete.", "Lock bit level 2", "Auto Programming finished.", "RUN MODE.",
    };
    for (const char* device : {"AT89S52", "AT89S8252", "AT89S8253"}) {
        SCOPED_TRACE(device);
        OpenOn(std::string(device) + ",timing=virtual");
        Choose(device);
        const int32_t last = window->Chosen().SelectedDevice()->LastAddress;
        sim->Chip().PresetCode(std::vector<uint8_t>(last + 1, 0x00)); // old data, all of it
        LoadHex(HexText(Program(last)));
        SetLockLevel(2);
        window->chk_x2Clock->setChecked(true);
        WatchBusyAt("RUN MODE.");
        const size_t from = statuses.size();
        window->btnAuto->click();
        EXPECT_EQ(StatusesSince(from), kAutoWithLock2);
        EXPECT_TRUE(messages.isEmpty()) << messages.join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(busyAt, std::vector<bool>{false});
        EXPECT_TRUE(sim->Chip().LockBit(1) && sim->Chip().LockBit(2) && !sim->Chip().LockBit(3));
        EXPECT_EQ(sim->Chip().X2Clock(), std::string(device) == "AT89S8253");
        EXPECT_EQ(sim->Chip().CodeByte(last - 1), 0x12);
        EXPECT_EQ(sim->Chip().CodeByte(last / 2 - 1), 0xFF);
        EXPECT_TRUE(RunLines());
        busyAt.clear();
        window.reset();
    }
}

TEST_F(CompletionTest, FuseWritesThatDoNotLandSayFailed)
{
    // A byte write cycle that never ends: the chip ignores every later write.
    OpenOn("AT89S8253,timing=virtual,fault=busy");
    Choose("AT89S8253");
    LoadHex(HexText({{0x0000, {0x42}}}));
    size_t from = statuses.size();
    window->btnProgram->click();
    EXPECT_EQ(StatusesSince(from), (std::vector<std::string>{"Programming...", "Programming Time-Out"}));

    from = statuses.size();
    window->btnFuse_Write->click();
    EXPECT_EQ(StatusesSince(from), (std::vector<std::string>{"Fuse write failed"}));
    EXPECT_EQ(messages.back(), QStringLiteral("Fuse write did not complete"));

    SetLockLevel(1);
    from = statuses.size();
    window->SpeedButton1->click();
    EXPECT_EQ(StatusesSince(from), (std::vector<std::string>{"Lock bit write failed"}));
    EXPECT_EQ(messages.back(), QStringLiteral("Lock bit write did not complete"));
    EXPECT_FALSE(sim->Chip().LockBit(1));
}

// --- Target crystal ---------------------------------------------------------

class CrystalTest : public CommandTest {
protected:
    CrystalTest() { ForgetCrystal(); }
    ~CrystalTest() override { ForgetCrystal(); }
    static void ForgetCrystal()
    {
        SettingsFile settings;
        settings.Load();
        settings.Remove(kCrystalKey);
        settings.Save();
    }
    // Opens the window with the crystal dialog answering `answer`.
    TfrmMain& OpenAnswering(const std::string& options)
    {
        TfrmMain& w = OpenOn(options);
        w.WindowHooks().AskCrystal = [this](const QStringList& choices, const QString& current) {
            offered = choices;
            preselected = current;
            return answer;
        };
        return w;
    }
    std::optional<QString> answer;
    QStringList offered;
    QString preselected;
};

TEST_F(CrystalTest, ChosenFromTheOptionMenuAndRememberedForTheNextRun)
{
    TfrmMain& w = OpenAnswering("AT89S8252,timing=instant");
    EXPECT_EQ(w.Link().CrystalHz, 11'059'200u); // the default
    answer = QStringLiteral("12 MHz");
    w.TargetCrystal1->trigger();
    EXPECT_EQ(preselected, QStringLiteral("11.0592 MHz"));
    EXPECT_TRUE(offered.contains(QStringLiteral("11.0592 MHz")));
    EXPECT_TRUE(offered.contains(QStringLiteral("3.579545 MHz")));
    EXPECT_TRUE(offered.contains(QStringLiteral("24 MHz")));
    EXPECT_EQ(w.Link().CrystalHz, 12'000'000u);
    EXPECT_TRUE(messages.isEmpty());

    // The next run starts with it, and offers it preselected.
    window.reset();
    TfrmMain& again = OpenAnswering("AT89S8252,timing=instant");
    EXPECT_EQ(again.Link().CrystalHz, 12'000'000u);
    answer = std::nullopt; // cancelled: nothing changes
    again.TargetCrystal1->trigger();
    EXPECT_EQ(preselected, QStringLiteral("12 MHz"));
    EXPECT_EQ(again.Link().CrystalHz, 12'000'000u);

    // A value typed in that is not among the common ones.
    answer = QStringLiteral(" 3579.545 kHz ");
    again.TargetCrystal1->trigger();
    EXPECT_EQ(again.Link().CrystalHz, 3'579'545u);
    answer = QStringLiteral("18,432");
    again.TargetCrystal1->trigger();
    EXPECT_EQ(again.Link().CrystalHz, 18'432'000u);
    window.reset();
    TfrmMain& third = OpenAnswering("AT89S8252,timing=instant");
    EXPECT_EQ(third.Link().CrystalHz, 18'432'000u);
}

TEST_F(CrystalTest, WhatIsNoCrystalIsRefusedWithAMessage)
{
    TfrmMain& w = OpenAnswering("AT89S8252,timing=instant");
    for (const char* typed : {"fast", "0", "500 kHz", "100 MHz", "12 GHz", "-12", "", "1.2.3"}) {
        SCOPED_TRACE(typed);
        messages.clear();
        answer = QString::fromLatin1(typed);
        w.TargetCrystal1->trigger();
        ASSERT_EQ(messages.size(), 1);
        EXPECT_TRUE(messages[0].contains(QStringLiteral("no crystal frequency"))) << messages[0].toStdString();
        EXPECT_TRUE(messages[0].contains(QStringLiteral("11.0592 MHz")));
        EXPECT_EQ(w.Link().CrystalHz, 11'059'200u);
    }
    window.reset();
    EXPECT_EQ(OpenAnswering("AT89S8252,timing=instant").Link().CrystalHz, 11'059'200u);

    // Nor does a settings file that holds no frequency.
    window.reset();
    SettingsFile().Update(kCrystalKey, "lots");
    EXPECT_EQ(OpenAnswering("AT89S8252,timing=instant").Link().CrystalHz, 11'059'200u);
}

TEST_F(CrystalTest, TheClockFloorOfEveryCommandFollowsTheSetting)
{
    // A port answering in 50 ns: only the floor keeps SCK slow enough for
    // the AT89S8252 on its 12 MHz board.
    TfrmMain& w = OpenAnswering("AT89S8252,timing=virtual,iodelay=50");
    LoadHex(HexText(Program(0x1FFF)));
    answer = QStringLiteral("12 MHz");
    w.TargetCrystal1->trigger();
    size_t from = statuses.size();
    w.btnAuto->click();
    EXPECT_EQ(statuses.back(), "RUN MODE.");
    EXPECT_EQ(sim->Chip().Counters().misSampled, 0u);
    EXPECT_EQ(sim->Chip().CodeByte(0x1FFE), 0x12);

    // Told the board had 40 MHz, the commands clock the chip too fast for it.
    w.btnMode->click(); // back to program mode
    answer = QStringLiteral("40");
    w.TargetCrystal1->trigger();
    ASSERT_EQ(w.Link().CrystalHz, 40'000'000u);
    from = statuses.size();
    w.btnVerify->click();
    EXPECT_EQ(StatusesSince(from), (std::vector<std::string>{"Verify Code...", "PROGRAM MODE.", "Verify not match"}));
    EXPECT_GT(sim->Chip().Counters().misSampled, 0u);
}

TEST(CrystalText, ReadsAndWritesFrequencies)
{
    EXPECT_EQ(CrystalText(11'059'200), QStringLiteral("11.0592 MHz"));
    EXPECT_EQ(CrystalText(12'000'000), QStringLiteral("12 MHz"));
    EXPECT_EQ(CrystalText(3'579'545), QStringLiteral("3.579545 MHz"));
    EXPECT_EQ(ParseCrystal(QStringLiteral("11.0592")), 11'059'200u);
    EXPECT_EQ(ParseCrystal(QStringLiteral("11.0592 MHz")), 11'059'200u);
    EXPECT_EQ(ParseCrystal(QStringLiteral("24mhz")), 24'000'000u);
    EXPECT_EQ(ParseCrystal(QStringLiteral("11059200")), 11'059'200u);
    EXPECT_EQ(ParseCrystal(QStringLiteral("11059200 Hz")), 11'059'200u);
    EXPECT_EQ(ParseCrystal(QStringLiteral("1 MHz")), 1'000'000u);
    EXPECT_EQ(ParseCrystal(QStringLiteral("40 MHz")), 40'000'000u);
    EXPECT_EQ(ParseCrystal(QStringLiteral("40.1 MHz")), std::nullopt);
    EXPECT_EQ(ParseCrystal(QStringLiteral("999 kHz")), std::nullopt);
    EXPECT_EQ(ParseCrystal(QStringLiteral("MHz")), std::nullopt);
    for (uint32_t hz : kCommonCrystalsHz)
        EXPECT_EQ(ParseCrystal(CrystalText(hz)), hz);
}

} // namespace
} // namespace qvx::test
