#include "WakeService.h"

#include "PowerManager.h"

#include <QDebug>

namespace {

void log(const QString &line)
{
    qWarning().noquote() << QStringLiteral("[TivoluxRecorderHelper] ") + line;
}

} // namespace

WakeService::WakeService(PowerManager &powerManager, Clock now, Timing timing, SteadyClock steadyNow)
    : m_powerManager(powerManager)
    , m_now(std::move(now))
    , m_timing(timing)
    , m_steadyNow(std::move(steadyNow))
{
}

bool WakeService::scheduleWakeAt(const QDateTime &date, uid_t uid)
{
    Client &client = m_clients[uid];
    if (!withinRate(uid, client))
        return false;
    const QDateTime now = m_now();
    const qint64 ahead = now.msecsTo(date);
    const qint64 longest = std::chrono::duration_cast<std::chrono::milliseconds>(m_timing.longestLead).count();
    if (ahead <= 0 || ahead >= longest)
        return false;
    const qint64 msecs = date.toMSecsSinceEpoch();
    if (!client.held.contains(msecs) && !mayHoldAnother(uid, client, now.toMSecsSinceEpoch()))
        return false;
    const int result = m_powerManager.scheduleWake(date, uid);
    const QString outcome = result == 0 ? QStringLiteral("ok") : QStringLiteral("error %1").arg(result);
    log(QStringLiteral("schedule wake %1: %2")
            .arg(date.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss '+0000'")), outcome));
    if (result == 0)
        client.held.insert(msecs);
    return result == 0;
}

bool WakeService::cancelWakeAt(const QDateTime &date, uid_t uid)
{
    Client &client = m_clients[uid];
    if (!withinRate(uid, client))
        return false;
    // Whatever the answer, the wake no longer counts against the user: it
    // is gone, or it never was this user's.
    client.held.remove(date.toMSecsSinceEpoch());
    return m_powerManager.cancelWake(date, uid) == 0;
}

bool WakeService::withinRate(uid_t uid, Client &client)
{
    const auto now = m_steadyNow();
    if (client.requestsInWindow == 0 || now - client.windowStart >= m_timing.rateWindow) {
        client.windowStart = now;
        client.requestsInWindow = 0;
    }
    if (client.requestsInWindow >= m_timing.mostRequestsPerWindow) {
        if (!client.refusingRequests)
            log(QStringLiteral("refusing requests of uid %1: more than %2 in %3 ms")
                    .arg(uid)
                    .arg(m_timing.mostRequestsPerWindow)
                    .arg(m_timing.rateWindow.count()));
        client.refusingRequests = true;
        return false;
    }
    ++client.requestsInWindow;
    client.refusingRequests = false;
    return true;
}

bool WakeService::mayHoldAnother(uid_t uid, Client &client, qint64 nowMsecs)
{
    // Wakes that have passed are held no longer.
    client.held.removeIf([nowMsecs](qint64 wake) { return wake <= nowMsecs; });
    if (client.held.size() < m_timing.mostHeldPerUser) {
        client.refusingWakes = false;
        return true;
    }
    if (!client.refusingWakes)
        log(QStringLiteral("refusing wakes of uid %1: it holds %2").arg(uid).arg(client.held.size()));
    client.refusingWakes = true;
    return false;
}
