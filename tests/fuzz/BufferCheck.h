// What every HEX fuzz target checks after a load, over the whole buffer.
#pragma once

#include "CodeBuffer.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

// Walking the whole buffer on every input is left out of what the fuzzer
// steers by and instruments, which it would only slow down.
#define QVX_NOT_STEERING __attribute__((no_sanitize("coverage", "address", "undefined")))

// Only upper-case digits, and all FF after a refusal.
QVX_NOT_STEERING inline bool BufferSound(const qvx::CodeBuffer& buffer, bool refused)
{
    static const std::array<char, qvx::kBufferSize> allF = [] {
        std::array<char, qvx::kBufferSize> f;
        f.fill('F');
        return f;
    }();
    if (refused)
        return std::memcmp(buffer.CodeHigh.data(), allF.data(), allF.size()) == 0 &&
               std::memcmp(buffer.CodeLow.data(), allF.data(), allF.size()) == 0;
    // A table and plain pointers: nothing for the fuzzer to trace (clang
    // inlines no instrumented helper into an uninstrumented function).
    static const std::array<uint8_t, 256> isDigit = [] {
        std::array<uint8_t, 256> t{};
        for (const char c : std::string_view("0123456789ABCDEF"))
            t[static_cast<uint8_t>(c)] = 1;
        return t;
    }();
    const auto* high = reinterpret_cast<const uint8_t*>(buffer.CodeHigh.data());
    const auto* low = reinterpret_cast<const uint8_t*>(buffer.CodeLow.data());
    const uint8_t* digit = isDigit.data();
    unsigned sound = 1;
    for (int32_t a = 0; a < qvx::kBufferSize; ++a)
        sound &= digit[high[a]] & digit[low[a]];
    return sound != 0;
}
