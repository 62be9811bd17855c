#pragma once

#include <QDateTime>
#include <chrono>
#include <functional>

class PowerManager;

// The two operations the helper offers the application. Scheduling refuses,
// without a log line, dates that are not later than now or lie the longest
// lead or more ahead; every other attempt reaches the power manager and logs
// one line. Cancelling passes every date to the power manager.
class WakeService
{
public:
    struct Timing
    {
        std::chrono::seconds longestLead{2592000}; // 30 days
    };

    WakeService(PowerManager &powerManager, std::function<QDateTime()> now, Timing timing);

    bool scheduleWakeAt(const QDateTime &date);
    bool cancelWakeAt(const QDateTime &date);

private:
    PowerManager &m_powerManager;
    std::function<QDateTime()> m_now;
    Timing m_timing;
};
