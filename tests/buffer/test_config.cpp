// CONFIG.QVX, read from real files in the working directory.
#include "Config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace qvx {
namespace {

namespace fs = std::filesystem;

class ConfigFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = fs::current_path();
        dir_ = fs::temp_directory_path() /
               ("qvx-config-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
        fs::current_path(dir_);
    }
    void TearDown() override
    {
        fs::current_path(saved_);
        fs::remove_all(dir_);
    }
    void Write(const std::string& text, const std::string& name = "CONFIG.QVX")
    {
        std::ofstream(dir_ / name, std::ios::binary) << text;
    }
    std::vector<int32_t> Read(std::string* error = nullptr)
    {
        int32_t v[5] = {9, 9, 9, 9, 9};
        const std::string e = ReadConfig(v[0], v[1], v[2], v[3], v[4], "CONFIG.QVX");
        if (error)
            *error = e;
        else
            EXPECT_EQ(e, "");
        return {v, v + 5};
    }

    fs::path saved_, dir_;
};

TEST_F(ConfigFile, TwoFieldsWithBracketsAndLineBreaks)
{
    Write("[03E8]\r\n[0005]\r\n");
    EXPECT_EQ(Read(), (std::vector<int32_t>{1000, 5, 0, 0, 0}));
}

TEST_F(ConfigFile, CommentsAndTextOutsideFieldsAreSkipped)
{
    Write("Timing factor and clock delay for the ISP cable\n"
          "factor: [0BB8] (thousandths)\nclock ]]] [0002]\n[0003][0004][0005][0006]\n");
    EXPECT_EQ(Read(), (std::vector<int32_t>{3000, 2, 3, 4, 5})); // the sixth is ignored
}

TEST_F(ConfigFile, FourCharactersAreTakenWhateverTheyAre)
{
    Write("[03e8]");
    EXPECT_EQ(Read()[0], 760); // 0*4096 + 3*256 + (-1)*16 + 8

    Write("[00[1][0002]"); // the "[" inside the first field is no field start
    EXPECT_EQ(Read(), (std::vector<int32_t>{-15, 2, 0, 0, 0}));
}

TEST_F(ConfigFile, EndOfFileCharacterEndsTheFile)
{
    Write("[03E8][00");
    EXPECT_EQ(Read(), (std::vector<int32_t>{1000, -17, 0, 0, 0})); // two missing digits count -1 each

    Write(std::string("[0001]\x1a[0002]"));
    EXPECT_EQ(Read(), (std::vector<int32_t>{1, 0, 0, 0, 0}));

    Write(std::string("[00\x1a" "5]"));
    EXPECT_EQ(Read()[0], -1 * 16 - 1);
}

TEST_F(ConfigFile, FileWithoutFieldsGivesZeros)
{
    Write("no fields here\n");
    EXPECT_EQ(Read(), (std::vector<int32_t>{0, 0, 0, 0, 0}));
    Write("");
    EXPECT_EQ(Read(), (std::vector<int32_t>{0, 0, 0, 0, 0}));
}

TEST_F(ConfigFile, MissingFileNamesTheFullPathAndTheSystemError)
{
    std::string error;
    EXPECT_EQ(Read(&error), (std::vector<int32_t>{0, 0, 0, 0, 0}));
    EXPECT_NE(error.find((dir_ / "CONFIG.QVX").string()), std::string::npos) << error;
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
}

TEST_F(ConfigFile, UnreadableFileIsReported)
{
    fs::create_directory(dir_ / "CONFIG.QVX"); // opens, but cannot be read as a file
    std::string error;
    EXPECT_EQ(Read(&error), (std::vector<int32_t>{0, 0, 0, 0, 0}));
    EXPECT_NE(error.find("Is a directory"), std::string::npos) << error;
}

TEST_F(ConfigFile, ShippedConfigurationParses)
{
    const fs::path shipped = fs::path(QVX_SOURCE_DIR) / "CONFIG.QVX";
    ASSERT_TRUE(fs::exists(shipped));
    fs::copy_file(shipped, dir_ / "CONFIG.QVX");
    const std::vector<int32_t> v = Read();
    // No extra wait after writes (the program waits out each write cycle on
    // the clock) and no extra clock delay (the chip's SCK floor holds anyway).
    EXPECT_EQ(v[0], 0);
    EXPECT_EQ(v[1], 0);
    // Read from the file's five fields, not left at 0 for want of them.
    std::ifstream in(shipped);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(std::count(text.begin(), text.end(), '['), 5);
    EXPECT_NE(text.find("[0000]"), std::string::npos);
}

} // namespace
} // namespace qvx
