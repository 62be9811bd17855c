#pragma once

#include "PowerManager.h"

#include <QSet>
#include <QString>

// A power manager that arms nothing: it holds its wakes in memory and
// appends one line per call to a record file, "schedule SECONDS -> CODE" or
// "cancel SECONDS -> CODE", with " uid UID" after the seconds for an owner
// other than the helper's own user. Scheduling answers 0, or -22 for the
// dates it was told to refuse; cancelling answers 0 for a date the owner
// holds, otherwise -2. The wakes given at the start belong to the helper's
// own user. Only the helper's test mode selects it.
class FakePowerManager : public PowerManager
{
public:
    FakePowerManager(const QString &recordPath, const QSet<qint64> &refusedMsecs, const QSet<qint64> &heldMsecs);

    int scheduleWake(const QDateTime &date, uid_t owner) override;
    int cancelWake(const QDateTime &date, uid_t owner) override;

private:
    void record(const QString &call, const QDateTime &date, uid_t owner, int code);

    QString m_recordPath;
    QSet<qint64> m_refused;
    QSet<QPair<uid_t, qint64>> m_held;
};
