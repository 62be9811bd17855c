#pragma once

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <chrono>
#include <functional>
#include <sys/types.h>

class PowerManager;

// The two operations the helper offers its clients, each on behalf of the
// client's user id. Scheduling refuses, without a log line, dates that are
// not later than now or lie the longest lead or more ahead; every other
// attempt reaches the power manager and logs one line. Cancelling passes
// every date to the power manager.
//
// Every client is taken as untrusted: a user holds at most a fixed number of
// wakes and may make at most a fixed number of requests a second; requests
// beyond either limit are answered false without reaching the power manager,
// with one log line per run of refusals.
class WakeService
{
public:
    struct Timing
    {
        std::chrono::seconds longestLead{2592000}; // 30 days
        // Wakes one user may hold at a time.
        int mostHeldPerUser = 256;
        // Requests one user may make within one rate window.
        int mostRequestsPerWindow = 256;
        std::chrono::milliseconds rateWindow{1000};
    };

    using Clock = std::function<QDateTime()>;
    using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;

    WakeService(PowerManager &powerManager, Clock now, Timing timing,
                SteadyClock steadyNow = &std::chrono::steady_clock::now);

    bool scheduleWakeAt(const QDateTime &date, uid_t client);
    bool cancelWakeAt(const QDateTime &date, uid_t client);

private:
    struct Client
    {
        QSet<qint64> held; // wake dates in milliseconds
        std::chrono::steady_clock::time_point windowStart;
        int requestsInWindow = 0;
        bool refusingRequests = false;
        bool refusingWakes = false;
    };

    bool withinRate(uid_t uid, Client &client);
    bool mayHoldAnother(uid_t uid, Client &client, qint64 nowMsecs);

    PowerManager &m_powerManager;
    Clock m_now;
    Timing m_timing;
    SteadyClock m_steadyNow;
    QHash<uid_t, Client> m_clients;
};
