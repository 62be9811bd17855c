#include "SystemdUnitTypes.h"

#include <QDBusMetaType>

using namespace SystemdUnitTypes;

void SystemdUnitTypes::registerTypes()
{
    qDBusRegisterMetaType<Property>();
    qDBusRegisterMetaType<Properties>();
    qDBusRegisterMetaType<CalendarTrigger>();
    qDBusRegisterMetaType<QList<CalendarTrigger>>();
    qDBusRegisterMetaType<ExecCommand>();
    qDBusRegisterMetaType<QList<ExecCommand>>();
    qDBusRegisterMetaType<AuxiliaryUnit>();
    qDBusRegisterMetaType<QList<AuxiliaryUnit>>();
}

QDBusArgument &operator<<(QDBusArgument &argument, const Property &property)
{
    argument.beginStructure();
    argument << property.name << property.value;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, Property &property)
{
    argument.beginStructure();
    argument >> property.name >> property.value;
    argument.endStructure();
    return argument;
}

QDBusArgument &operator<<(QDBusArgument &argument, const CalendarTrigger &trigger)
{
    argument.beginStructure();
    argument << trigger.base << trigger.expression;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, CalendarTrigger &trigger)
{
    argument.beginStructure();
    argument >> trigger.base >> trigger.expression;
    argument.endStructure();
    return argument;
}

QDBusArgument &operator<<(QDBusArgument &argument, const ExecCommand &command)
{
    argument.beginStructure();
    argument << command.path << command.arguments << command.ignoreFailure;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, ExecCommand &command)
{
    argument.beginStructure();
    argument >> command.path >> command.arguments >> command.ignoreFailure;
    argument.endStructure();
    return argument;
}

QDBusArgument &operator<<(QDBusArgument &argument, const AuxiliaryUnit &unit)
{
    argument.beginStructure();
    argument << unit.name << unit.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, AuxiliaryUnit &unit)
{
    argument.beginStructure();
    argument >> unit.name >> unit.properties;
    argument.endStructure();
    return argument;
}
