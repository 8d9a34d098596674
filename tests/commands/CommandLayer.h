// The command layer on the simulated chip with a front end that records
// what it is shown.
#pragma once

#include "CommandBench.h"
#include "SimPort.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include <unistd.h>

namespace qvx {

using test::RecordingView;

class CommandLayerTest : public ::testing::Test, public test::CommandBench {
protected:
    void Open(const std::string& options)
    {
        std::string error;
        port = MakeSimPort(options, error);
        ASSERT_NE(port, nullptr) << error;
        link.Port = port.get();
        selection.DeviceCode = DeviceCodeByName(port->Chip().Name());
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
    test::TempDir scratch;
    std::filesystem::path dir = scratch.path();
};

} // namespace qvx
