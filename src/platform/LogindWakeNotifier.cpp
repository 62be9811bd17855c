#include "LogindWakeNotifier.h"

#include <QDBusConnection>

LogindWakeNotifier::LogindWakeNotifier(QObject *parent)
    : SystemWakeNotifier(parent)
{
    QDBusConnection::systemBus().connect(QStringLiteral("org.freedesktop.login1"),
                                         QStringLiteral("/org/freedesktop/login1"),
                                         QStringLiteral("org.freedesktop.login1.Manager"),
                                         QStringLiteral("PrepareForSleep"), this, SLOT(prepareForSleep(bool)));
}

void LogindWakeNotifier::prepareForSleep(bool starting)
{
    if (!starting)
        emit didWakeFromSleep();
}
