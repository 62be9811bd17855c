#include "FakeSystemd.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QStringList>
#include <QVariantMap>
#include <QUuid>

namespace {

const QString kService = QStringLiteral("org.freedesktop.systemd1");
const QString kPath = QStringLiteral("/org/freedesktop/systemd1");

// The properties of a transient unit, as names and plain values; a list of
// calendar entries becomes its texts joined by spaces.
QVariantMap propertiesOf(const QVariant &argument)
{
    QVariantMap properties;
    const QDBusArgument list = qvariant_cast<QDBusArgument>(argument);
    list.beginArray();
    while (!list.atEnd()) {
        QString name;
        QDBusVariant value;
        list.beginStructure();
        list >> name >> value;
        list.endStructure();
        QVariant plain = value.variant();
        if (plain.metaType() == QMetaType::fromType<QDBusArgument>()) {
            QStringList texts;
            const QDBusArgument entries = qvariant_cast<QDBusArgument>(plain);
            entries.beginArray();
            while (!entries.atEnd()) {
                QString base, expression;
                entries.beginStructure();
                entries >> base >> expression;
                entries.endStructure();
                texts << base << expression;
            }
            entries.endArray();
            plain = texts.join(QLatin1Char(' '));
        }
        properties.insert(name, plain);
    }
    list.endArray();
    return properties;
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
        const QString method = message.member();
        const QVariant first = message.arguments().value(0);
        Call call{method, first.toStringList().value(0, first.toString()), message.isInteractiveAuthorizationAllowed(),
                  {}};
        if (method == QLatin1String("StartTransientUnit"))
            call.properties = propertiesOf(message.arguments().value(2));
        QMutexLocker locker(&m_owner.m_mutex);
        m_owner.m_calls.append(call);
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
