// Shared helpers of the simulated-chip tests.
#pragma once

#include "SimPort.h"
#include "Wire.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

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

// A fresh, empty directory for one test's files, removed afterwards.
class TempDir {
public:
    TempDir()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = std::filesystem::temp_directory_path() /
                ("qvx-sim-" + std::to_string(::getpid()) + "-" + info->test_suite_name() + "-" + info->name());
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
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
