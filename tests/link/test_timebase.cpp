// The time base on the wire: the calibrated wait count that no longer wraps,
// the serial clock floor measured on the port's clock, and the port's own
// clock and wait.
#include "Link.h"
#include "Mode.h"
#include "RecordedLink.h"
#include "WireDecode.h"

#include <gtest/gtest.h>

#include <limits>

namespace qvx {
namespace {

using namespace std::chrono_literals;
using Op = RecordingPort::Op;

TEST(WaitUnits, ComputedIn64BitsAndClampedTo32)
{
    EXPECT_EQ(WaitUnitsFor(12345, 1000), 12345);
    EXPECT_EQ(WaitUnitsFor(12345, 500), 6172);
    EXPECT_EQ(WaitUnitsFor(5000, -1), -5);
    // 40,000 polls a second at the largest factor the file can hold: the
    // product 2,621,400,000 no longer wraps negative.
    EXPECT_EQ(WaitUnitsFor(40000, 65535), 2621400);
    // Beyond the 32-bit range the count is clamped, in both directions.
    EXPECT_EQ(WaitUnitsFor(int64_t(1) << 40, 65535), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(WaitUnitsFor(int64_t(1) << 40, -65535), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(WaitUnitsFor(std::numeric_limits<int64_t>::max(), 1000), std::numeric_limits<int32_t>::max());
}

TEST(WaitUnits, CalibrationWithALargeFactorKeepsItsWaits)
{
    // 40,000 repeats of the second's text, factor 65535 (CONFIG.QVX [FFFF]).
    auto calls = std::make_shared<int64_t>(0);
    LinkState link;
    link.TimingFactor = 65535;
    CalibrateWait(link, [calls]() -> std::string {
        const int64_t n = (*calls)++;
        return n == 0 ? "10:00:00" : n <= 40001 ? "10:00:01" : "10:00:02";
    });
    EXPECT_EQ(link.WaitUnits, 2621400);
}

class FloorTest : public ::testing::Test, public test::RecordedLink {
protected:
    // Times of the SCK edges, rises and falls, in call order.
    std::vector<std::pair<bool, std::chrono::nanoseconds>> SckEdges() const
    {
        std::vector<std::pair<bool, std::chrono::nanoseconds>> edges;
        for (const RecordingPort::Call& c : port.calls)
            if (c.port == 0x378 && c.bit == 6 && c.op != Op::Get)
                edges.push_back({c.op == Op::Set, c.at});
        return edges;
    }
};

TEST_F(FloorTest, WithoutAFloorNoTimePasses)
{
    TransferByte(link, 'A', 'C');
    EXPECT_TRUE(port.waits.empty());
    EXPECT_EQ(port.clock, 0ns);
}

TEST_F(FloorTest, EachPhaseLastsAtLeastTheFloorAndTheSampleEndsTheHighPhase)
{
    link.SckMinHighNs = 2000;
    link.SckMinLowNs = 3000;
    test::QueueMiso(port, {0x96, 0x3C});
    TransferByte(link, 'A', 'C');
    TransferByte(link, '5', '3');
    EXPECT_EQ(test::ClockedBytes(port), (std::vector<uint8_t>{0xAC, 0x53}));
    EXPECT_EQ(BitsValue(link.ReceivedBits), 0x3C);

    const auto edges = SckEdges();
    ASSERT_EQ(edges.size(), 32u);
    for (size_t i = 0; i + 1 < edges.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_NE(edges[i].first, edges[i + 1].first); // rise, fall, rise ...
        const auto phase = edges[i + 1].second - edges[i].second;
        EXPECT_GE(phase, edges[i].first ? 2000ns : 3000ns);
    }
    // The recording clock moves only by the floor's waits: exactly the floor.
    EXPECT_EQ(edges[1].second - edges[0].second, 2000ns);
    EXPECT_EQ(edges[2].second - edges[1].second, 3000ns);
    // MISO is read before the wait that ends the high phase, MOSI is set
    // before the wait that ends the low phase.
    for (size_t i = 0; i < port.calls.size(); ++i) {
        const RecordingPort::Call& c = port.calls[i];
        if (c.op == Op::Get && c.bit == 6) {
            ASSERT_LT(i + 1, port.calls.size());
            EXPECT_LT(c.at, port.calls[i + 1].at); // the fall comes after the wait
        }
    }
}

TEST_F(FloorTest, SckStaysLowAfterResetForTheFirstLowPhase)
{
    link.SckMinLowNs = 500;
    link.SckFirstLowNs = 5000;
    port.clock = 7000ns;
    ResetPulse(link, 0);
    ASSERT_EQ(port.calls.back(), (RecordingPort::Call{Op::Set, 0x378, 4, false})); // reset rises
    const std::chrono::nanoseconds rstRose = port.calls.back().at;
    port.calls.clear();
    TransferByte(link, 'A', 'C');
    const auto edges = SckEdges();
    ASSERT_FALSE(edges.empty());
    EXPECT_TRUE(edges[0].first);
    EXPECT_EQ(edges[0].second - rstRose, 5000ns);
    EXPECT_EQ(edges[2].second - edges[1].second, 500ns); // later low phases: the ordinary floor
}

// The default clock and wait of a port: the steady clock.
class PlainPort : public PortAccess {
public:
    void SetPortBit(uint16_t, uint8_t) override {}
    void ClrPortBit(uint16_t, uint8_t) override {}
    bool GetPortBit(uint16_t, uint8_t) override { return false; }
    bool IsDriverInstalled() override { return true; }
};

TEST(PortClock, DefaultIsTheSteadyClockAndWaitsReachTheDeadline)
{
    PlainPort port;
    const auto before = std::chrono::steady_clock::now().time_since_epoch();
    const auto now = port.Now();
    EXPECT_GE(now, before);
    // A short wait is spun, a longer one slept through: both reach their deadline.
    for (auto length : {std::chrono::nanoseconds(300us), std::chrono::nanoseconds(5ms)}) {
        const auto deadline = port.Now() + length;
        port.WaitUntil(deadline);
        EXPECT_GE(port.Now(), deadline);
    }
    port.WaitUntil(port.Now() - 1s); // already past: returns at once
}

} // namespace
} // namespace qvx
