#include "SystemdPowerManager.h"

#include "SystemdUnitTypes.h"

#include <QDBusMessage>
#include <QDBusReply>

#include <cerrno>

using namespace SystemdUnitTypes;

namespace {

const QString kSystemdService = QStringLiteral("org.freedesktop.systemd1");
const QString kSystemdPath = QStringLiteral("/org/freedesktop/systemd1");
const QString kManagerInterface = QStringLiteral("org.freedesktop.systemd1.Manager");
// The wake itself is what matters; a timer that fires a second late is fine.
constexpr quint64 kTimerAccuracyMicroseconds = 1000000;

QDBusMessage managerCall(const QString &method)
{
    return QDBusMessage::createMethodCall(kSystemdService, kSystemdPath, kManagerInterface, method);
}

Property property(const QString &name, const QVariant &value)
{
    return Property{name, QDBusVariant(value)};
}

} // namespace

SystemdPowerManager::SystemdPowerManager(const QDBusConnection &bus)
    : m_bus(bus)
{
    registerTypes();
}

QString SystemdPowerManager::unitBaseName(const QDateTime &date, uid_t owner)
{
    const qint64 msecs = date.toMSecsSinceEpoch();
    const qint64 seconds = msecs >= 0 ? msecs / 1000 : -((-msecs + 999) / 1000);
    return QStringLiteral("tivolux-recorder-wake-%1-%2").arg(owner).arg(seconds);
}

int SystemdPowerManager::scheduleWake(const QDateTime &date, uid_t owner)
{
    const QString timer = unitBaseName(date, owner) + QStringLiteral(".timer");
    QDBusError error = startTransientTimer(unitBaseName(date, owner), date);
    if (error.name() == QLatin1String("org.freedesktop.systemd1.UnitExists")) {
        // The timer is still loaded: armed already, or stopped (perhaps just
        // now, by a cancel of the same date) and not yet unloaded. Starting it
        // arms it in either case; one unloaded meanwhile is created afresh.
        error = startUnit(timer);
        if (error.name() == QLatin1String("org.freedesktop.systemd1.NoSuchUnit"))
            error = startTransientTimer(unitBaseName(date, owner), date);
    }
    return error.isValid() ? codeFor(error) : 0;
}

QDBusError SystemdPowerManager::startTransientTimer(const QString &name, const QDateTime &date)
{
    const QString calendar = date.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'"));
    const Properties timer{
        property(QStringLiteral("Description"), QStringLiteral("Wake for a Tivolux recording")),
        property(QStringLiteral("TimersCalendar"),
                 QVariant::fromValue(QList<CalendarTrigger>{{QStringLiteral("OnCalendar"), calendar}})),
        property(QStringLiteral("WakeSystem"), true),
        property(QStringLiteral("RemainAfterElapse"), false),
        property(QStringLiteral("AccuracyUSec"), QVariant::fromValue(kTimerAccuracyMicroseconds)),
    };
    const Properties service{
        property(QStringLiteral("Description"), QStringLiteral("Wake for a Tivolux recording")),
        property(QStringLiteral("Type"), QStringLiteral("oneshot")),
        property(QStringLiteral("CollectMode"), QStringLiteral("inactive-or-failed")),
        property(QStringLiteral("ExecStart"), QVariant::fromValue(QList<ExecCommand>{
                                                  {QStringLiteral("/bin/true"), {QStringLiteral("true")}, false}})),
    };
    QDBusMessage call = managerCall(QStringLiteral("StartTransientUnit"));
    call << name + QStringLiteral(".timer") << QStringLiteral("fail") << QVariant::fromValue(timer)
         << QVariant::fromValue(QList<AuxiliaryUnit>{{name + QStringLiteral(".service"), service}});
    const QDBusReply<QDBusObjectPath> reply = m_bus.call(call);
    return reply.isValid() ? QDBusError() : reply.error();
}

QDBusError SystemdPowerManager::startUnit(const QString &unit)
{
    QDBusMessage call = managerCall(QStringLiteral("StartUnit"));
    call << unit << QStringLiteral("replace");
    const QDBusReply<QDBusObjectPath> reply = m_bus.call(call);
    return reply.isValid() ? QDBusError() : reply.error();
}

int SystemdPowerManager::cancelWake(const QDateTime &date, uid_t owner)
{
    QDBusMessage call = managerCall(QStringLiteral("StopUnit"));
    call << unitBaseName(date, owner) + QStringLiteral(".timer") << QStringLiteral("replace");
    const QDBusReply<QDBusObjectPath> reply = m_bus.call(call);
    return reply.isValid() ? 0 : codeFor(reply.error());
}

int SystemdPowerManager::codeFor(const QDBusError &error)
{
    const QString name = error.name();
    if (name == QLatin1String("org.freedesktop.systemd1.NoSuchUnit"))
        return -ENOENT;
    if (name == QLatin1String("org.freedesktop.systemd1.UnitExists"))
        return -EEXIST;
    switch (error.type()) {
    case QDBusError::AccessDenied:
        return -EACCES;
    case QDBusError::InvalidArgs:
        return -EINVAL;
    case QDBusError::NoReply:
    case QDBusError::Timeout:
        return -ETIMEDOUT;
    case QDBusError::ServiceUnknown:
    case QDBusError::Disconnected:
    case QDBusError::NoServer:
        return -ECONNREFUSED;
    default:
        return -EIO;
    }
}
