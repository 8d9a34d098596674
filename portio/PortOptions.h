// The options of a QVX_PORT value, after its backend's name: comma-separated
// parts, each "key=value" or a bare "key".
#pragma once

#include <charconv>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace qvx {

struct PortOption {
    std::string_view text;  // the whole part, as given
    std::string_view key;   // before the first "="
    std::string_view value; // after it; empty without one
    bool hasValue = false;  // there is an "="
};

// The parts of `options` in order; an empty text is one empty part, and a
// comma at either end or two in a row make empty parts too.
std::vector<PortOption> SplitPortOptions(std::string_view options);

// A whole number in `base` that fills all of `text` and fits `value`.
template <class T>
bool ParseInteger(std::string_view text, T& value, int base = 10)
{
    if (text.empty())
        return false;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
    return ec == std::errc() && ptr == end;
}

// The complaint about one option: `option "TEXT": WHAT`.
std::string OptionError(const PortOption& option, const std::string& what);

} // namespace qvx
