// The device catalogue's lookups and the rules that tie its columns together.
#include "Catalogue.h"

#include <gtest/gtest.h>

namespace qvx {
namespace {

TEST(Catalogue, CodesFollowTheDeviceListAndOutsideIsNoDevice)
{
    const char* names[] = {"AT89S51", "AT89S52", "AT89S53", "AT89S8252", "AT89S8253", "AT89S2051", "AT89S4051"};
    ASSERT_EQ(Devices().size(), 7u);
    for (int32_t code = 0; code < 7; ++code) {
        ASSERT_NE(FindDevice(code), nullptr);
        EXPECT_EQ(FindDevice(code)->Name, names[code]);
        EXPECT_EQ(DeviceCodeByName(names[code]), code);
    }
    EXPECT_EQ(FindDevice(-1), nullptr);
    EXPECT_EQ(FindDevice(7), nullptr);
    EXPECT_EQ(DeviceCodeByName("AT89C51"), -1);
    EXPECT_EQ(FindDevice(kDefaultDeviceCode)->Name, "AT89S8252");
}

TEST(Catalogue, ColumnsAgree)
{
    for (const Device& d : Devices()) {
        // Code memory starts at 0 and ends on a 2 KB boundary.
        EXPECT_EQ(d.MemorySize() % 2048, 0) << d.Name;
        EXPECT_EQ(d.Set == InstructionSet::ThreeByte, d.LockWrite == LockWriteKind::ThreeByte) << d.Name;
        EXPECT_EQ(d.Set == InstructionSet::ThreeByte, d.ReadBack == ReadBackKind::None) << d.Name;
        EXPECT_EQ(d.HasFuse, d.ReadBack == ReadBackKind::LockBitsAndFuse) << d.Name;
        EXPECT_EQ(d.Enable == EnableJudgement::AnswerCompared, d.LockWrite == LockWriteKind::Stepwise) << d.Name;
    }
    EXPECT_EQ(FindDevice(5)->LastAddress, 0x07FF);
    EXPECT_EQ(FindDevice(2)->LastAddress, 0x2FFF);
}

} // namespace
} // namespace qvx
