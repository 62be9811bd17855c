#include "HelperProgram.h"

#include <QFile>
#include <QSet>

#include <unistd.h>

namespace {

// A power manager that arms nothing: it holds its wakes in memory and
// appends one line per call to a record file, "schedule SECONDS -> CODE" or
// "cancel SECONDS -> CODE" (whole seconds), with " uid UID" after them for an owner
// other than the helper's own user. Scheduling answers 0, or -22 for the
// dates it was told to refuse; cancelling answers 0 for a date the owner
// holds, otherwise -2. The wakes given at the start belong to the helper's
// own user.
class FakePowerManager : public PowerManager
{
public:
    FakePowerManager(const QString &recordPath, const QSet<qint64> &refusedMsecs, const QSet<qint64> &heldMsecs)
        : m_recordPath(recordPath), m_refused(refusedMsecs)
    {
        for (const qint64 msecs : heldMsecs)
            m_held.insert({::getuid(), msecs});
    }

    int scheduleWake(const QDateTime &date, uid_t owner) override
    {
        const int code = m_refused.contains(date.toMSecsSinceEpoch()) ? -22 : 0;
        if (code == 0)
            m_held.insert({owner, date.toMSecsSinceEpoch()});
        return record(QStringLiteral("schedule"), date, owner, code);
    }

    int cancelWake(const QDateTime &date, uid_t owner) override
    {
        const int code = m_held.remove({owner, date.toMSecsSinceEpoch()}) ? 0 : -2;
        return record(QStringLiteral("cancel"), date, owner, code);
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

// Where the record goes; the dates in whole seconds that the fake refuses,
// that it holds from the start, and that are taken as the current time.
const QCommandLineOption kRecord(QStringLiteral("fake-power-manager"), {}, QStringLiteral("file"));
const QCommandLineOption kRefuse(QStringLiteral("fake-refuse"), {}, QStringLiteral("seconds"));
const QCommandLineOption kHeld(QStringLiteral("fake-held"), {}, QStringLiteral("seconds"));
const QCommandLineOption kNow(QStringLiteral("fake-now"), {}, QStringLiteral("seconds"));

// Whole seconds as milliseconds, or nothing when one is not a number.
std::optional<QSet<qint64>> msecsOf(const QStringList &values)
{
    QSet<qint64> set;
    for (const QString &value : values) {
        bool ok = false;
        const qint64 seconds = value.toLongLong(&ok);
        if (!ok || seconds > 1000000000000LL || seconds < -1000000000000LL)
            return std::nullopt;
        set.insert(seconds * 1000);
    }
    return set;
}

} // namespace

// The helper as the tests run it: the installed program's code with a fake
// power manager that arms nothing and records every call.
int main(int argc, char **argv)
{
    return runHelper(argc, argv, {kRecord, kRefuse, kHeld, kNow},
                     [](const HelperOptions &options) -> std::variant<HelperPower, QString> {
        const auto values = [&](const QCommandLineOption &option) {
            return options.testValues.value(option.names().constFirst());
        };
        const std::optional<QSet<qint64>> refused = msecsOf(values(kRefuse));
        const std::optional<QSet<qint64>> held = msecsOf(values(kHeld));
        const std::optional<QSet<qint64>> now = msecsOf(values(kNow));
        if (values(kRecord).size() != 1 || options.socketPath.isEmpty())
            return QStringLiteral("give --socket and --fake-power-manager once");
        if (!refused || !held || !now || now->size() > 1)
            return QStringLiteral("--fake-refuse, --fake-held and --fake-now take whole seconds");
        std::function<QDateTime()> clock = &QDateTime::currentDateTimeUtc;
        if (!now->isEmpty())
            clock = [at = QDateTime::fromMSecsSinceEpoch(*now->cbegin(), Qt::UTC)] { return at; };
        return HelperPower{std::make_unique<FakePowerManager>(values(kRecord).constFirst(), *refused, *held), clock};
    });
}
