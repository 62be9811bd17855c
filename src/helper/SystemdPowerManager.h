#pragma once

#include "PowerManager.h"

#include <QDBusConnection>
#include <QString>

class QDBusError;

// Arms wakes through systemd: one transient timer per wake date with
// WakeSystem=yes (systemd sets the real-time-clock alarm and wakes the
// computer for it), named after the date so that the same date is armed
// once and cancelled by stopping that timer. The timer starts a service that
// does nothing.
class SystemdPowerManager : public PowerManager
{
public:
    explicit SystemdPowerManager(const QDBusConnection &bus = QDBusConnection::systemBus());

    int scheduleWake(const QDateTime &date) override;
    int cancelWake(const QDateTime &date) override;

    // "tivolux-recorder-wake-SECONDS" without a suffix.
    static QString unitBaseName(const QDateTime &date);

private:
    static int codeFor(const QDBusError &error);

    QDBusConnection m_bus;
};
