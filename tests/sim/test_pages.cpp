// The simulated chip's page read (AT89S51/52, AT89S8253) and page write (AT89S8253) instructions.
#include "BufferBytes.h"
#include "SimTest.h"

#include <numeric>

namespace qvx::test {
namespace {

TEST(SimPages, PageReadsGiveAWholePageAfterTheirHeader)
{
    struct {
        const char* options;
        std::vector<uint8_t> header;
        uint32_t base, size;
    } cases[] = {
        {"AT89S52", {0x30, 0x1E}, 0x1E00, 256},
        {"AT89S51", {0x30, 0x1E}, 0x0E00, 256}, // A12 not decoded
        {"AT89S8253", {0x30, 0x2A, 0xC0}, 0x2AC0, 64},
        {"AT89S8253,pageheader=2", {0x30, 0x2A}, 0x2A00, 64},
    };
    for (const auto& c : cases) {
        Session s(std::string(c.options) + ",timing=instant");
        const std::vector<uint8_t> image = RandomBytes(s.chip().Code().size(), 5);
        s.chip().PresetCode(image);
        ASSERT_EQ(s.wire.Enable4(), 0x69);
        EXPECT_EQ(s.wire.Page(c.header, std::vector<uint8_t>(c.size)),
                  std::vector<uint8_t>(image.begin() + c.base, image.begin() + c.base + c.size)) << c.options;
        EXPECT_EQ(s.wire.Read4(0x0001), image[1]) << c.options << ": the next instruction is framed anew";
    }
}

TEST(SimPages, TheAT89S8253WritesAPageInOneCyclePolledOnItsLastByte)
{
    Session s("AT89S8253,timing=virtual");
    s.chip().PresetCode(0x1041, 0x0F); // flash: only bits that are 1 can be cleared
    std::vector<uint8_t> data(64);
    std::iota(data.begin(), data.end(), uint8_t(0x80));
    ASSERT_EQ(s.wire.Enable4(), 0x69);
    s.wire.Page({0x50, 0x10, 0x40}, data);
    EXPECT_EQ(s.wire.Read4(0x107F), 0x7F) << "bit 7 of BF inverted while busy";
    s.wire.Write4(0x2000, 0x00);
    EXPECT_EQ(s.chip().Counters().ignoredBusy, 1u);
    s.chip().AdvanceTime(std::chrono::microseconds(4500));
    data[1] &= 0x0F;
    EXPECT_TRUE(std::equal(data.begin(), data.end(), s.chip().Code().begin() + 0x1040));
    EXPECT_EQ(std::count(s.chip().Code().begin(), s.chip().Code().end(), 0xFF), 0x3000 - 64); // nothing past the page

    // Lock bit 1 stops page writes; the AT89S52's page write is not modelled.
    s.chip().PresetLockBits(true, false, false);
    s.wire.Page({0x50, 0x00, 0x00}, std::vector<uint8_t>(64, 0x00));
    EXPECT_EQ(s.chip().Counters().lockedWrites, 1u);
    Session s52("AT89S52,timing=instant");
    ASSERT_EQ(s52.wire.Enable4(), 0x69);
    s52.wire.Send({0x50, 0x00, 0x00, 0x00});
    EXPECT_EQ(s52.chip().Counters().unknown, 1u);
}

TEST(SimPages, ThePageHeaderOptionIsTheAT89S8253s)
{
    for (const auto& [options, says] : {std::pair{"AT89S52,pageheader=2", "only the AT89S8253's page header has two readings"},
                                        std::pair{"AT89S8253,pageheader=4", "2 bytes (the datasheet's prose) or 3"}}) {
        std::string error;
        EXPECT_EQ(MakeSimPort(options, error), nullptr);
        EXPECT_NE(error.find(says), std::string::npos) << error;
    }
}

} // namespace
} // namespace qvx::test
