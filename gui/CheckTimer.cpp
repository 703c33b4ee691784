#include "gui/CheckTimer.h"

#include <algorithm>
#include <limits>

namespace {

// QTimer counts in int; longer intervals than it can hold run at its longest.
int TimerInterval(std::uint32_t milliseconds)
{
    return static_cast<int>(std::min<std::uint32_t>(milliseconds, std::numeric_limits<int>::max()));
}

} // namespace

TCheckTimer::TCheckTimer()
{
    FTimer.setObjectName(QStringLiteral("CheckTimer"));
    // A coarse timer may fire a twentieth of the interval early or late; a check is due one
    // full interval after the last.
    FTimer.setTimerType(Qt::PreciseTimer);
    FTimer.setInterval(TimerInterval(FInterval));
}

void TCheckTimer::SetEnabled(bool enabled)
{
    if (!enabled)
        FTimer.stop();
    else if (!FTimer.isActive())
        FTimer.start();
}

void TCheckTimer::SetInterval(std::uint32_t milliseconds)
{
    FInterval = milliseconds;
    FTimer.setInterval(TimerInterval(milliseconds));
}
