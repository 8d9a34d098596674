// CONFIG.QVX, read from real files in the working directory.
#include "Config.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <unistd.h>

namespace qvx {
namespace {

namespace fs = std::filesystem;

class ConfigFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = fs::current_path();
        fs::current_path(dir_);
    }
    void TearDown() override
    {
        fs::current_path(saved_);
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

    test::TempDir scratch_;
    fs::path saved_, dir_ = scratch_.path();
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

// Sets or unsets an environment variable for the life of the object.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnvironment()
    {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

// The search for CONFIG.QVX: working directory, user's folder, installed
// copy, with HOME and XDG_CONFIG_HOME pointing into the test's folder.
class ConfigSearch : public ConfigFile {
protected:
    fs::path Home() const { return dir_ / "home"; }
    fs::path Xdg() const { return dir_ / "xdg"; }
    fs::path Data() const { return dir_ / "data"; }
    std::string Place(const fs::path& folder) const { return (folder / "CONFIG.QVX").string(); }
    void WriteAt(const std::string& place, const std::string& text)
    {
        fs::create_directories(fs::path(place).parent_path());
        std::ofstream(place, std::ios::binary) << text;
    }

    void SetUp() override
    {
        ConfigFile::SetUp();
        home_.emplace("HOME", Home().c_str());
        xdg_.emplace("XDG_CONFIG_HOME", Xdg().c_str());
    }
    void TearDown() override
    {
        xdg_.reset();
        home_.reset();
        ConfigFile::TearDown();
    }

    std::optional<ScopedEnvironment> home_, xdg_;
};

TEST_F(ConfigSearch, WorkingDirectoryThenTheUsersFolderThenTheInstalledCopy)
{
    EXPECT_EQ(ConfigSearchPlaces(Data().string()),
              (std::vector<std::string>{Place(dir_), Place(Xdg() / "qvx-isp"), Place(Data())}));

    // Without a usable XDG_CONFIG_HOME, ~/.config.
    const std::vector<std::string> withHome{Place(dir_), Place(Home() / ".config" / "qvx-isp"), Place(Data())};
    for (const char* xdg : {static_cast<const char*>(nullptr), "", "relative/config"}) {
        ScopedEnvironment unusable("XDG_CONFIG_HOME", xdg);
        EXPECT_EQ(ConfigSearchPlaces(Data().string()), withHome) << (xdg ? xdg : "unset");
    }

    // Neither: no user's folder to look in.
    ScopedEnvironment noXdg("XDG_CONFIG_HOME", nullptr);
    ScopedEnvironment noHome("HOME", nullptr);
    EXPECT_EQ(ConfigSearchPlaces(Data().string()), (std::vector<std::string>{Place(dir_), Place(Data())}));
}

TEST_F(ConfigSearch, TheFirstPlaceThatExistsIsRead)
{
    const std::vector<std::string> places = ConfigSearchPlaces(Data().string());
    int32_t v[5] = {9, 9, 9, 9, 9};
    std::string found;

    WriteAt(places[2], "[0003][0004]");
    EXPECT_EQ(ReadFirstConfig(places, v, found), "");
    EXPECT_EQ(found, places[2]);
    EXPECT_EQ(std::vector<int32_t>(v, v + 5), (std::vector<int32_t>{3, 4, 0, 0, 0}));

    WriteAt(places[1], "[0002]");
    EXPECT_EQ(ReadFirstConfig(places, v, found), "");
    EXPECT_EQ(found, places[1]);
    EXPECT_EQ(std::vector<int32_t>(v, v + 5), (std::vector<int32_t>{2, 0, 0, 0, 0}));

    Write("[0001][0001][0001]");
    EXPECT_EQ(FindConfig(places), places[0]);
    EXPECT_EQ(ReadFirstConfig(places, v, found), "");
    EXPECT_EQ(found, places[0]);
    EXPECT_EQ(std::vector<int32_t>(v, v + 5), (std::vector<int32_t>{1, 1, 1, 0, 0}));
}

TEST_F(ConfigSearch, NowhereNamesEveryPlaceLookedAt)
{
    const std::vector<std::string> places = ConfigSearchPlaces(Data().string());
    EXPECT_EQ(FindConfig(places), "");
    int32_t v[5] = {9, 9, 9, 9, 9};
    std::string found = "stale";
    EXPECT_EQ(ReadFirstConfig(places, v, found), "Cannot find the configuration file CONFIG.QVX. Looked for:\n" +
                                                     places[0] + "\n" + places[1] + "\n" + places[2]);
    EXPECT_EQ(found, "");
    EXPECT_EQ(std::vector<int32_t>(v, v + 5), (std::vector<int32_t>{0, 0, 0, 0, 0}));
}

TEST_F(ConfigSearch, AFileThatCannotBeReadEndsTheSearch)
{
    const std::vector<std::string> places = ConfigSearchPlaces(Data().string());
    fs::create_directories(places[1]); // a folder named CONFIG.QVX
    WriteAt(places[2], "[0003]");
    int32_t v[5] = {9, 9, 9, 9, 9};
    std::string found;
    EXPECT_EQ(ReadFirstConfig(places, v, found),
              "Cannot read the configuration file " + places[1] + ": Is a directory");
    EXPECT_EQ(found, places[1]);
    EXPECT_EQ(std::vector<int32_t>(v, v + 5), (std::vector<int32_t>{0, 0, 0, 0, 0}));

    // A link to nothing is there too, and reported as missing.
    fs::create_directory_symlink(dir_ / "nowhere", dir_ / "CONFIG.QVX");
    EXPECT_EQ(ReadFirstConfig(places, v, found),
              "Cannot read the configuration file " + places[0] + ": No such file or directory");
}

TEST(ConfigProblems, ValuesMissingOrNotHexGetALineEachAndAreReadAsEver)
{
    // Sound values, and anything after the second, say nothing.
    EXPECT_TRUE(ConfigProblems("Timing [03E8]\nClock [0005]\n[zzzz]").empty());
    EXPECT_EQ(ConfigProblems(""), (std::vector<std::string>{"value 1 (the timing factor) is missing: it is 0",
                                                            "value 2 (the serial clock delay) is missing: it is 0"}));
    EXPECT_EQ(ConfigProblems("[0018] no second one"),
              std::vector<std::string>{"value 2 (the serial clock delay) is missing: it is 0"});
    EXPECT_EQ(ConfigProblems("[03e8]\n[0005]"),
              std::vector<std::string>{
                  "value 1 (the timing factor) \"03e8\" is not four upper-case hex digits: it counts as 760"});
    // A line break or the end of the file inside a field shows as its code.
    EXPECT_EQ(ConfigProblems("[0000]\n[00\n"),
              std::vector<std::string>{"value 2 (the serial clock delay) \"00\\x0A\\x1A\" is not four upper-case "
                                       "hex digits: it counts as -17"});
    int32_t values[5];
    ParseConfig("[03e8]\n[00\n", values);
    EXPECT_EQ(values[0], 760);
    EXPECT_EQ(values[1], -17) << "read as ever";

    // The file's path goes in front.
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("qvx-config-problems-" + std::to_string(::getpid())))
                                 .string();
    std::ofstream(path) << "[FFFF]";
    std::vector<std::string> problems;
    EXPECT_EQ(ReadConfigFile(path, values, &problems), "");
    EXPECT_EQ(problems, std::vector<std::string>{path + ": value 2 (the serial clock delay) is missing: it is 0"});
    std::filesystem::remove(path);
}

} // namespace
} // namespace qvx
