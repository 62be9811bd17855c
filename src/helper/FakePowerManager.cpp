#include "FakePowerManager.h"

#include <QFile>

#include <unistd.h>

FakePowerManager::FakePowerManager(const QString &recordPath, const QSet<qint64> &refusedMsecs,
                                   const QSet<qint64> &heldMsecs)
    : m_recordPath(recordPath)
    , m_refused(refusedMsecs)
{
    for (const qint64 msecs : heldMsecs)
        m_held.insert({::getuid(), msecs});
}

int FakePowerManager::scheduleWake(const QDateTime &date, uid_t owner)
{
    const qint64 msecs = date.toMSecsSinceEpoch();
    int code = 0;
    if (m_refused.contains(msecs))
        code = -22;
    else
        m_held.insert({owner, msecs});
    record(QStringLiteral("schedule"), date, owner, code);
    return code;
}

int FakePowerManager::cancelWake(const QDateTime &date, uid_t owner)
{
    const int code = m_held.remove({owner, date.toMSecsSinceEpoch()}) ? 0 : -2;
    record(QStringLiteral("cancel"), date, owner, code);
    return code;
}

void FakePowerManager::record(const QString &call, const QDateTime &date, uid_t owner, int code)
{
    const qint64 msecs = date.toMSecsSinceEpoch();
    QString seconds = msecs % 1000 == 0 ? QString::number(msecs / 1000)
                                        : QString::number(double(msecs) / 1000, 'f', 3);
    if (owner != ::getuid())
        seconds += QStringLiteral(" uid %1").arg(owner);
    QFile file(m_recordPath);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(QStringLiteral("%1 %2 -> %3\n").arg(call, seconds).arg(code).toUtf8());
}
