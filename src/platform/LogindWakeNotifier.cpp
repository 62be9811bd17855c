#include "LogindWakeNotifier.h"

#include <QDBusConnection>

LogindWakeNotifier::LogindWakeNotifier(QObject *parent)
    : LogindWakeNotifier(QDBusConnection::systemBus(), parent)
{
}

LogindWakeNotifier::LogindWakeNotifier(const QDBusConnection &bus, QObject *parent)
    : SystemWakeNotifier(parent)
{
    QDBusConnection(bus).connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                                 QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"),
                                 this, SLOT(prepareForSleep(bool)));
}

void LogindWakeNotifier::prepareForSleep(bool starting)
{
    if (!starting)
        emit didWakeFromSleep();
}
