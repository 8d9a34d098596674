// The lock check-box rules.
#include "LockRules.h"

#include <gtest/gtest.h>

namespace qvx {
namespace {

std::string State(const LockBoxes& b)
{
    std::string s;
    for (int n = 1; n <= 3; ++n)
        s += b.Box(n) ? '1' : '0';
    return s + " L" + std::to_string(b.LockLevel);
}

TEST(LockRules, EachBoxKeepsTheBoxesBelowItWithoutGaps)
{
    LockBoxes b;
    SetLockBox(b, 3, true);
    EXPECT_EQ(State(b), "111 L3");
    SetLockBox(b, 3, false);
    EXPECT_EQ(State(b), "110 L2");
    SetLockBox(b, 2, false);
    EXPECT_EQ(State(b), "100 L1");
    SetLockBox(b, 2, true);
    EXPECT_EQ(State(b), "110 L2");
    SetLockBox(b, 3, true);
    SetLockBox(b, 1, false);
    EXPECT_EQ(State(b), "000 L0");
    SetLockBox(b, 1, true);
    EXPECT_EQ(State(b), "100 L1");
}

TEST(LockRules, SettingABoxToItsOwnStateRunsNoRule)
{
    LockBoxes b;
    b.LockLevel = 2; // as if something else had written it
    SetLockBox(b, 1, false);
    EXPECT_EQ(State(b), "000 L2");
}

// The chip's lock bits applied box by box, as a lock read does.
std::string Read(LockBoxes b, bool lb1, bool lb2, bool lb3)
{
    SetLockBox(b, 1, lb1);
    SetLockBox(b, 2, lb2);
    SetLockBox(b, 3, lb3);
    return State(b);
}

TEST(LockRules, ReadingBitsWithGapsFillsTheBoxesBelowTheHighest)
{
    const LockBoxes none;
    EXPECT_EQ(Read(none, false, false, false), "000 L0");
    EXPECT_EQ(Read(none, true, true, false), "110 L2");
    EXPECT_EQ(Read(none, false, true, false), "110 L2");
    EXPECT_EQ(Read(none, false, false, true), "111 L3");
    EXPECT_EQ(Read(none, true, false, true), "111 L3");

    LockBoxes all;
    SetLockBox(all, 3, true);
    EXPECT_EQ(Read(all, false, true, false), "110 L2");
    EXPECT_EQ(Read(all, false, false, false), "000 L0");
    EXPECT_EQ(Read(all, true, false, false), "100 L1");
}

} // namespace
} // namespace qvx
