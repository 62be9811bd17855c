#pragma once

#include <QObject>

// Tells when the computer has woken from sleep; the platform emits it.
class SystemWakeNotifier : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

signals:
    void didWakeFromSleep();
};
