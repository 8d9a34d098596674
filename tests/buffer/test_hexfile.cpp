// Intel HEX loading into the code buffer, on real files.
#include "Config.h"
#include "HexFile.h"
#include "HexText.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace qvx {
namespace {

namespace fs = std::filesystem;

constexpr auto& Record = test::HexRecord;

const std::string kEof = ":00000001FF";

class HexFileTest : public ::testing::Test {
protected:

    std::string Write(const std::string& text, const std::string& name = "code.hex")
    {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }
    HexResult Load(const std::string& text) { return LoadHexFromFile(Write(text), *buffer); }

    std::string Byte(int32_t address) const
    {
        return {buffer->CodeHigh[address], buffer->CodeLow[address]};
    }
    // Addresses whose byte is not FF.
    std::vector<int32_t> Loaded() const
    {
        std::vector<int32_t> list;
        for (int32_t a = 0; a < kBufferSize; ++a)
            if (Byte(a) != "FF")
                list.push_back(a);
        return list;
    }
    // Fills the buffer with something other than FF, as an earlier load would.
    void Dirty()
    {
        for (int32_t a = 0; a < kBufferSize; ++a)
            buffer->CodeHigh[a] = buffer->CodeLow[a] = '5';
    }

    std::unique_ptr<CodeBuffer> buffer = std::make_unique<CodeBuffer>();

private:
    test::TempDir scratch_;
    fs::path dir_ = scratch_.path();
};

TEST_F(HexFileTest, DataRecordStoresItsBytesAndGivesTheEndAddress)
{
    Dirty();
    const HexResult r = Load(Record(0, 0x0010, {0xAA, 0xBB, 0xCC}) + "\r\n" + kEof + "\r\n");
    ASSERT_TRUE(r.Ok()) << r.Error;
    EXPECT_EQ(r.EndAddress, 0x13);
    EXPECT_EQ(Byte(0x10), "AA");
    EXPECT_EQ(Byte(0x11), "BB");
    EXPECT_EQ(Byte(0x12), "CC");
    EXPECT_EQ(Loaded(), (std::vector<int32_t>{0x10, 0x11, 0x12})); // everything else FF
}

TEST_F(HexFileTest, EmptyFileAndEndRecordAloneLoadNothing)
{
    Dirty();
    HexResult r = Load("");
    ASSERT_TRUE(r.Ok());
    EXPECT_EQ(r.EndAddress, 0);
    EXPECT_TRUE(Loaded().empty());

    r = Load(kEof + "\n");
    ASSERT_TRUE(r.Ok());
    EXPECT_EQ(r.EndAddress, 0);
    EXPECT_TRUE(Loaded().empty());
}

TEST_F(HexFileTest, DigitsOfEitherCaseAreStoredInUpperCase)
{
    // 03 0020 00 ab Cd eF: the bytes add up to 0x28A, so the checksum is 0x76.
    const HexResult r = Load(":03002000abCdeF76\n:00000001ff\n");
    ASSERT_TRUE(r.Ok()) << r.Error;
    EXPECT_EQ(Byte(0x20), "AB");
    EXPECT_EQ(Byte(0x21), "CD");
    EXPECT_EQ(Byte(0x22), "EF");
    EXPECT_EQ(r.EndAddress, 0x23);
}

TEST_F(HexFileTest, LaterRecordsOverwriteEarlierOnes)
{
    const HexResult r = Load(Record(0, 0x0100, {1, 2, 3, 4}) + "\n" + Record(0, 0x0102, {9, 8, 7}) +
                             "\n" + Record(0, 0x00FF, {0x55, 0x66}) + "\n" + kEof + "\n");
    ASSERT_TRUE(r.Ok()) << r.Error;
    EXPECT_EQ(Byte(0x00FF), "55");
    EXPECT_EQ(Byte(0x0100), "66");
    EXPECT_EQ(Byte(0x0101), "02");
    EXPECT_EQ(Byte(0x0102), "09");
    EXPECT_EQ(Byte(0x0103), "08");
    EXPECT_EQ(Byte(0x0104), "07");
    EXPECT_EQ(r.EndAddress, 0x0105); // the highest reach, not the last record's
}

TEST_F(HexFileTest, TextOutsideRecordsIsSkippedAndLinesStillCount)
{
    const std::string text = "Firmware image, built by hand\n"
                             "\n" +
                             Record(0, 0x0000, {0x02, 0x00, 0x30}) +
                             "\n"
                             "   ; a comment between records\n"
                             "\n" +
                             Record(0, 0x0030, {0x80, 0xFE}) + "   \n" + kEof + "\n";
    const HexResult r = Load(text);
    ASSERT_TRUE(r.Ok()) << r.Error;
    EXPECT_EQ(Loaded(), (std::vector<int32_t>{0, 1, 2, 0x30, 0x31}));
    EXPECT_EQ(Byte(0x31), "FE");

    // The same file with a bad record on its seventh line.
    std::string bad = text;
    bad.replace(bad.find(":0200300080FE"), 13, ":0200300080FF");
    const HexResult refused = Load(bad);
    EXPECT_EQ(refused.Status, HexStatus::Invalid);
    EXPECT_EQ(refused.Line, 6);
}

TEST_F(HexFileTest, LineEndsOfEveryKindAreCounted)
{
    const std::string bad = ":00000001FE";
    for (const std::string& end : {std::string("\n"), std::string("\r\n"), std::string("\r")}) {
        const HexResult r = Load(Record(0, 0, {1}) + end + end + Record(0, 1, {2}) + end + bad + end);
        EXPECT_EQ(r.Status, HexStatus::Invalid);
        EXPECT_EQ(r.Line, 4) << "line end of " << end.size() << " characters";
    }
}

TEST_F(HexFileTest, EndOfFileCharacterEndsTheFile)
{
    // Whatever follows the character of code 26 is not read.
    HexResult r = Load(Record(0, 0x10, {0x11}) + "\n\x1A" + Record(0, 0x20, {0x22}) + "\n:nonsense\n");
    ASSERT_TRUE(r.Ok()) << r.Error;
    EXPECT_EQ(Loaded(), (std::vector<int32_t>{0x10}));

    // A record that the mark cuts short is refused.
    const std::string record = Record(0, 0x10, {0x11, 0x22, 0x33});
    r = Load(record.substr(0, 9) + "\x1A" + record.substr(9) + "\n");
    EXPECT_EQ(r.Status, HexStatus::Invalid);
    EXPECT_EQ(r.Line, 1);
}

TEST_F(HexFileTest, EndRecordEndsTheFileAndCountsItsAddress)
{
    HexResult r = Load(Record(0, 0x0000, {1, 2}) + "\n" + Record(1, 0x0200, {}) + "\n" +
                       Record(0, 0x0300, {3}) + "\n");
    ASSERT_TRUE(r.Ok()) << r.Error;
    EXPECT_EQ(r.EndAddress, 0x0200);
    EXPECT_EQ(Loaded(), (std::vector<int32_t>{0, 1})); // nothing after the end record
}

struct Refusal {
    const char* name;
    std::string text;
    int line;
    const char* says; // a part of the message
};

class HexRefusalTest : public HexFileTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(HexRefusalTest, RefusesTheLoadNamingTheLine)
{
    Dirty();
    const Refusal& c = GetParam();
    const HexResult r = Load(c.text);
    EXPECT_EQ(r.Status, HexStatus::Invalid);
    EXPECT_EQ(r.Line, c.line);
    EXPECT_NE(r.Error.find(c.says), std::string::npos) << r.Error;
    EXPECT_TRUE(Loaded().empty()) << "the buffer must be left cleared";
}

const std::string kGood = Record(0, 0x0000, {0x02, 0x01, 0x00}) + "\n";

INSTANTIATE_TEST_SUITE_P(
    Records, HexRefusalTest,
    ::testing::Values(
        Refusal{"WrongChecksum", kGood + ":03001000AABBCC00\n" + kEof, 2, "checksum is 00"},
        Refusal{"ChecksumNamesTheRightValue", ":03001000AABBCC00\n", 1, "need BC"},
        // Announces four bytes but holds three: the next record must not be
        // taken as data.
        Refusal{"ShortRecord", kGood + ":04001000AABBCC6A\n" + Record(0, 0x20, {1}) + "\n", 2,
                "announces 4 data bytes"},
        Refusal{"LongRecord", kGood + kGood + ":02001000AABBCC6E\n", 3, "announces 2 data bytes"},
        Refusal{"CutHeader", kGood + ":0300\n", 2, "cut short"},
        Refusal{"LoneColon", ":\n", 1, "cut short"},
        Refusal{"NotAHexDigit", kGood + ":03001000AABGCC6E\n", 2, "'G'"},
        Refusal{"SpaceInsideRecord", ":03001000AA BBCC6E\n", 1, "code 32"},
        Refusal{"UnknownType", kGood + Record(6, 0, {1}) + "\n", 2, "record type 06"},
        Refusal{"SegmentRecordOfWrongSize", Record(2, 0, {0x10}) + "\n", 1, "extended segment"},
        Refusal{"LinearRecordOfWrongSize", Record(4, 0, {0, 0, 0}) + "\n", 1, "extended linear"},
        Refusal{"DataBeyondFFFF", kGood + Record(0, 0xFFF8, std::vector<uint8_t>(9, 0xEE)) + "\n", 2,
                "FFF8 to 10000"},
        Refusal{"LinearBaseAbove64K", kGood + Record(4, 0, {0x00, 0x01}) + "\n" + Record(0, 0, {1}) + "\n",
                3, "10000"},
        Refusal{"SegmentBaseBeyondTheEnd",
                Record(2, 0, {0xF0, 0x00}) + "\n" + Record(0, 0xFFF0, std::vector<uint8_t>(16, 1)) + "\n",
                2, "beyond the 64 KB"},
        // Base FFFF0000 plus FFFF plus the offset passes 2^32: in 32 bits the
        // end would come out as a small number.
        Refusal{"LinearBaseFFFFThenDataAtFFFF",
                kGood + Record(4, 0, {0xFF, 0xFF}) + "\n" + Record(0, 0xFFFF, std::vector<uint8_t>(16, 0x5A)) +
                    "\n" + kEof + "\n",
                3, "FFFFFFFF to 10000000E"},
        Refusal{"LinearBaseFFFFThenOneByteAtFFFF",
                Record(4, 0, {0xFF, 0xFF}) + "\r\n" + Record(0, 0xFFFF, {1}) + "\r\n", 2, "FFFFFFFF to FFFFFFFF"},
        Refusal{"SegmentBaseFFFFThenDataAtFFFF",
                Record(2, 0, {0xFF, 0xFF}) + "\n" + Record(0, 0xFFFF, {1, 2}) + "\n", 2, "10FFEF to 10FFF0"},
        Refusal{"OneByteBeyondFFFF", Record(0, 0xFFFF, {1, 2}) + "\n", 1, "FFFF to 10000"},
        Refusal{"EmptyDataRecordAboveFFFF", Record(4, 0, {0x00, 0x02}) + "\n" + Record(0, 0x0001, {}) + "\n", 2,
                "20001"},
        Refusal{"StrayDigitAfterTheChecksum", kGood + Record(0, 0x10, {0xAA}) + "5\n", 2, "but the record has 13"},
        Refusal{"ChecksumMissing", [] {
                    const std::string r = Record(0, 0x10, {0xAA, 0xBB});
                    return r.substr(0, r.size() - 2) + "\n";
                }(),
                1, "announces 2 data bytes"},
        Refusal{"CountZeroWithData", ":00001000AA46\n", 1, "announces 0 data bytes"},
        Refusal{"CountFFOnAShortRecord", ":FF001000AABB\n", 1, "announces 255 data bytes"},
        Refusal{"RecordTypeFF", kGood + Record(0xFF, 0, {}) + "\n", 2, "record type FF"},
        Refusal{"EndRecordWithData", kGood + Record(1, 0, {0x00}) + "\n", 2, "end-of-file record holds no data"},
        Refusal{"StartSegmentRecordOfWrongSize", Record(3, 0, {0x00, 0x00}) + "\n", 1, "start segment"},
        Refusal{"StartLinearRecordOfWrongSize", kGood + Record(5, 0, {1, 2, 3, 4, 5}) + "\n", 2, "start linear"},
        Refusal{"NulInsideRecord", std::string(":03001000AA") + '\0' + "BBCC6E\n", 1, "code 0"},
        Refusal{"TabInsideRecord", ":03001000AA\tBBCC6E\n", 1, "code 9"},
        Refusal{"NonAsciiInsideRecord", ":03001000AA\xC3\xA4" "BBCC6E\n", 1, "code 195"},
        Refusal{"LowerCaseLetterThatIsNoDigit", kGood + kGood + ":03001000AABgCC6E\n", 3, "'g'"},
        Refusal{"NonDigitInTheChecksum", [] {
                    std::string r = Record(0, 0x20, {0x12});
                    r.back() = 'Z';
                    return kGood + r + "\n";
                }(),
                2, "'Z'"},
        Refusal{"CutByTheEndOfFileCharacter", kGood + ":03001000\x1A" "AABBCC6E\n", 2, "it has 8 digits"},
        Refusal{"CutByTheEndOfTheFile", kGood + ":03001000AABB", 2, "announces 3 data bytes"},
        Refusal{"TwoRecordsOnOneLine", Record(0, 0, {1}) + Record(0, 1, {2}) + "\n", 1, "':'"},
        Refusal{"CommentAfterARecordOnItsLine", kGood + Record(0, 0x30, {1}) + " ; reset vector\n", 2, "code 32"}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

TEST_F(HexFileTest, ExtendedAddressRecordsMoveLaterData)
{
    // Segment 0100: base 01000. Linear 0000 takes the base back to 0.
    const HexResult r = Load(Record(0, 0x0000, {0xAA}) + "\n" + Record(2, 0, {0x01, 0x00}) + "\n" +
                             Record(0, 0x0010, {0xBB, 0xCC}) + "\n" + Record(4, 0, {0x00, 0x00}) + "\n" +
                             Record(0, 0x0005, {0xDD}) + "\n" + kEof + "\n");
    ASSERT_TRUE(r.Ok()) << r.Error;
    EXPECT_EQ(Loaded(), (std::vector<int32_t>{0x0000, 0x0005, 0x1010, 0x1011}));
    EXPECT_EQ(Byte(0x1010), "BB");
    EXPECT_EQ(Byte(0x1011), "CC");
    EXPECT_EQ(Byte(0x0005), "DD");
    EXPECT_EQ(r.EndAddress, 0x1012);
    // The address records themselves store nothing at their own address.
    EXPECT_EQ(Byte(0x0001), "FF");
}

TEST_F(HexFileTest, StartAddressRecordsAreIgnored)
{
    const HexResult r = Load(Record(3, 0, {0x00, 0x00, 0x12, 0x34}) + "\n" +
                             Record(5, 0, {0x00, 0x00, 0x56, 0x78}) + "\n" + Record(0, 0x40, {0x01}) +
                             "\n" + kEof + "\n");
    ASSERT_TRUE(r.Ok()) << r.Error;
    EXPECT_EQ(Loaded(), (std::vector<int32_t>{0x40}));
    EXPECT_EQ(r.EndAddress, 0x41);
}

TEST_F(HexFileTest, DataUpToFFFFFits)
{
    std::vector<uint8_t> last(16);
    for (int i = 0; i < 16; ++i)
        last[i] = uint8_t(0xF0 + i);
    const HexResult r = Load(Record(0, 0xFFF0, last) + "\n" + kEof + "\n");
    ASSERT_TRUE(r.Ok()) << r.Error;
    EXPECT_EQ(r.EndAddress, 0x10000);
    EXPECT_EQ(Byte(0xFFF0), "F0");
    EXPECT_EQ(Byte(0xFFFE), "FE");
}

TEST_F(HexFileTest, FileThatCannotBeOpenedSaysWhy)
{
    Dirty();
    HexResult r = LoadHexFromFile("/nonexistent-dir/none.hex", *buffer);
    EXPECT_EQ(r.Status, HexStatus::CannotOpen);
    EXPECT_EQ(r.Error, "No such file or directory");
    EXPECT_TRUE(Loaded().empty());

    // A folder is no file either.
    r = LoadHexFromFile(fs::temp_directory_path().string(), *buffer);
    EXPECT_EQ(r.Status, HexStatus::CannotOpen);
    EXPECT_FALSE(r.Error.empty());
}

TEST_F(HexFileTest, OnlyRegularFilesOfSensibleSizeAreRead)
{
    Dirty();
    // A named pipe without a writer: refused at once instead of waiting.
    const std::string pipe = Write("", "pipe.hex");
    fs::remove(pipe);
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    HexResult r = LoadHexFromFile(pipe, *buffer);
    EXPECT_EQ(r.Status, HexStatus::CannotOpen);
    EXPECT_EQ(r.Error, "not a regular file (a pipe or a device)");
    // A device that never ends.
    r = LoadHexFromFile("/dev/zero", *buffer);
    EXPECT_EQ(r.Status, HexStatus::CannotOpen);
    EXPECT_EQ(r.Error, "not a regular file (a pipe or a device)");
    // A file far larger than any HEX file (sparse: it takes no room).
    const std::string huge = Write(Record(0, 0, {1}) + "\n", "huge.hex");
    fs::resize_file(huge, kLargestTextFile + 1);
    r = LoadHexFromFile(huge, *buffer);
    EXPECT_EQ(r.Status, HexStatus::CannotOpen);
    EXPECT_NE(r.Error.find("holds 67108865 bytes"), std::string::npos) << r.Error;
    EXPECT_TRUE(Loaded().empty());
    // Exactly at the limit it is read: the record, then NULs between records.
    fs::resize_file(huge, kLargestTextFile);
    r = LoadHexFromFile(huge, *buffer);
    ASSERT_TRUE(r.Ok()) << r.Error;
    EXPECT_EQ(Loaded(), (std::vector<int32_t>{0}));
}

// The sample programs in examples/, built with SDCC.
struct Example {
    const char* file;
    int32_t memory;     // the chip memory it is made for
    int32_t smaller;    // the next smaller memory size, which it must not fit
    int32_t tableBytes; // the self-test table, 0 for none
};

class ExampleFileTest : public HexFileTest, public ::testing::WithParamInterface<Example> {};

uint8_t Pattern(uint32_t i) { return uint8_t((i & 0xFF) * 37u + ((i >> 8) & 0xFF) * 101u + 11u); }

TEST_P(ExampleFileTest, LoadsAndFitsItsChip)
{
    const Example& e = GetParam();
    const HexResult r = LoadHexFromFile(std::string(QVX_SOURCE_DIR) + "/examples/" + e.file, *buffer);
    ASSERT_TRUE(r.Ok()) << r.Line << ": " << r.Error;
    EXPECT_LE(r.EndAddress, e.memory);
    EXPECT_EQ(Byte(0), "02"); // the reset vector jumps (LJMP) to the start-up code
    EXPECT_LT(Loaded().back(), r.EndAddress);
    if (e.tableBytes == 0)
        return;
    // The self test is meant to need its whole chip: more than the next size down.
    EXPECT_GT(r.EndAddress, e.smaller);
    // Its table holds the pattern that the program checks, byte for byte.
    int32_t start = -1;
    for (int32_t a = 0; a + 4 < e.memory && start < 0; ++a)
        if (Byte(a) == "0B" && Byte(a + 1) == "30" && Byte(a + 2) == "55" && Byte(a + 3) == "7A")
            start = a;
    ASSERT_GE(start, 0) << "table not found";
    for (int32_t i = 0; i < e.tableBytes; ++i) {
        char expected[3];
        std::snprintf(expected, sizeof expected, "%02X", Pattern(uint32_t(i)));
        ASSERT_EQ(Byte(start + i), expected) << "table byte " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Sdcc, ExampleFileTest,
                         ::testing::Values(Example{"blink.hex", 2048, 0, 0}, Example{"uart_echo.hex", 2048, 0, 0},
                                           Example{"selftest_2k.hex", 2048, 1024, 2048 - 512},
                                           Example{"selftest_4k.hex", 4096, 2048, 4096 - 512},
                                           Example{"selftest_8k.hex", 8192, 4096, 8192 - 512},
                                           Example{"selftest_12k.hex", 12288, 8192, 12288 - 512}),
                         [](const ::testing::TestParamInfo<Example>& info) {
                             std::string name = info.param.file;
                             return name.substr(0, name.find('.'));
                         });

} // namespace
} // namespace qvx
