#include "PortAccess.h"

#include <thread>

namespace qvx {

std::chrono::nanoseconds PortAccess::Now()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch());
}

void PortAccess::WaitUntil(std::chrono::nanoseconds deadline)
{
    using namespace std::chrono_literals;
    // Sleeping overshoots by up to a scheduler tick: sleep only while more
    // than that is left, then spin to the deadline.
    constexpr std::chrono::nanoseconds kSleepSlack = 2ms;
    for (std::chrono::nanoseconds now = Now(); now < deadline; now = Now()) {
        if (deadline - now > kSleepSlack)
            std::this_thread::sleep_for(deadline - now - kSleepSlack);
    }
}

} // namespace qvx
