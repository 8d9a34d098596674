// The command layer on the simulated chip with a front end that records
// what it is shown.
#pragma once

#include "Commands.h"
#include "SimPort.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include <unistd.h>

namespace qvx {

// A front end that records what it is shown, with hooks into the moments a
// status text is shown or the progress moves.
class RecordingView : public CommandView {
public:
    void ShowStatus(const std::string& text) override
    {
        statuses.push_back(text);
        if (onStatus)
            onStatus(text);
    }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void WriteLog(const std::string& line) override { log.push_back(line); }
    void SetProgress(int32_t position) override
    {
        if (onProgress)
            onProgress(position);
    }
    void Beep() override { ++beeps; }

    // The log lines without their time of day.
    std::vector<std::string> LogTexts() const
    {
        std::vector<std::string> texts;
        for (const std::string& line : log)
            texts.push_back(line.substr(9));
        return texts;
    }

    std::vector<std::string> statuses, messages, log;
    int beeps = 0;
    std::function<void(const std::string&)> onStatus;
    std::function<void(int32_t)> onProgress;
};

class CommandLayerTest : public ::testing::Test {
protected:
    void Open(const std::string& options)
    {
        std::string error;
        port = MakeSimPort(options, error);
        ASSERT_NE(port, nullptr) << error;
        link.Port = port.get();
        link.WaitUnits = 0;
        ClearBuffer(*buffer);
        selection.DeviceCode = DeviceCodeByName(port->Chip().Name());
        selection.AutoReload = false; // the buffer as it stands is programmed
        dir = std::filesystem::temp_directory_path() /
              ("qvx-commands-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
    }
    ~CommandLayerTest() override
    {
        if (!dir.empty())
            std::filesystem::remove_all(dir);
    }
    void Put(int32_t address, uint8_t byte)
    {
        buffer->CodeHigh[address] = HexDigitChar(byte >> 4);
        buffer->CodeLow[address] = HexDigitChar(byte & 0xF);
    }
    std::string File(const std::string& name, const std::string& bytes) const
    {
        std::ofstream((dir / name).string(), std::ios::binary) << bytes;
        return (dir / name).string();
    }
    static Commands::FileChooser Named(const std::string& path)
    {
        return [path]() -> std::optional<std::string> { return path; };
    }
    sim::Chip& Chip() { return port->Chip(); }

    std::unique_ptr<SimPort> port;
    LinkState link;
    std::unique_ptr<CodeBuffer> buffer = std::make_unique<CodeBuffer>();
    Selection selection;
    RecordingView view;
    Commands commands{link, *buffer, selection, view};
    std::filesystem::path dir;
};

} // namespace qvx
