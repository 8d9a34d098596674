// The command layer on the simulated chip with a front end that records
// what it is shown.
#pragma once

#include "Commands.h"
#include "RecordingView.h"
#include "SimPort.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include <unistd.h>

namespace qvx {

using test::RecordingView;

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
