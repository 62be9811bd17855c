#include "HelperProgram.h"

#include <QFile>
#include <QSet>

#include <unistd.h>

namespace {

// A power manager that arms nothing: it holds wakes by owner in memory and
// records each call as "schedule|cancel SECONDS[ uid UID] -> CODE" (the uid
// of an owner other than the helper's user). Scheduling answers -22 for the
// refused dates, cancelling -2 for a date the owner does not hold; else 0.
class FakePowerManager : public PowerManager
{
public:
    FakePowerManager(const QString &recordPath, const QSet<qint64> &refused, const QSet<qint64> &held)
        : m_recordPath(recordPath), m_refused(refused)
    {
        for (const qint64 seconds : held)
            m_held.insert({::getuid(), seconds});
    }

    int scheduleWake(const QDateTime &date, uid_t owner) override
    {
        const bool refused = m_refused.contains(date.toSecsSinceEpoch());
        if (!refused)
            m_held.insert({owner, date.toSecsSinceEpoch()});
        return record(QStringLiteral("schedule"), date, owner, refused ? -22 : 0);
    }

    int cancelWake(const QDateTime &date, uid_t owner) override
    {
        return record(QStringLiteral("cancel"), date, owner, m_held.remove({owner, date.toSecsSinceEpoch()}) ? 0 : -2);
    }

private:
    int record(const QString &call, const QDateTime &date, uid_t owner, int code)
    {
        QString seconds = QString::number(date.toSecsSinceEpoch());
        if (owner != ::getuid())
            seconds += QStringLiteral(" uid %1").arg(owner);
        QFile file(m_recordPath);
        if (file.open(QIODevice::WriteOnly | QIODevice::Append))
            file.write(QStringLiteral("%1 %2 -> %3\n").arg(call, seconds).arg(code).toUtf8());
        return code;
    }

    QString m_recordPath;
    QSet<qint64> m_refused;
    QSet<QPair<uid_t, qint64>> m_held;
};

// The record file; dates in whole seconds refused, held at the start, and "now".
const QCommandLineOption kRecord(QStringLiteral("fake-power-manager"), {}, QStringLiteral("file"));
const QCommandLineOption kRefuse(QStringLiteral("fake-refuse"), {}, QStringLiteral("seconds"));
const QCommandLineOption kHeld(QStringLiteral("fake-held"), {}, QStringLiteral("seconds"));
const QCommandLineOption kNow(QStringLiteral("fake-now"), {}, QStringLiteral("seconds"));

} // namespace

int main(int argc, char **argv)
{
    return runHelper(argc, argv, {kRecord, kRefuse, kHeld, kNow},
                     [](const HelperOptions &options) -> std::variant<HelperPower, QString> {
        const auto values = [&](const QCommandLineOption &option) {
            return options.testValues.value(option.names().constFirst());
        };
        const auto seconds = [&](const QCommandLineOption &option) {
            QSet<qint64> set;
            for (const QString &value : values(option))
                set.insert(value.toLongLong());
            return set;
        };
        if (values(kRecord).isEmpty())
            return QStringLiteral("give --fake-power-manager");
        std::function<QDateTime()> clock = &QDateTime::currentDateTimeUtc;
        if (const QSet<qint64> now = seconds(kNow); !now.isEmpty())
            clock = [at = QDateTime::fromSecsSinceEpoch(*now.cbegin(), Qt::UTC)] { return at; };
        return HelperPower{std::make_unique<FakePowerManager>(values(kRecord).constFirst(), seconds(kRefuse),
                                                              seconds(kHeld)),
                           clock};
    });
}
