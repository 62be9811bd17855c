#include "FakeSystemd.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QStringList>
#include <QUuid>

namespace {

const QString kService = QStringLiteral("org.freedesktop.systemd1");
const QString kPath = QStringLiteral("/org/freedesktop/systemd1");

QString describe(const QVariant &value);

QString describeNext(const QDBusArgument &argument)
{
    QStringList parts;
    switch (argument.currentType()) {
    case QDBusArgument::BasicType:
        return describe(argument.asVariant());
    case QDBusArgument::VariantType: {
        QDBusVariant variant;
        argument >> variant;
        return QLatin1Char('<') + describe(variant.variant()) + QLatin1Char('>');
    }
    case QDBusArgument::ArrayType:
        argument.beginArray();
        while (!argument.atEnd())
            parts.append(describeNext(argument));
        argument.endArray();
        return QLatin1Char('[') + parts.join(QStringLiteral(", ")) + QLatin1Char(']');
    case QDBusArgument::StructureType:
        argument.beginStructure();
        while (!argument.atEnd())
            parts.append(describeNext(argument));
        argument.endStructure();
        return QLatin1Char('(') + parts.join(QStringLiteral(", ")) + QLatin1Char(')');
    default:
        return QStringLiteral("?");
    }
}

QString describe(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<QDBusArgument>())
        return describeNext(qvariant_cast<QDBusArgument>(value));
    if (value.metaType() == QMetaType::fromType<QDBusVariant>())
        return QLatin1Char('<') + describe(value.value<QDBusVariant>().variant()) + QLatin1Char('>');
    if (value.metaType() == QMetaType::fromType<QStringList>()) {
        QStringList quoted;
        for (const QString &text : value.toStringList())
            quoted.append(QLatin1Char('"') + text + QLatin1Char('"'));
        return QLatin1Char('[') + quoted.join(QStringLiteral(", ")) + QLatin1Char(']');
    }
    if (value.metaType() == QMetaType::fromType<QString>())
        return QLatin1Char('"') + value.toString() + QLatin1Char('"');
    if (value.metaType() == QMetaType::fromType<bool>())
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    return value.toString();
}

QDBusObjectPath jobPath()
{
    return QDBusObjectPath(QStringLiteral("/org/freedesktop/systemd1/job/1"));
}

} // namespace

class FakeSystemd::Object : public QDBusVirtualObject
{
public:
    explicit Object(FakeSystemd &owner) : m_owner(owner) {}

    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        QStringList arguments;
        for (const QVariant &argument : message.arguments())
            arguments.append(describe(argument));
        const QString method = message.member();
        QMutexLocker locker(&m_owner.m_mutex);
        m_owner.m_calls.append({method, arguments.join(QStringLiteral(", ")),
                                message.isInteractiveAuthorizationAllowed()});
        if (const auto failure = m_owner.m_failures.constFind(method); failure != m_owner.m_failures.cend()) {
            const QPair<QString, QString> error = *failure;
            m_owner.m_failures.erase(failure);
            connection.send(message.createErrorReply(error.first, error.second));
            return true;
        }
        connection.send(answer(message));
        return true;
    }

private:
    // Called with the owner's mutex held.
    QDBusMessage answer(const QDBusMessage &message)
    {
        const QString method = message.member();
        const QList<QVariant> arguments = message.arguments();
        const QString first = arguments.value(0).toString();
        const QString firstFile = arguments.value(0).toStringList().value(0);
        if (method == QLatin1String("GetUnitFileState")) {
            if (!m_owner.m_unitFiles.contains(first))
                return message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.FileNotFound"),
                                                QStringLiteral("No such file or directory"));
            return message.createReply(m_owner.m_unitFiles.value(first));
        }
        if (method == QLatin1String("EnableUnitFiles") || method == QLatin1String("DisableUnitFiles")) {
            if (!m_owner.m_unitFiles.contains(firstFile))
                return message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.FileNotFound"),
                                                QStringLiteral("Unit file %1 does not exist.").arg(firstFile));
            m_owner.m_unitFiles.insert(firstFile, method == QLatin1String("EnableUnitFiles")
                                                      ? QStringLiteral("enabled")
                                                      : QStringLiteral("disabled"));
            return message.createReply(); // the list of changes is not used
        }
        if (method == QLatin1String("StartTransientUnit")) {
            if (m_owner.m_loaded.contains(first))
                return message.createErrorReply(QStringLiteral("org.freedesktop.systemd1.UnitExists"),
                                                QStringLiteral("Unit %1 was already loaded.").arg(first));
            m_owner.m_loaded.insert(first);
            m_owner.m_active.insert(first);
            return message.createReply(QVariant::fromValue(jobPath()));
        }
        if (method == QLatin1String("StartUnit")) {
            if (!m_owner.m_loaded.contains(first) && !m_owner.m_unitFiles.contains(first))
                return message.createErrorReply(QStringLiteral("org.freedesktop.systemd1.NoSuchUnit"),
                                                QStringLiteral("Unit %1 not found.").arg(first));
            m_owner.m_loaded.insert(first);
            m_owner.m_active.insert(first);
            return message.createReply(QVariant::fromValue(jobPath()));
        }
        if (method == QLatin1String("StopUnit")) {
            // A stopped unit stays loaded until it is collected.
            if (!m_owner.m_active.remove(first))
                return message.createErrorReply(QStringLiteral("org.freedesktop.systemd1.NoSuchUnit"),
                                                QStringLiteral("Unit %1 not loaded.").arg(first));
            return message.createReply(QVariant::fromValue(jobPath()));
        }
        return message.createErrorReply(QDBusError::UnknownMethod, method);
    }

    FakeSystemd &m_owner;
};

FakeSystemd::FakeSystemd(const QString &busAddress)
    : m_object(std::make_unique<Object>(*this))
    , m_connectionName(QStringLiteral("fake-systemd-") + QUuid::createUuid().toString(QUuid::WithoutBraces))
{
    m_thread.start();
    m_object->moveToThread(&m_thread);
    QDBusConnection bus = QDBusConnection::connectToBus(busAddress, m_connectionName);
    m_serving = bus.isConnected() && bus.registerService(kService)
        && bus.registerVirtualObject(kPath, m_object.get());
}

FakeSystemd::~FakeSystemd()
{
    QDBusConnection(m_connectionName).unregisterObject(kPath);
    QDBusConnection::disconnectFromBus(m_connectionName);
    m_thread.quit();
    m_thread.wait();
}

bool FakeSystemd::isServing() const
{
    return m_serving;
}

void FakeSystemd::setUnitFileState(const QString &unit, const QString &state)
{
    QMutexLocker locker(&m_mutex);
    m_unitFiles.insert(unit, state);
}

bool FakeSystemd::isActive(const QString &unit) const
{
    QMutexLocker locker(&m_mutex);
    return m_active.contains(unit);
}

void FakeSystemd::collectStoppedUnits()
{
    QMutexLocker locker(&m_mutex);
    m_loaded.intersect(m_active);
}

void FakeSystemd::failNext(const QString &method, const QString &errorName, const QString &message)
{
    QMutexLocker locker(&m_mutex);
    m_failures.insert(method, {errorName, message});
}

QList<FakeSystemd::Call> FakeSystemd::calls() const
{
    QMutexLocker locker(&m_mutex);
    return m_calls;
}

QList<FakeSystemd::Call> FakeSystemd::calls(const QString &method) const
{
    QList<Call> matching;
    for (const Call &call : calls()) {
        if (call.method == method)
            matching.append(call);
    }
    return matching;
}
