// A main window on a recording port, in a working directory of its own,
// with every modal place replaced: messages, the file dialog and the beep are
// recorded, and the wait calibration runs on a clock that ticks by count.
// CONFIG.QVX is looked for in the working directory, then in Dir()/config
// as the user's configuration folder (XDG_CONFIG_HOME), then in Dir()/share
// as the installed data folder.
#pragma once

#include "Cables.h"
#include "CodeBuffer.h"
#include "Config.h"
#include "HexView.h"
#include "ISP_S8252.h"
#include "RecordingPort.h"

#include <QDir>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <cstdlib>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include <unistd.h>

namespace qvx::test {

// A time of day that moves on one second every `perSecond` reads.
struct CountingClock {
    int perSecond = 5000;
    std::shared_ptr<long> reads = std::make_shared<long>(0);
    std::string operator()() const { return std::to_string((*reads)++ / perSecond); }
};

class WindowTest : public ::testing::Test {
protected:
    WindowTest()
    {
        previous_ = std::filesystem::current_path();
        std::string name = std::string("qvx-ui-") + std::to_string(::getpid()) + "-" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name() + "-" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name();
        // Parameterised tests are named "Prefix/Suite" and "Test/Case": one
        // folder, not nested ones that would be left behind.
        std::replace(name.begin(), name.end(), '/', '-');
        // Fontconfig, which the shown windows load, leaks what it reads of
        // the user's configuration folder (XDG_CONFIG_HOME, inside this one)
        // when that folder's path is long: a long test name is cut short,
        // and a hash of it keeps the folder the test's own.
        if (name.size() > 40) {
            char hash[17];
            std::snprintf(hash, sizeof hash, "%016zx", std::hash<std::string>{}(name));
            name = name.substr(0, 24) + "-" + hash;
        }
        dir_ = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        std::filesystem::current_path(dir_);
        if (const char* xdg = std::getenv("XDG_CONFIG_HOME"))
            previousXdg_ = xdg;
        ::setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
        // TimingFactor 1000 and ClockDelay 5.
        WriteFile("CONFIG.QVX", "Timing factor\n[03E8]\nClock delay\n[0005]\n");
    }
    ~WindowTest() override
    {
        window.reset();
        if (previousXdg_)
            ::setenv("XDG_CONFIG_HOME", previousXdg_->c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(dir_);
    }

    TfrmMain::Hooks Hooks()
    {
        TfrmMain::Hooks hooks;
        hooks.Message = [this](const QString& text) { messages << text; };
        hooks.OpenFile = [this]() -> std::optional<QString> {
            if (chosen.empty())
                return std::nullopt;
            const std::optional<QString> path = chosen.front();
            chosen.pop_front();
            return path;
        };
        hooks.Beep = [this] { ++beeps; };
        hooks.Clock = clock;
        hooks.ConfigPlaces = [this] { return ConfigSearchPlaces(InstalledFolder()); };
        // The first-run message is recorded as a message; the window closes
        // unless a test chooses another cable.
        hooks.FirstRun = [this](const QString& text) {
            messages << text;
            return chooseAnotherCable;
        };
        hooks.AskCable = [this](const Cable&, const QStringList& values) -> std::optional<QStringList> {
            asked << values;
            return cableAnswers.empty() ? std::nullopt : std::optional<QStringList>(cableAnswers.takeFirst());
        };
        hooks.SaveLog = []() -> std::optional<QString> { return std::nullopt; };
        hooks.AskWrongChip = [this](const QString& question, const QString&) {
            wrongChipQuestions << question;
            return wrongChipAnswer;
        };
        return hooks;
    }
    TfrmMain& Open() { return Open(port); }
    TfrmMain& Open(PortAccess& on)
    {
        window = std::make_unique<TfrmMain>(on, Hooks());
        return *window;
    }

    std::string WriteFile(const std::string& name, const std::string& text)
    {
        const std::filesystem::path path = dir_ / name;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }
    std::string Dir() const { return dir_.string(); }
    // What the first-run message says below the port's own diagnosis when
    // the working directory's CONFIG.QVX was read.
    QString FirstRunAdvice() const
    {
        return QStringLiteral("\n\nCables: the parallel port (LPT1, LPT2), FT232R USB cable, GPIO lines, Arduino as ISP, "
                              "USBasp. Choose "
                              "one from the Port menu (kept for the next start), for one run with qvx-isp --port "
                              "FORM, or with QVX_PORT=FORM; qvx-isp --help lists the forms.\nCONFIG.QVX read from ") +
               QString::fromStdString(Dir()) + QStringLiteral("/CONFIG.QVX");
    }
    // The installed data folder the window is told of.
    std::string InstalledFolder() const { return (dir_ / "share").string(); }
    static std::string Example(const std::string& file)
    {
        return std::string(QVX_SOURCE_DIR) + "/examples/" + file;
    }

    std::string Byte(int32_t address) const
    {
        return {window->Buffer().CodeHigh[address], window->Buffer().CodeLow[address]};
    }
    bool BufferCleared() const
    {
        for (int32_t a = 0; a < kBufferSize; ++a)
            if (Byte(a) != "FF")
                return false;
        return true;
    }
    // The grid's cell for a code address.
    QString Cell(int32_t address) const
    {
        return window->StringGrid1->CellText(address % 16 + 1, address / 16 + 1);
    }
    bool GridCleared() const
    {
        for (int32_t a = 0; a < kBufferSize; ++a)
            if (Cell(a) != QLatin1String("FF"))
                return false;
        return true;
    }

    RecordingPort port;
    CountingClock clock;
    QStringList messages;
    std::deque<std::optional<QString>> chosen; // answers of the file dialog; empty = cancel
    int beeps = 0;
    bool chooseAnotherCable = false;               // the first-run message's answer
    QList<QStringList> cableAnswers;               // a cable dialog's answers; none left = cancel
    QList<QStringList> asked;                      // what each cable dialog showed
    QStringList wrongChipQuestions;                          // what the wrong-chip box asked
    WrongChipChoice wrongChipAnswer = WrongChipChoice::Cancel; // and its answer
    std::unique_ptr<TfrmMain> window;

private:
    std::filesystem::path previous_, dir_;
    std::optional<std::string> previousXdg_;
};

} // namespace qvx::test
