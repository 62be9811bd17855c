#pragma once

#include <QDBusArgument>
#include <QDBusVariant>
#include <QList>
#include <QString>
#include <QStringList>

// The D-Bus shapes of systemd's StartTransientUnit arguments.
namespace SystemdUnitTypes {

// (sv): one unit property.
struct Property
{
    QString name;
    QDBusVariant value;
};
using Properties = QList<Property>;

// (ss): one timer trigger, e.g. ("OnCalendar", "2026-01-01 00:00:00 UTC").
struct CalendarTrigger
{
    QString base;
    QString expression;
};

// (sasb): one command line of a service.
struct ExecCommand
{
    QString path;
    QStringList arguments;
    bool ignoreFailure = false;
};

// (sa(sv)): a unit created together with the main one.
struct AuxiliaryUnit
{
    QString name;
    Properties properties;
};

// Makes the types above known to Qt's D-Bus marshalling; call once.
void registerTypes();

} // namespace SystemdUnitTypes

Q_DECLARE_METATYPE(SystemdUnitTypes::Property)
Q_DECLARE_METATYPE(SystemdUnitTypes::CalendarTrigger)
Q_DECLARE_METATYPE(SystemdUnitTypes::ExecCommand)
Q_DECLARE_METATYPE(SystemdUnitTypes::AuxiliaryUnit)

QDBusArgument &operator<<(QDBusArgument &argument, const SystemdUnitTypes::Property &property);
const QDBusArgument &operator>>(const QDBusArgument &argument, SystemdUnitTypes::Property &property);
QDBusArgument &operator<<(QDBusArgument &argument, const SystemdUnitTypes::CalendarTrigger &trigger);
const QDBusArgument &operator>>(const QDBusArgument &argument, SystemdUnitTypes::CalendarTrigger &trigger);
QDBusArgument &operator<<(QDBusArgument &argument, const SystemdUnitTypes::ExecCommand &command);
const QDBusArgument &operator>>(const QDBusArgument &argument, SystemdUnitTypes::ExecCommand &command);
QDBusArgument &operator<<(QDBusArgument &argument, const SystemdUnitTypes::AuxiliaryUnit &unit);
const QDBusArgument &operator>>(const QDBusArgument &argument, SystemdUnitTypes::AuxiliaryUnit &unit);
