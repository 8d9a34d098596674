#include "OperationLog.h"
#include "CommandView.h"

#include <cstdio>

namespace qvx {

std::string LogLine(const std::string& timeOfDay, std::string_view kind, std::string_view text)
{
    std::string line = timeOfDay;
    line += ' ';
    line += kind;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            // A break after a heading ("Looked for:") starts its list, not an item.
            line += line.ends_with(':') ? " " : " / ";
        } else {
            line += c;
        }
    }
    return line;
}

void CommandView::WriteLog(const std::string& line)
{
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

} // namespace qvx
