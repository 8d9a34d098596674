// Code image files on disk: HEX written as the loader reads it, raw binary
// images, and the writer that replaces a file only once the new one is
// complete.
#include "BufferBytes.h"
#include "ImageFile.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qvx {
namespace {

namespace fs = std::filesystem;

class ImageFileTest : public ::testing::Test {
protected:
    ImageFileTest() { ClearBuffer(*buffer); }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    void Write(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(Path(name), std::ios::binary) << bytes;
    }
    static std::string Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    void Put(int32_t address, uint8_t byte) { test::PutByte(*buffer, address, byte); }
    // A pattern that differs from byte to byte and from record to record.
    void Fill(int32_t size)
    {
        for (int32_t a = 0; a < size; ++a)
            Put(a, uint8_t(a * 7 + (a >> 8)));
    }
    // Names of the files in the test's folder.
    std::vector<std::string> Files() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::unique_ptr<CodeBuffer> buffer = std::make_unique<CodeBuffer>();
    test::TempDir scratch_;
    fs::path dir_ = scratch_.path();
};

TEST_F(ImageFileTest, HexHasSixteenByteRecordsWithChecksumsAndAnEndRecord)
{
    for (int32_t a = 0; a < 20; ++a)
        Put(a, uint8_t(0xA0 + a));
    Put(0x21, 0x00); // beyond the size asked for: not written
    EXPECT_EQ(HexImageText(*buffer, 20), ":10000000A0A1A2A3A4A5A6A7A8A9AAABACADAEAF78\n"
                                         ":04001000B0B1B2B326\n"
                                         ":00000001FF\n");
    EXPECT_EQ(HexImageText(*buffer, 0), ":00000001FF\n");
}

TEST_F(ImageFileTest, WholeChipRoundTripsThroughHexAndBinary)
{
    Fill(0x3000); // a 12 KB chip
    for (const char* name : {"chip.hex", "chip.BIN"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(WriteImageFile(Path(name), *buffer, 0x3000), "");
        auto back = std::make_unique<CodeBuffer>();
        const HexResult result = LoadImageFile(Path(name), *back);
        ASSERT_TRUE(result.Ok()) << result.Error;
        EXPECT_EQ(result.EndAddress, 0x3000);
        for (int32_t a = 0; a < 0x3000; ++a)
            ASSERT_EQ(BufferByte(*back, a), BufferByte(*buffer, a)) << a;
        EXPECT_EQ(BufferByte(*back, 0x3000), 0xFF);
    }
    EXPECT_EQ(fs::file_size(Path("chip.BIN")), 0x3000u);
    EXPECT_EQ(Read(Path("chip.hex")).substr(0, 11), ":1000000000");
    EXPECT_EQ(Files(), (std::vector<std::string>{"chip.BIN", "chip.hex"})); // no temporary files left
}

TEST_F(ImageFileTest, BinaryLoadsAtZeroUpTo64KBAndRefusesMore)
{
    std::string bytes(3, '\0');
    bytes[0] = '\x12', bytes[1] = '\xAB', bytes[2] = '\xFF';
    Write("small.bin", bytes);
    HexResult result = LoadImageFile(Path("small.bin"), *buffer);
    ASSERT_TRUE(result.Ok());
    EXPECT_EQ(result.EndAddress, 3);
    EXPECT_EQ(buffer->CodeHigh[1], 'A');
    EXPECT_EQ(buffer->CodeLow[1], 'B');
    EXPECT_EQ(BufferByte(*buffer, 0), 0x12);

    Write("full.bin", std::string(65536, '\x5A'));
    result = LoadImageFile(Path("full.bin"), *buffer);
    ASSERT_TRUE(result.Ok());
    EXPECT_EQ(result.EndAddress, 65536);
    EXPECT_EQ(BufferByte(*buffer, 0xFFFF), 0x5A);

    Write("large.bin", std::string(65537, '\x00'));
    result = LoadImageFile(Path("large.bin"), *buffer);
    EXPECT_EQ(result.Status, HexStatus::Invalid);
    EXPECT_EQ(result.Error, "it holds 65537 bytes, the code memory 65536");
    for (int32_t a = 0; a < kBufferSize; ++a)
        ASSERT_EQ(BufferByte(*buffer, a), 0xFF) << a; // nothing of it, nothing of before

    result = LoadImageFile(Path("missing.bin"), *buffer);
    EXPECT_EQ(result.Status, HexStatus::CannotOpen);
    EXPECT_EQ(result.Error, "No such file or directory");
}

TEST_F(ImageFileTest, NameDecidesTheFormat)
{
    EXPECT_EQ(FormatOfName("a.bin"), ImageFormat::Binary);
    EXPECT_EQ(FormatOfName("/x/A.BIN"), ImageFormat::Binary);
    EXPECT_EQ(FormatOfName(".Bin"), ImageFormat::Binary);
    EXPECT_EQ(FormatOfName("a.hex"), ImageFormat::IntelHex);
    EXPECT_EQ(FormatOfName("a.bin.hex"), ImageFormat::IntelHex);
    EXPECT_EQ(FormatOfName("bin"), ImageFormat::IntelHex);
    EXPECT_EQ(FormatOfName("a.binx"), ImageFormat::IntelHex);

    // A HEX file named otherwise loads as HEX.
    Write("code.txt", ":0100000042BD\n:00000001FF\n");
    const HexResult result = LoadImageFile(Path("code.txt"), *buffer);
    ASSERT_TRUE(result.Ok()) << result.Error;
    EXPECT_EQ(BufferByte(*buffer, 0), 0x42);
}

TEST_F(ImageFileTest, CellsThatHoldNoDigitAreWrittenAsErased)
{
    buffer->CodeHigh[0] = 'x';
    buffer->CodeLow[0] = '3';
    buffer->CodeHigh[1] = '\0';
    buffer->CodeLow[1] = '\0';
    EXPECT_EQ(BufferByte(*buffer, 0), 0xF3);
    EXPECT_EQ(BinaryImage(*buffer, 2), std::string("\xF3\xFF"));
}

TEST_F(ImageFileTest, AddressesOutsideTheBufferReadAsErased)
{
    for (int32_t a = 0; a < kBufferSize; ++a)
        buffer->CodeHigh[a] = buffer->CodeLow[a] = '0';
    EXPECT_EQ(BufferByte(*buffer, 0xFFFF), 0x00);
    for (int32_t outside : {-1, 0x10000, INT32_MIN, INT32_MAX})
        EXPECT_EQ(BufferByte(*buffer, outside), 0xFF) << outside;
    EXPECT_EQ(BinaryImage(*buffer, INT32_MAX).size(), size_t(kBufferSize));
    EXPECT_EQ(BinaryImage(*buffer, -5), "");
}

// Tests may run as root, for whom permission bits stop nothing: these
// failures hold for every user.
TEST_F(ImageFileTest, WriteIntoAFolderThatCannotHoldFilesFailsWithTheSystemsReason)
{
    Write("plain", "a regular file");
    EXPECT_EQ(ReplaceFile(Path("plain") + "/code.hex", "data"), "Not a directory");
    EXPECT_EQ(ReplaceFile(Path("missing") + "/code.hex", "data"), "No such file or directory");
    EXPECT_EQ(Files(), std::vector<std::string>{"plain"});
    EXPECT_EQ(Read(Path("plain")), "a regular file");
}

TEST_F(ImageFileTest, FailedReplaceLeavesTheTargetAndNoTemporaryFile)
{
    fs::create_directory(Path("target.hex")); // a folder where the file should go
    Write("target.hex/inside", "kept");
    EXPECT_EQ(ReplaceFile(Path("target.hex"), "data"), "Is a directory");
    EXPECT_TRUE(fs::is_directory(Path("target.hex")));
    EXPECT_EQ(Read(Path("target.hex/inside")), "kept");
    EXPECT_EQ(Files(), std::vector<std::string>{"target.hex"});
}

TEST_F(ImageFileTest, ReplaceKeepsAnExistingFilesPermissions)
{
    Write("code.hex", "old contents, longer than the new ones");
    ASSERT_EQ(::chmod(Path("code.hex").c_str(), 0640), 0);
    ASSERT_EQ(ReplaceFile(Path("code.hex"), "new"), "");
    EXPECT_EQ(Read(Path("code.hex")), "new");
    struct stat info {};
    ASSERT_EQ(::stat(Path("code.hex").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(Files(), std::vector<std::string>{"code.hex"});
}

TEST_F(ImageFileTest, ChecksumsAndTheLastByteOfCode)
{
    EXPECT_EQ(LastCodeAddress(*buffer), -1);
    test::LoadImage(*buffer, {'1', '2', '3', '4', '5', '6', '7', '8', '9'});
    // The CRC-32 check value of "123456789"; the sum keeps 16 bits.
    EXPECT_EQ(ChecksumOf(*buffer, 9).Crc32, 0xCBF43926u);
    EXPECT_EQ(ChecksumOf(*buffer, 0x2000).Sum, uint16_t(0x01DD + (0x2000 - 9) * 0xFF));
    EXPECT_EQ(LastCodeAddress(*buffer), 8);
}

// A link is written through to the file it names, a pipe or a device directly.
TEST_F(ImageFileTest, ReplaceWritesThroughLinksAndIntoPipesAndDevices)
{
    fs::create_directory(Path("sub"));
    Write("sub/code.hex", "old");
    fs::create_symlink("sub/code.hex", Path("link.hex"));    // relative, in another folder
    fs::create_symlink(Path("link.hex"), Path("chain.hex")); // to a link
    fs::create_symlink("sub/new.hex", Path("dangling.hex")); // to a file still to be made
    for (const auto& [link, written] : {std::pair{"link.hex", "sub/code.hex"}, std::pair{"chain.hex", "sub/code.hex"},
                                        std::pair{"dangling.hex", "sub/new.hex"}}) {
        ASSERT_EQ(ReplaceFile(Path(link), link), "") << link;
        EXPECT_EQ(Read(Path(written)), link);
    }
    EXPECT_EQ(Files(), (std::vector<std::string>{"chain.hex", "dangling.hex", "link.hex", "sub"}));

    // A named pipe: written while a reader is there, refused without one.
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
    EXPECT_EQ(ReplaceFile(Path("fifo"), "data"), "no program reads from this named pipe");
    const int reader = ::open(Path("fifo").c_str(), O_RDONLY | O_NONBLOCK);
    EXPECT_EQ(ReplaceFile(Path("fifo"), "through the pipe"), "");
    char got[32] = {};
    EXPECT_EQ(::read(reader, got, sizeof got), ssize_t(16));
    EXPECT_STREQ(got, "through the pipe");
    ::close(reader);
    EXPECT_EQ(ReplaceFile("/dev/null", "nothing"), ""); // a character device
}

} // namespace
} // namespace qvx
