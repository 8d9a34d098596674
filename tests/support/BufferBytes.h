// Bytes into and out of the code buffer, which holds each byte as two hex
// digits, and the images the tests put there.
#pragma once

#include "CodeBuffer.h"

#include <cstdint>
#include <random>
#include <vector>

namespace qvx::test {

inline void PutByte(CodeBuffer& buffer, int32_t address, uint8_t byte)
{
    buffer.CodeHigh[address] = HexDigitChar(byte >> 4);
    buffer.CodeLow[address] = HexDigitChar(byte & 15);
}

// Puts `image` into the buffer from `at` on; the rest stays as it is.
inline void LoadImage(CodeBuffer& buffer, const std::vector<uint8_t>& image, int32_t at = 0)
{
    for (size_t i = 0; i < image.size(); ++i)
        PutByte(buffer, at + int32_t(i), image[i]);
}

// The byte at `address`; out of 0 to 255 where a cell holds no hex digit.
inline int32_t ByteAt(const CodeBuffer& buffer, int32_t address)
{
    return HexByteValue(buffer.CodeHigh[address], buffer.CodeLow[address]);
}

// `size` random bytes (about one in 256 of them FF), the same for a seed.
inline std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(size);
    for (uint8_t& b : bytes)
        b = uint8_t(random());
    return bytes;
}

} // namespace qvx::test
