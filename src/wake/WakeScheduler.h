#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>

inline constexpr char kWakeStateDidChangeNotification[] = "TivoluxRecorder.wakeStateDidChange";

// Wake scheduling: with it on, the computer may sleep and is woken one minute
// before each scheduled recording. Until the helper exists it is always off
// and synchronisation does nothing.
class WakeScheduler : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    static WakeScheduler &shared();

    bool isOn() const { return false; }
    void sync(const QList<QDateTime> &startDates) { Q_UNUSED(startDates); }

signals:
    void wakeStateDidChange();
};
