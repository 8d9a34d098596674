// The 64 KB code image, held as two hex digit characters per byte, and the
// four-digit hexadecimal address counter that walks it.
#pragma once

#include <array>
#include <cstdint>

namespace qvx {

inline constexpr int32_t kBufferSize = 65536;

struct CodeBuffer {
    // Entry a holds the high and the low digit of the byte at code address a.
    // Until the first ClearBuffer an entry holds no digit ('\0').
    std::array<char, kBufferSize> CodeHigh{};
    std::array<char, kBufferSize> CodeLow{};

    // The address counter, most significant digit first.
    char AddrDigit1 = '0';
    char AddrDigit2 = '0';
    char AddrDigit3 = '0';
    char AddrDigit4 = '0';
};

// Every entry becomes "F": FF in every byte.
void ClearBuffer(CodeBuffer& buffer);

// The counter becomes 0000.
void ResetAddress(CodeBuffer& buffer);

// Advances one digit, "F" going to "0"; a non-digit is left as it is.
// True exactly when the digit now reads "0".
bool NextHexDigit(char& digit);

// Adds one to the counter with carry; true exactly on the step from FFFF to
// 0000.
bool NextAddress(CodeBuffer& buffer);

// The counter's value as a number (non-digits count as -1, as in
// HexWordValue).
int32_t CounterValue(const CodeBuffer& buffer);

// Sets the digit to the hex digit of 8*b8 + 4*b4 + 2*b2 + b1. When any
// argument is neither 0 nor 1 the digit is left unchanged.
void BitsToHexDigit(int32_t b8, int32_t b4, int32_t b2, int32_t b1, char& digit);

// 0 to 15 for "0".."9" and "A".."F"; -1 for any other character.
int32_t HexDigitValue(char c);
int32_t HexByteValue(char d1, char d2);
int32_t HexWordValue(char d1, char d2, char d3, char d4);

// The upper-case digit for a value 0 to 15.
char HexDigitChar(int32_t value);

} // namespace qvx
