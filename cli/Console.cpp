#include "Console.h"

#include <algorithm>
#include <string>

namespace qvx::cli {

namespace {
constexpr int kBarWidth = 30;
}

ConsoleView::ConsoleView(std::FILE* out, bool terminal, int verbosity)
    : out_(out), terminal_(terminal), verbosity_(verbosity), started_(std::chrono::steady_clock::now())
{
}

void ConsoleView::WriteLogLine(LogKind kind, const std::string& line)
{
    const bool shown = kind == LogKind::Message || (kind == LogKind::Status && verbosity_ >= 0) ||
                       ((kind == LogKind::Detail || kind == LogKind::Result) && verbosity_ >= -1);
    if (shown)
        WriteLog(line);
    else
        started_ = std::chrono::steady_clock::now(); // the next operation's time counts from here
}

// A bar being drawn keeps its line; the log line goes below it. The next
// operation's time counts from its status text.
void ConsoleView::WriteLog(const std::string& line)
{
    if (barShown_)
        std::fputc('\n', out_);
    barShown_ = false;
    shownPosition_ = -1;
    std::fprintf(out_, "%s\n", line.c_str());
    std::fflush(out_);
    started_ = std::chrono::steady_clock::now();
}

void ConsoleView::SetProgress(int32_t position)
{
    if (!terminal_ || verbosity_ < 0)
        return;
    position = std::clamp(position, int32_t(0), int32_t(100));
    const long seconds = static_cast<long>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started_).count());
    if (position == shownPosition_ && seconds == shownSeconds_)
        return;
    shownPosition_ = position;
    shownSeconds_ = seconds;
    const int filled = position * kBarWidth / 100;
    const std::string bar = std::string(size_t(filled), '#') + std::string(size_t(kBarWidth - filled), '.');
    std::fprintf(out_, "\r  [%s] %3d%%  %ld:%02ld", bar.c_str(), int(position), seconds / 60, seconds % 60);
    std::fflush(out_);
    barShown_ = true;
}

} // namespace qvx::cli
