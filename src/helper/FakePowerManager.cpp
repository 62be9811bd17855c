#include "FakePowerManager.h"

#include <QFile>

FakePowerManager::FakePowerManager(const QString &recordPath, const QSet<qint64> &refusedMsecs,
                                   const QSet<qint64> &heldMsecs)
    : m_recordPath(recordPath)
    , m_refused(refusedMsecs)
    , m_held(heldMsecs)
{
}

int FakePowerManager::scheduleWake(const QDateTime &date)
{
    const qint64 msecs = date.toMSecsSinceEpoch();
    int code = 0;
    if (m_refused.contains(msecs))
        code = -22;
    else
        m_held.insert(msecs);
    record(QStringLiteral("schedule"), date, code);
    return code;
}

int FakePowerManager::cancelWake(const QDateTime &date)
{
    const int code = m_held.remove(date.toMSecsSinceEpoch()) ? 0 : -2;
    record(QStringLiteral("cancel"), date, code);
    return code;
}

void FakePowerManager::record(const QString &call, const QDateTime &date, int code)
{
    const qint64 msecs = date.toMSecsSinceEpoch();
    const QString seconds = msecs % 1000 == 0 ? QString::number(msecs / 1000)
                                              : QString::number(double(msecs) / 1000, 'f', 3);
    QFile file(m_recordPath);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(QStringLiteral("%1 %2 -> %3\n").arg(call, seconds).arg(code).toUtf8());
}
