#include "CodeBuffer.h"

namespace qvx {

void ClearBuffer(CodeBuffer& buffer)
{
    buffer.CodeHigh.fill('F');
    buffer.CodeLow.fill('F');
}

void ResetAddress(CodeBuffer& buffer)
{
    buffer.AddrDigit1 = buffer.AddrDigit2 = buffer.AddrDigit3 = buffer.AddrDigit4 = '0';
}

bool NextHexDigit(char& digit)
{
    const int32_t value = HexDigitValue(digit);
    if (value < 0)
        return false;
    digit = HexDigitChar((value + 1) & 15);
    return digit == '0';
}

bool NextAddress(CodeBuffer& buffer)
{
    if (!NextHexDigit(buffer.AddrDigit4))
        return false;
    if (!NextHexDigit(buffer.AddrDigit3))
        return false;
    if (!NextHexDigit(buffer.AddrDigit2))
        return false;
    return NextHexDigit(buffer.AddrDigit1);
}

int32_t CounterValue(const CodeBuffer& buffer)
{
    return HexWordValue(buffer.AddrDigit1, buffer.AddrDigit2, buffer.AddrDigit3, buffer.AddrDigit4);
}

void BitsToHexDigit(int32_t b8, int32_t b4, int32_t b2, int32_t b1, char& digit)
{
    for (int32_t b : {b8, b4, b2, b1})
        if (b != 0 && b != 1)
            return;
    digit = HexDigitChar(8 * b8 + 4 * b4 + 2 * b2 + b1);
}

int32_t HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

int32_t HexByteValue(char d1, char d2) { return 16 * HexDigitValue(d1) + HexDigitValue(d2); }

int32_t HexWordValue(char d1, char d2, char d3, char d4)
{
    return 4096 * HexDigitValue(d1) + 256 * HexDigitValue(d2) + 16 * HexDigitValue(d3) + HexDigitValue(d4);
}

char HexDigitChar(int32_t value) { return "0123456789ABCDEF"[value & 15]; }

} // namespace qvx
