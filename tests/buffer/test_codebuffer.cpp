// The code buffer, the address counter and the digit conversions.
#include "CodeBuffer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace qvx {
namespace {

std::string Counter(const CodeBuffer& b) { return {b.AddrDigit1, b.AddrDigit2, b.AddrDigit3, b.AddrDigit4}; }

void SetCounter(CodeBuffer& b, const char* digits)
{
    b.AddrDigit1 = digits[0];
    b.AddrDigit2 = digits[1];
    b.AddrDigit3 = digits[2];
    b.AddrDigit4 = digits[3];
}

TEST(AddressCounter, CarriesThroughEveryDigit)
{
    auto b = std::make_unique<CodeBuffer>();
    const struct { const char* from; const char* to; bool wrapped; } steps[] = {
        {"1234", "1235", false}, {"00FF", "0100", false}, {"0FFF", "1000", false},
        {"FFFF", "0000", true},  {"09FF", "0A00", false}, {"ABCF", "ABD0", false},
    };
    for (const auto& s : steps) {
        SetCounter(*b, s.from);
        EXPECT_EQ(NextAddress(*b), s.wrapped) << s.from;
        EXPECT_EQ(Counter(*b), s.to) << s.from;
    }
}

TEST(AddressCounter, WalksTheWholeSpaceAndWrapsOnce)
{
    auto b = std::make_unique<CodeBuffer>();
    SetCounter(*b, "7777");
    ResetAddress(*b);
    EXPECT_EQ(Counter(*b), "0000");
    int wraps = 0;
    for (int32_t i = 0; i < kBufferSize; ++i) {
        ASSERT_EQ(CounterValue(*b), i);
        const bool wrapped = NextAddress(*b);
        wraps += wrapped;
        if (i == 15) {
            EXPECT_EQ(Counter(*b), "0010");
        }
        if (wrapped) {
            EXPECT_EQ(i, kBufferSize - 1);
        }
    }
    EXPECT_EQ(wraps, 1);
    EXPECT_EQ(Counter(*b), "0000");
}

TEST(AddressCounter, NonDigitStopsTheCarry)
{
    auto b = std::make_unique<CodeBuffer>();
    SetCounter(*b, "1x0F");
    EXPECT_FALSE(NextAddress(*b)); // "F" wraps to "0", "0" becomes "1": no carry
    EXPECT_EQ(Counter(*b), "1x10");
    SetCounter(*b, "12xF");
    EXPECT_FALSE(NextAddress(*b)); // the carry into a non-digit goes no further
    EXPECT_EQ(Counter(*b), "12x0");
}

TEST(Digits, NextHexDigit)
{
    char d = '9';
    EXPECT_FALSE(NextHexDigit(d));
    EXPECT_EQ(d, 'A');
    d = 'F';
    EXPECT_TRUE(NextHexDigit(d));
    EXPECT_EQ(d, '0');
    d = 'a';
    EXPECT_FALSE(NextHexDigit(d));
    EXPECT_EQ(d, 'a');
}

TEST(Digits, BitsToHexDigit)
{
    char d = '7';
    BitsToHexDigit(1, 0, 1, 0, d);
    EXPECT_EQ(d, 'A');
    BitsToHexDigit(1, 1, 1, 1, d);
    EXPECT_EQ(d, 'F');
    BitsToHexDigit(0, 0, 0, 0, d);
    EXPECT_EQ(d, '0');
    BitsToHexDigit(2, 0, 0, 0, d);
    EXPECT_EQ(d, '0');
    BitsToHexDigit(0, 0, 0, -1, d);
    EXPECT_EQ(d, '0');
}

TEST(Digits, ValuesCountNonDigitsAsMinusOne)
{
    EXPECT_EQ(HexDigitValue('0'), 0);
    EXPECT_EQ(HexDigitValue('9'), 9);
    EXPECT_EQ(HexDigitValue('F'), 15);
    for (char c : {'a', 'f', 'G', ' ', '\x1a', '\0', '['})
        EXPECT_EQ(HexDigitValue(c), -1) << int(c);
    EXPECT_EQ(HexByteValue('1', 'a'), 15);
    EXPECT_EQ(HexByteValue('A', 'C'), 0xAC);
    EXPECT_EQ(HexWordValue('F', 'F', 'F', 'F'), 65535);
    EXPECT_EQ(HexWordValue('0', '1', '0', '0'), 256);
    EXPECT_EQ(HexWordValue('x', '0', '0', '0'), -4096);
}

TEST(CodeBuffer, ClearFillsEveryByteWithFF)
{
    auto b = std::make_unique<CodeBuffer>();
    EXPECT_EQ(b->CodeHigh[0], '\0'); // nothing in it before the first clear
    b->CodeHigh[0x1234] = '1';
    b->CodeLow[0xFFFF] = '2';
    ClearBuffer(*b);
    for (int32_t a = 0; a < kBufferSize; ++a)
        ASSERT_TRUE(b->CodeHigh[a] == 'F' && b->CodeLow[a] == 'F') << a;
}

} // namespace
} // namespace qvx
