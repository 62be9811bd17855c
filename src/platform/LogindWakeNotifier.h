#pragma once

#include "SystemWakeNotifier.h"

#include <QDBusConnection>

// Emits didWakeFromSleep() when logind reports the end of a sleep
// (PrepareForSleep with false).
class LogindWakeNotifier : public SystemWakeNotifier
{
    Q_OBJECT

public:
    explicit LogindWakeNotifier(QObject *parent = nullptr);
    LogindWakeNotifier(const QDBusConnection &bus, QObject *parent = nullptr);

private slots:
    void prepareForSleep(bool starting);
};
