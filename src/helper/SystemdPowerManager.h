#pragma once

#include "PowerManager.h"

#include <QDBusConnection>
#include <QString>

class QDBusError;

// Arms wakes through systemd: one transient timer per owner and wake date
// with WakeSystem=yes (systemd sets the real-time-clock alarm and wakes the
// computer for it), named after both, so that the same date is armed once
// per owner and cancelled by stopping that timer, and no user reaches
// another's timers. The timer starts a service that does nothing.
class SystemdPowerManager : public PowerManager
{
public:
    explicit SystemdPowerManager(const QDBusConnection &bus = QDBusConnection::systemBus());

    int scheduleWake(const QDateTime &date, uid_t owner) override;
    int cancelWake(const QDateTime &date, uid_t owner) override;

    // "tivolux-recorder-wake-UID-SECONDS" without a suffix.
    static QString unitBaseName(const QDateTime &date, uid_t owner);

private:
    QDBusError startTransientTimer(const QString &name, const QDateTime &date);
    QDBusError startUnit(const QString &unit);
    static int codeFor(const QDBusError &error);

    QDBusConnection m_bus;
};
