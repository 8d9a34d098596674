// The operation log: every status text and message, and the details a
// failed check leaves, as one line each with the time of day, so that a
// bench session or a production run can be kept on record.
#pragma once

#include <string>
#include <string_view>

namespace qvx {

// "HH:MM:SS " + kind + text, the text's line breaks (CR LF, CR or LF)
// written as " / " (as a space after a colon, which heads a list). `kind` is "" for status texts and "message: " for
// messages.
std::string LogLine(const std::string& timeOfDay, std::string_view kind, std::string_view text);

} // namespace qvx
