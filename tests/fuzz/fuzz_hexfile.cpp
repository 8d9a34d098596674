// libFuzzer target for the Intel HEX loader. Whatever the input, the loader
// must stay inside the buffer, leave only upper-case digits in it, and leave
// it all FF when it refuses the file.
#include "BufferCheck.h"
#include "HexFile.h"

#include <cstdlib>
#include <memory>
#include <string_view>

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
