// libFuzzer target for the CONFIG.QVX parser. Whatever the text, it reads
// within it, and each of the five values is either 0 (no such field) or the
// sum of four digit values, each -1 to 15.
#include "Config.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    int32_t values[5] = {1, 2, 3, 4, 5};
    qvx::ParseConfig(text, values);
    for (int32_t v : values)
        if (v < -4096 - 256 - 16 - 1 || v > 0xFFFF)
            std::abort();
    // A text without an opening bracket gives zeros throughout.
    if (text.find('[') == std::string::npos)
        for (int32_t v : values)
            if (v != 0)
                std::abort();
    return 0;
}
