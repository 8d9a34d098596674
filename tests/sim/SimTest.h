// Shared helpers of the simulated-chip tests.
#pragma once

#include "SimPort.h"
#include "TempDir.h"
#include "Wire.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

namespace qvx::test {

inline std::unique_ptr<SimPort> OpenSim(const std::string& options)
{
    std::string error;
    std::unique_ptr<SimPort> port = MakeSimPort(options, error);
    EXPECT_NE(port, nullptr) << options << ": " << error;
    EXPECT_EQ(error, "");
    return port;
}

// The cable and chip with RST high and programming enabled, ready for instructions.
struct Session {
    explicit Session(const std::string& options) : port(OpenSim(options)), wire(*port) { wire.ResetPulse(); }
    sim::Chip& chip() { return port->Chip(); }
    std::unique_ptr<SimPort> port;
    Wire wire;
};

inline std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

} // namespace qvx::test
