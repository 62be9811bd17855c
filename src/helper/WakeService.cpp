#include "WakeService.h"

#include "PowerManager.h"

#include <QDebug>

WakeService::WakeService(PowerManager &powerManager, std::function<QDateTime()> now, Timing timing)
    : m_powerManager(powerManager)
    , m_now(std::move(now))
    , m_timing(timing)
{
}

bool WakeService::scheduleWakeAt(const QDateTime &date)
{
    const qint64 ahead = m_now().msecsTo(date);
    const qint64 longest = std::chrono::duration_cast<std::chrono::milliseconds>(m_timing.longestLead).count();
    if (ahead <= 0 || ahead >= longest)
        return false;
    const int result = m_powerManager.scheduleWake(date);
    const QString outcome = result == 0 ? QStringLiteral("ok") : QStringLiteral("error %1").arg(result);
    qWarning().noquote() << QStringLiteral("[TivoluxRecorderHelper] schedule wake %1: %2")
                                .arg(date.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss '+0000'")), outcome);
    return result == 0;
}

bool WakeService::cancelWakeAt(const QDateTime &date)
{
    return m_powerManager.cancelWake(date) == 0;
}
