// A main window on the simulated cable and chip, for clicking the commands:
// records every status text in order, and writes HEX files to load.
#pragma once

#include "HexText.h"
#include "SimPort.h"
#include "WindowFixture.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QToolButton>

#include <sstream>

#include <map>
#include <vector>

namespace qvx::test {

class CommandTest : public WindowTest {
protected:
    CommandTest()
    {
        // No waits: the simulated chip finishes every cycle at once.
        WriteFile("CONFIG.QVX", "[0000]\n[0000]\n");
    }

    // Opens the window on a simulated chip with these options after "sim:".
    TfrmMain& OpenOn(const std::string& options)
    {
        std::string error;
        sim = MakeSimPort(options, error);
        EXPECT_NE(sim, nullptr) << error;
        sim->Chip().RecordTrace(true);
        TfrmMain& w = Open(*sim);
        w.WindowHooks().Status = [this](const QString& text) { statuses.push_back(text.toStdString()); };
        return w;
    }
    // Chooses a device from the Device menu.
    void Choose(const std::string& name)
    {
        window->DeviceMenuItem(DeviceCodeByName(name))->trigger();
    }
    // Loads HEX text through LOAD FILE.
    void LoadHex(const std::string& text, const std::string& name = "code.hex")
    {
        chosen.push_back(QString::fromStdString(WriteFile(name, text)));
        window->btnLoadFile->click();
    }
    void SetLockLevel(int level)
    {
        if (level == 0)
            window->chkLock1->setChecked(false);
        else
            window->LockCheckBox(level)->setChecked(true);
        ASSERT_EQ(window->Chosen().Locks.LockLevel, level);
    }
    // Statuses from the given one on.
    std::vector<std::string> StatusesSince(size_t from) const
    {
        return {statuses.begin() + std::min(from, statuses.size()), statuses.end()};
    }
    uint8_t DataLines() const { return sim->Register(sim->CableDataPort()); }
    bool ProgramLines() const { return (DataLines() & 0x98) == 0x10; } // RST high, run lines low
    bool RunLines() const { return (DataLines() & 0x98) == 0x88; }
    // How many of the nine controls that reach the chip take clicks.
    int ChipControlsTakingClicks() const
    {
        TfrmMain& w = *window;
        return w.btnLoadFile->isEnabled() + w.btnErase->isEnabled() + w.btnBlank->isEnabled() +
               w.btnProgram->isEnabled() + w.btnVerify->isEnabled() + w.btnAuto->isEnabled() +
               w.SpeedButton1->isEnabled() + w.ReadChip1->isEnabled() + w.btnReadChip->isEnabled();
    }
    bool ChipControlsEnabled() const { return ChipControlsTakingClicks() == 9; }
    bool ChipControlsDisabled() const { return ChipControlsTakingClicks() == 0; }

    std::unique_ptr<SimPort> sim;
    std::vector<std::string> statuses;
};

// A small program: bytes at 0000, in the middle and at the device's last
// address, with FF gaps between.
inline std::map<int32_t, std::vector<uint8_t>> Program(int32_t last)
{
    std::vector<uint8_t> start(40), middle(20);
    for (size_t i = 0; i < start.size(); ++i)
        start[i] = uint8_t(0x02 + i * 3);
    for (size_t i = 0; i < middle.size(); ++i)
        middle[i] = uint8_t(0xC0 ^ i);
    return {{0x0000, start}, {last / 2, middle}, {last - 1, {0x12, 0x34}}};
}

} // namespace qvx::test
