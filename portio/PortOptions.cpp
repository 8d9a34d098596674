#include "PortOptions.h"

namespace qvx {

std::vector<PortOption> SplitPortOptions(std::string_view options)
{
    std::vector<PortOption> parts;
    for (size_t start = 0;;) {
        const size_t comma = options.find(',', start);
        PortOption o;
        o.text = options.substr(start, comma == std::string_view::npos ? comma : comma - start);
        const size_t eq = o.text.find('=');
        o.key = o.text.substr(0, eq);
        o.hasValue = eq != std::string_view::npos;
        o.value = o.hasValue ? o.text.substr(eq + 1) : std::string_view();
        parts.push_back(o);
        if (comma == std::string_view::npos)
            return parts;
        start = comma + 1;
    }
}

std::string OptionError(const PortOption& option, const std::string& what)
{
    return "option \"" + std::string(option.text) + "\": " + what;
}

} // namespace qvx
