// The simulated chip's page instructions: page read on the AT89S51/52 and
// AT89S8253, page write on the AT89S8253 with its cycle and polling, each
// on one trace line, and the two-byte header of the AT89S8253's prose.
#include "SimTest.h"

namespace qvx::test {
namespace {

std::vector<uint8_t> Counting(size_t n, uint8_t from)
{
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = uint8_t(from + i * 3);
    return bytes;
}

TEST(SimPages, PageReadsGiveAWholePageAfterTheirHeader)
{
    struct {
        const char* options;
        std::vector<uint8_t> header;
        uint32_t base, size;
        const char* trace;
    } cases[] = {
        {"AT89S52,timing=instant", {0x30, 0x1E}, 0x1E00, 256, "30 1E -> 00 00 + 256 bytes out"},
        {"AT89S51,timing=instant", {0x30, 0x1E}, 0x0E00, 256, "30 1E -> 00 00 + 256 bytes out"}, // A12 not decoded
        {"AT89S8253,timing=instant", {0x30, 0x2A, 0xC0}, 0x2AC0, 64, "30 2A C0 -> 00 00 00 + 64 bytes out"},
        {"AT89S8253,timing=instant,pageheader=2", {0x30, 0x2A}, 0x2A00, 64, "30 2A -> 00 00 + 64 bytes out"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        Session s(c.options);
        const std::vector<uint8_t> image = Counting(s.chip().Code().size(), 5);
        s.chip().PresetCode(image);
        s.chip().RecordTrace(true);
        ASSERT_EQ(s.wire.Enable4(), 0x69);
        EXPECT_EQ(s.wire.Page(c.header, std::vector<uint8_t>(c.size)),
                  std::vector<uint8_t>(image.begin() + c.base, image.begin() + c.base + c.size));
        EXPECT_EQ(s.wire.Read4(0x0001), image[1]) << "the next instruction is framed anew";
        EXPECT_EQ(s.chip().TraceLines()[1], c.trace);
        EXPECT_EQ(s.chip().Counters().pageReads, 1u);
    }
}

TEST(SimPages, TheAT89S8253WritesAPageInOneCyclePolledOnItsLastByte)
{
    Session s("AT89S8253,timing=virtual");
    s.chip().PresetCode(0x1041, 0x0F); // flash: only bits that are 1 can be cleared
    s.chip().RecordTrace(true);
    const std::vector<uint8_t> data = Counting(64, 0x80);
    ASSERT_EQ(s.wire.Enable4(), 0x69);
    s.wire.Page({0x50, 0x10, 0x40}, data);
    EXPECT_EQ(s.chip().TraceLines().back(), "50 10 40 -> 00 00 00 + 64 bytes in");
    EXPECT_TRUE(s.chip().Busy());
    EXPECT_EQ(s.wire.Read4(0x107F), uint8_t((~data[63] & 0x80) | 0x7F)) << "bit 7 inverted while busy";
    s.wire.Write4(0x2000, 0x00);
    EXPECT_EQ(s.chip().Counters().ignoredBusy, 1u);
    s.chip().AdvanceTime(std::chrono::microseconds(4500));
    EXPECT_FALSE(s.chip().Busy());
    for (uint32_t i = 0; i < 64; ++i)
        ASSERT_EQ(s.chip().CodeByte(0x1040 + i), i == 1 ? (data[1] & 0x0F) : data[i]) << i;
    EXPECT_EQ(s.chip().CodeByte(0x103F), 0xFF);
    EXPECT_EQ(s.chip().CodeByte(0x1080), 0xFF);
    EXPECT_EQ(s.chip().Counters().pageWrites, 1u);

    // Lock bit 1 stops page writes as it stops byte writes; the AT89S52's
    // page write (no cycle of its own in its datasheet) is not modelled.
    s.chip().PresetLockBits(true, false, false);
    s.wire.Page({0x50, 0x00, 0x00}, std::vector<uint8_t>(64, 0x00));
    EXPECT_EQ(s.chip().Counters().lockedWrites, 1u);
    Session s52("AT89S52,timing=instant");
    ASSERT_EQ(s52.wire.Enable4(), 0x69);
    s52.wire.Send({0x50, 0x00, 0x00, 0x00});
    EXPECT_EQ(s52.chip().Counters().unknown, 1u);
    EXPECT_EQ(s52.chip().CodeByte(0), 0xFF);
}

TEST(SimPages, ThePageHeaderOptionIsTheAT89S8253s)
{
    std::string error;
    EXPECT_EQ(MakeSimPort("AT89S52,pageheader=2", error), nullptr);
    EXPECT_NE(error.find("only the AT89S8253's page header has two readings"), std::string::npos) << error;
    EXPECT_EQ(MakeSimPort("AT89S8253,pageheader=4", error), nullptr);
    EXPECT_NE(error.find("2 bytes (the datasheet's prose) or 3"), std::string::npos) << error;
}

} // namespace
} // namespace qvx::test
