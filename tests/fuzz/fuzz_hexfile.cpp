// libFuzzer target for the Intel HEX loader. Whatever the input, the loader
// must stay inside the buffer, leave only upper-case digits in it, and leave
// it all FF when it refuses the file.
#include "HexFile.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

// Only upper-case digits, and all FF after a refusal. Walking the whole
// buffer on every input is left out of the coverage the fuzzer steers by.
__attribute__((no_sanitize("coverage", "address", "undefined"))) static bool BufferSound(const qvx::CodeBuffer& buffer, bool refused)
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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const auto buffer = std::make_unique<qvx::CodeBuffer>();
    const qvx::HexResult result =
        qvx::LoadHexText(std::string_view(reinterpret_cast<const char*>(data), size), *buffer);

    if (!BufferSound(*buffer, !result.Ok()))
        std::abort();
    if (result.Ok() && (result.EndAddress < 0 || result.EndAddress > 0x10000 + 0xFF))
        std::abort();
    if (result.Status == qvx::HexStatus::Invalid && (result.Line < 1 || result.Error.empty()))
        std::abort();
    return 0;
}
