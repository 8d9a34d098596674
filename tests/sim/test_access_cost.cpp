// What a port access costs on the simulated cable: exactly the accesses a
// parallel port with a shadowed data register makes, so simulated timings
// predict the hardware. Also the cable's clock seam and the erase that never
// ends.
#include "Link.h"
#include "Mode.h"
#include "RecordingPanel.h"
#include "SimTest.h"

namespace qvx::test {
namespace {

using namespace std::chrono_literals;

TEST(SimAccessCost, OnlyAccessesThatReachARegisterCostTime)
{
    auto port = OpenSim("AT89S52,timing=virtual,iodelay=250");
    sim::Chip& chip = port->Chip();
    struct Case {
        const char* what;
        std::function<void()> call;
        uint64_t charged;
    } cases[] = {
        {"data bit set", [&] { port->SetPortBit(0x378, 5); }, 1},
        {"data bit cleared", [&] { port->ClrPortBit(0x378, 5); }, 1},
        {"status bit read", [&] { port->GetPortBit(0x379, 6); }, 1},
        {"status bit written: never sent", [&] { port->SetPortBit(0x379, 6); }, 0},
        {"status bit cleared: never sent", [&] { port->ClrPortBit(0x379, 6); }, 0},
        {"data bit read: from the shadow", [&] { port->GetPortBit(0x378, 4); }, 0},
        {"control bit written", [&] { port->SetPortBit(0x37A, 0); }, 1},
        {"control bit read: from the shadow", [&] { port->GetPortBit(0x37A, 0); }, 0},
        {"the other port's data register", [&] { port->SetPortBit(0x278, 0); }, 1},
        {"no port at that address", [&] { port->SetPortBit(0x300, 0); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const uint64_t calls = port->Accesses(), charged = port->ChargedAccesses();
        const int64_t before = chip.NowNs();
        c.call();
        EXPECT_EQ(port->Accesses(), calls + 1); // every call still counts as a call
        EXPECT_EQ(port->ChargedAccesses(), charged + c.charged);
        EXPECT_EQ(chip.NowNs() - before, int64_t(c.charged) * 250);
    }
    // A data bit read answers what was written, a status write changes nothing.
    port->SetPortBit(0x378, 3);
    EXPECT_TRUE(port->GetPortBit(0x378, 3));
}

TEST(SimAccessCost, AClockedBitCostsFourAccessesAndAByteOneMore)
{
    auto port = OpenSim("AT89S52,timing=virtual,iodelay=1000");
    RecordingPanel panel;
    LinkState link;
    link.Port = port.get();
    link.Panel = &panel;
    SetProgramModeLines(link);
    const uint64_t calls = port->Accesses(), charged = port->ChargedAccesses();
    const int64_t before = port->Chip().NowNs();
    TransferByte(link, 'A', 'C');
    // The sense read, then per bit: MOSI, (status write), SCK up, MISO, SCK down.
    EXPECT_EQ(port->Accesses() - calls, 1u + 8u * 5u);
    EXPECT_EQ(port->ChargedAccesses() - charged, 1u + 8u * 4u);
    EXPECT_EQ(port->Chip().NowNs() - before, 33 * 1000);
}

TEST(SimClock, WaitsMoveAVirtualClockAndFinishTheChipsCycles)
{
    for (const char* timing : {"virtual", "instant"}) {
        SCOPED_TRACE(timing);
        Session s(std::string("AT89S8253,timing=") + timing);
        ASSERT_EQ(s.wire.Enable4(), 0x69);
        s.wire.Write4(0x0123, 0x5A);
        const auto now = s.port->Now();
        EXPECT_EQ(now.count(), s.chip().NowNs());
        s.port->WaitUntil(now + 5ms); // longer than the 4 ms write cycle
        EXPECT_EQ(s.port->Now(), now + 5ms);
        EXPECT_FALSE(s.chip().Busy());
        EXPECT_EQ(s.chip().CodeByte(0x0123), 0x5A);
        s.port->WaitUntil(now); // in the past: nothing moves
        EXPECT_EQ(s.port->Now(), now + 5ms);
    }
}

TEST(SimFault, AnEraseThatNeverEnds)
{
    Session s("AT89S52,timing=virtual,fault=busyerase");
    s.chip().PresetCode(0x0000, 0x12);
    ASSERT_EQ(s.wire.Enable4(), 0x69);
    s.wire.Erase4();
    EXPECT_TRUE(s.chip().Busy());
    s.chip().AdvanceTime(std::chrono::hours(1));
    EXPECT_TRUE(s.chip().Busy());
    // Still erasing: the enable is not answered and reads give 00.
    EXPECT_EQ(s.wire.Enable4(), 0x00);
    EXPECT_EQ(s.wire.Read4(0x0000), 0x00);
    EXPECT_EQ(s.chip().CodeByte(0x0000), 0x12);

    // Without the fault the same erase is over after its 500 ms.
    Session ok("AT89S52,timing=virtual");
    ok.chip().PresetCode(0x0000, 0x12);
    ok.wire.Enable4();
    ok.wire.Erase4();
    ok.chip().AdvanceTime(std::chrono::milliseconds(500));
    EXPECT_FALSE(ok.chip().Busy());
    EXPECT_EQ(ok.wire.Enable4(), 0x69);
    EXPECT_EQ(ok.wire.Read4(0x0000), 0xFF);
}

} // namespace
} // namespace qvx::test
