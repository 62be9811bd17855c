#pragma once

#include "PowerManager.h"

#include <QSet>
#include <QString>

// A power manager that arms nothing: it holds its wakes in memory and
// appends one line per call to a record file, "schedule SECONDS -> CODE" or
// "cancel SECONDS -> CODE". Scheduling answers 0, or -22 for the dates it was
// told to refuse; cancelling answers 0 for a date it holds, otherwise -2.
// Only the helper's test mode selects it.
class FakePowerManager : public PowerManager
{
public:
    FakePowerManager(const QString &recordPath, const QSet<qint64> &refusedMsecs, const QSet<qint64> &heldMsecs);

    int scheduleWake(const QDateTime &date) override;
    int cancelWake(const QDateTime &date) override;

private:
    void record(const QString &call, const QDateTime &date, int code);

    QString m_recordPath;
    QSet<qint64> m_refused;
    QSet<qint64> m_held;
};
