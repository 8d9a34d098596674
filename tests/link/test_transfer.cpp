// The serial bit transfer and the time base, against a recording port.
#include "Link.h"
#include "RecordedLink.h"
#include "WireDecode.h"

#include <gtest/gtest.h>

namespace qvx {
namespace {

using Op = RecordingPort::Op;
using Call = RecordingPort::Call;

class TransferTest : public ::testing::Test, public test::RecordedLink {
protected:
    std::vector<int32_t> Received() const { return {std::begin(link.ReceivedBits), std::end(link.ReceivedBits)}; }
    std::vector<int32_t> Sent() const { return {std::begin(link.SendBits), std::end(link.SendBits)}; }
};

TEST_F(TransferTest, EachBitIsFivePortCallsInWireOrder)
{
    test::QueueMiso(port, {0x5A});
    TransferByte(link, 'A', 'C');

    std::vector<Call> expected = {{Op::Get, 0x379, 4, true}};
    const int mosi[8] = {1, 0, 1, 0, 1, 1, 0, 0};
    const int miso[8] = {0, 1, 0, 1, 1, 0, 1, 0};
    for (int i = 0; i < 8; ++i) {
        expected.push_back({mosi[i] ? Op::Set : Op::Clr, 0x378, 5, false});
        expected.push_back({Op::Set, 0x379, 6, false}); // status bit 6 written before the sample
        expected.push_back({Op::Set, 0x378, 6, false}); // clock rises
        expected.push_back({Op::Get, 0x379, 6, miso[i] == 1});
        expected.push_back({Op::Clr, 0x378, 6, false}); // clock falls
    }
    EXPECT_EQ(port.calls, expected);
    EXPECT_EQ(Received(), (std::vector<int32_t>{0, 1, 0, 1, 1, 0, 1, 0}));
    EXPECT_EQ(Sent(), (std::vector<int32_t>{1, 0, 1, 0, 1, 1, 0, 0}));
    EXPECT_EQ(BitsValue(link.ReceivedBits), 0x5A);
    EXPECT_TRUE(panel.messages.empty());
}

TEST_F(TransferTest, UsesTheSelectedPortAddresses)
{
    link.DataPort = 0x278;
    link.StatusPort = 0x279;
    TransferByte(link, '5', '3');
    for (const Call& c : port.calls)
        EXPECT_TRUE(c.port == 0x278 || c.port == 0x279) << c.port;
    EXPECT_EQ(test::ClockedBytes(port, 0x278), (std::vector<uint8_t>{0x53}));
}

TEST_F(TransferTest, NonDigitKeepsItsFourCellsFromTheByteBefore)
{
    TransferByte(link, '5', '3');
    TransferByte(link, 'a', 'C'); // lower case is not a digit: high cells stay 0101
    EXPECT_EQ(Sent(), (std::vector<int32_t>{0, 1, 0, 1, 1, 1, 0, 0}));
    EXPECT_EQ(test::ClockedBytes(port), (std::vector<uint8_t>{0x53, 0x5C}));

    TransferByte(link, '\0', 'G');
    EXPECT_EQ(test::ClockedBytes(port).back(), 0x5C);
}

TEST_F(TransferTest, TransferBitsSendsOnlyExactOnesAndLeavesSendBits)
{
    TransferByte(link, '6', '9');
    test::QueueMiso(port, {0x69});
    TransferBits(link, 1, 2, 1, -1, 1, 0, 1, 1);
    EXPECT_EQ(test::ClockedBytes(port), (std::vector<uint8_t>{0x69, 0xAB}));
    EXPECT_EQ(BitsValue(link.SendBits), 0x69);
    // BitsMatch compares what came back with whatever SendBits held before.
    EXPECT_TRUE(BitsMatch(link));
    TransferBits(link, 0, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_FALSE(BitsMatch(link));
}

TEST_F(TransferTest, RefusedTransferShowsOneMessageAndStopsTheCommand)
{
    test::QueueMiso(port, {0xA5});
    TransferByte(link, '1', '2');
    ASSERT_EQ(BitsValue(link.ReceivedBits), 0xA5);

    port.sense = false;
    port.calls.clear();
    TransferByte(link, 'A', 'C');
    EXPECT_EQ(panel.messages, (std::vector<std::string>{"Device have not in program mode"}));
    EXPECT_TRUE(link.Refused);
    EXPECT_EQ(BitsValue(link.ReceivedBits), 0xA5); // nothing received
    EXPECT_EQ(BitsValue(link.SendBits), 0xAC);     // the new byte is loaded all the same
    EXPECT_EQ(port.calls, (std::vector<Call>{{Op::Get, 0x379, 4, false}}));

    // The rest of the command sends nothing and shows nothing, even once the
    // sense line comes back.
    port.sense = true;
    for (int i = 0; i < 1000; ++i) {
        TransferByte(link, '5', '3');
        TransferBits(link, 1, 1, 1, 1, 1, 1, 1, 1);
    }
    EXPECT_EQ(panel.messages.size(), 1u);
    EXPECT_EQ(port.calls.size(), 1u);

    // The next command starts afresh.
    BeginCommand(link);
    EXPECT_FALSE(link.Refused);
    TransferByte(link, '5', '3');
    EXPECT_EQ(test::ClockedBytes(port), (std::vector<uint8_t>{0x53}));
}

TEST_F(TransferTest, RefusedTransferBitsAlsoReportsOnce)
{
    port.sense = false;
    TransferBits(link, 1, 0, 1, 0, 1, 1, 0, 0);
    TransferByte(link, 'A', 'C');
    EXPECT_EQ(panel.messages, (std::vector<std::string>{"Device have not in program mode"}));
    EXPECT_TRUE(test::ClockedBytes(port).empty());
}

TEST_F(TransferTest, RefuseCommandReportsOnlyOncePerCommand)
{
    RefuseCommand(link);
    RefuseCommand(link);
    EXPECT_EQ(panel.messages.size(), 1u);
    BeginCommand(link);
    RefuseCommand(link);
    EXPECT_EQ(panel.messages.size(), 2u);
}

TEST(HexDigitToBits, UpperCaseDigitsOnly)
{
    int32_t c[4] = {7, 7, 7, 7};
    HexDigitToBits('A', c[0], c[1], c[2], c[3]);
    EXPECT_EQ(std::vector<int32_t>(c, c + 4), (std::vector<int32_t>{1, 0, 1, 0}));
    HexDigitToBits('1', c[0], c[1], c[2], c[3]);
    EXPECT_EQ(std::vector<int32_t>(c, c + 4), (std::vector<int32_t>{0, 0, 0, 1}));
    HexDigitToBits('F', c[0], c[1], c[2], c[3]);
    EXPECT_EQ(std::vector<int32_t>(c, c + 4), (std::vector<int32_t>{1, 1, 1, 1}));
    for (char other : {'a', 'f', 'G', ' ', '\r', '\x1a', '\0'}) {
        HexDigitToBits('0', c[0], c[1], c[2], c[3]);
        HexDigitToBits(other, c[0], c[1], c[2], c[3]);
        EXPECT_EQ(std::vector<int32_t>(c, c + 4), (std::vector<int32_t>{0, 0, 0, 0})) << int(other);
    }
}

// A clock whose text is `before` for the first call, then `during` for
// `repeats` + 1 calls (the first of them starts the second), then `after`.
static TimeSource ScriptedClock(int64_t repeats)
{
    auto calls = std::make_shared<int64_t>(0);
    return [calls, repeats]() -> std::string {
        const int64_t n = (*calls)++;
        if (n == 0)
            return "10:00:00";
        if (n <= repeats + 1)
            return "10:00:01";
        return "10:00:02";
    };
}

TEST(CalibrateWait, CountsRepeatsOfOneWholeSecond)
{
    LinkState link;
    link.TimingFactor = 1000; // 1000 thousandths: WaitUnits is the count itself
    CalibrateWait(link, ScriptedClock(12345));
    EXPECT_EQ(link.WaitUnits, 12345);

    link.TimingFactor = 500;
    CalibrateWait(link, ScriptedClock(12345));
    EXPECT_EQ(link.WaitUnits, 6172); // 6172.5 truncated

    link.TimingFactor = 0;
    CalibrateWait(link, ScriptedClock(12345));
    EXPECT_EQ(link.WaitUnits, 0);
}

TEST(CalibrateWait, WaitsForTheSecondToChangeFirst)
{
    // The second already under way when calibration starts is not counted.
    std::vector<std::string> texts = {"09:59:59", "09:59:59", "09:59:59", "10:00:00",
                                      "10:00:00", "10:00:00", "10:00:01"};
    size_t next = 0;
    LinkState link;
    link.TimingFactor = 1000;
    CalibrateWait(link, [&] { return texts[std::min(next++, texts.size() - 1)]; });
    EXPECT_EQ(link.WaitUnits, 2);
}

TEST(CalibrateWait, ProductDoesNotWrapIn32Bits)
{
    LinkState link;
    link.TimingFactor = 1000;
    CalibrateWait(link, ScriptedClock(3000000));
    // 3,000,000,000 would wrap negative in 32 bits and remove every wait.
    EXPECT_EQ(link.WaitUnits, 3000000);

    link.TimingFactor = -1; // a negative factor from a mistyped config field
    CalibrateWait(link, ScriptedClock(5000));
    EXPECT_EQ(link.WaitUnits, -5);
}

TEST(LocalTimeText, WholeSecondsOfTheDay)
{
    const std::string text = LocalTimeText();
    ASSERT_EQ(text.size(), 8u);
    EXPECT_EQ(text[2], ':');
    EXPECT_EQ(text[5], ':');
}

} // namespace
} // namespace qvx
