#include "FakeSystemBus.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QStringList>
#include <QUuid>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

const QString kSystemdPath = QStringLiteral("/org/freedesktop/systemd1");
const QString kLogindPath = QStringLiteral("/org/freedesktop/login1");

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

} // namespace

class FakeSystemBus::Object : public QDBusVirtualObject
{
public:
    explicit Object(FakeSystemBus &owner) : m_owner(owner) {}

    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        QMutexLocker locker(&m_owner.m_mutex);
        if (message.path() == kLogindPath)
            return answerLogind(message, connection);
        const QString method = message.member();
        const QVariant first = message.arguments().value(0);
        Call call{method, first.toStringList().value(0, first.toString()), message.isInteractiveAuthorizationAllowed(),
                  {}};
        if (method == QLatin1String("StartTransientUnit"))
            call.properties = propertiesOf(message.arguments().value(2));
        m_owner.m_calls.append(call);
        if (const auto failure = m_owner.m_failures.constFind(method); failure != m_owner.m_failures.cend()) {
            const QPair<QString, QString> error = *failure;
            m_owner.m_failures.erase(failure);
            connection.send(message.createErrorReply(error.first, error.second));
            return true;
        }
        connection.send(answerSystemd(message));
        return true;
    }

private:
    // Called with the owner's mutex held.
    QDBusMessage answerSystemd(const QDBusMessage &message)
    {
        const QString method = message.member();
        const QVariant argument = message.arguments().value(0);
        const QString unit = argument.toStringList().value(0, argument.toString());
        const auto error = [&](const char *name, const QString &text) {
            return message.createErrorReply(QString::fromLatin1(name), text.arg(unit));
        };
        const QDBusMessage job = message.createReply(
            QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/freedesktop/systemd1/job/1"))));
        if (method == QLatin1String("GetUnitFileState")) {
            if (!m_owner.m_unitFiles.contains(unit))
                return error("org.freedesktop.DBus.Error.FileNotFound", QStringLiteral("No such file or directory"));
            return message.createReply(m_owner.m_unitFiles.value(unit));
        }
        if (method == QLatin1String("EnableUnitFiles") || method == QLatin1String("DisableUnitFiles")) {
            if (!m_owner.m_unitFiles.contains(unit))
                return error("org.freedesktop.DBus.Error.FileNotFound", QStringLiteral("Unit file %1 does not exist."));
            const bool enable = method == QLatin1String("EnableUnitFiles");
            m_owner.m_unitFiles.insert(unit, enable ? QStringLiteral("enabled") : QStringLiteral("disabled"));
            return message.createReply(); // the list of changes is not used
        }
        if (method == QLatin1String("StartTransientUnit") && m_owner.m_loaded.contains(unit))
            return error("org.freedesktop.systemd1.UnitExists", QStringLiteral("Unit %1 was already loaded."));
        if (method == QLatin1String("StartUnit") && !m_owner.m_loaded.contains(unit)
            && !m_owner.m_unitFiles.contains(unit))
            return error("org.freedesktop.systemd1.NoSuchUnit", QStringLiteral("Unit %1 not found."));
        if (method == QLatin1String("StartTransientUnit") || method == QLatin1String("StartUnit")) {
            m_owner.m_loaded.insert(unit);
            m_owner.m_active.insert(unit);
            return job;
        }
        // A stopped unit stays loaded until it is collected.
        if (method == QLatin1String("StopUnit"))
            return m_owner.m_active.remove(unit) ? job : error("org.freedesktop.systemd1.NoSuchUnit",
                                                               QStringLiteral("Unit %1 not loaded."));
        return message.createErrorReply(QDBusError::UnknownMethod, method);
    }

    // Called with the owner's mutex held.
    bool answerLogind(const QDBusMessage &message, const QDBusConnection &connection)
    {
        if (message.member() != QLatin1String("Inhibit")) {
            connection.send(message.createErrorReply(QDBusError::UnknownMethod, message.member()));
            return true;
        }
        ++m_owner.m_inhibitCalls;
        if (m_owner.m_inhibit == Inhibit::Refuse)
            connection.send(message.createErrorReply(QDBusError::AccessDenied, QStringLiteral("Permission denied")));
        if (m_owner.m_inhibit != Inhibit::Grant)
            return true;
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            return false;
        if (m_owner.m_lockWriteEnd >= 0)
            ::close(m_owner.m_lockWriteEnd);
        m_owner.m_lockWriteEnd = ends[1];
        // The reply holds its own duplicate of the read end.
        connection.send(message.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(ends[0]))));
        ::close(ends[0]);
        return true;
    }

    FakeSystemBus &m_owner;
};

FakeSystemBus::FakeSystemBus()
    : m_object(std::make_unique<Object>(*this))
    , m_connectionName(QStringLiteral("fake-system-") + QUuid::createUuid().toString(QUuid::WithoutBraces))
{
    m_daemon.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                   QStringLiteral("--nopidfile"), QStringLiteral("--print-address")});
    while (m_daemon.waitForStarted(5000) && !m_daemon.canReadLine() && m_daemon.waitForReadyRead(5000)) {
    }
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    m_thread.start();
    m_object->moveToThread(&m_thread);
    QDBusConnection bus = QDBusConnection::connectToBus(m_address, m_connectionName);
    m_serving = !m_address.isEmpty() && bus.isConnected()
        && bus.registerService(QStringLiteral("org.freedesktop.systemd1"))
        && bus.registerService(QStringLiteral("org.freedesktop.login1"))
        && bus.registerVirtualObject(kSystemdPath, m_object.get())
        && bus.registerVirtualObject(kLogindPath, m_object.get());
}

FakeSystemBus::~FakeSystemBus()
{
    QDBusConnection(m_connectionName).unregisterObject(kSystemdPath);
    QDBusConnection(m_connectionName).unregisterObject(kLogindPath);
    QDBusConnection::disconnectFromBus(m_connectionName);
    m_thread.quit();
    m_thread.wait();
    if (m_lockWriteEnd >= 0)
        ::close(m_lockWriteEnd);
    m_daemon.terminate();
    if (!m_daemon.waitForFinished(5000))
        m_daemon.kill();
    m_daemon.waitForFinished(5000);
}

void FakeSystemBus::setUnitFileState(const QString &unit, const QString &state)
{
    QMutexLocker locker(&m_mutex);
    m_unitFiles.insert(unit, state);
}

bool FakeSystemBus::isActive(const QString &unit) const
{
    QMutexLocker locker(&m_mutex);
    return m_active.contains(unit);
}

void FakeSystemBus::collectStoppedUnits()
{
    QMutexLocker locker(&m_mutex);
    m_loaded.intersect(m_active);
}

void FakeSystemBus::failNext(const QString &method, const QString &errorName, const QString &message)
{
    QMutexLocker locker(&m_mutex);
    m_failures.insert(method, {errorName, message});
}

QList<FakeSystemBus::Call> FakeSystemBus::calls(const QString &method) const
{
    QMutexLocker locker(&m_mutex);
    QList<Call> matching;
    for (const Call &call : m_calls) {
        if (method.isEmpty() || call.method == method)
            matching.append(call);
    }
    return matching;
}

void FakeSystemBus::answerInhibitWith(Inhibit answer)
{
    QMutexLocker locker(&m_mutex);
    m_inhibit = answer;
}

int FakeSystemBus::inhibitCalls() const
{
    QMutexLocker locker(&m_mutex);
    return m_inhibitCalls;
}

bool FakeSystemBus::lockHeld() const
{
    QMutexLocker locker(&m_mutex);
    if (m_lockWriteEnd < 0)
        return false;
    // Once every read end is closed the write end reports an error.
    pollfd watched{m_lockWriteEnd, POLLOUT, 0};
    return ::poll(&watched, 1, 0) >= 0 && !(watched.revents & (POLLERR | POLLHUP));
}

void FakeSystemBus::sendPrepareForSleep(bool starting)
{
    QDBusMessage signal = QDBusMessage::createSignal(kLogindPath, QStringLiteral("org.freedesktop.login1.Manager"),
                                                     QStringLiteral("PrepareForSleep"));
    signal << starting;
    QDBusConnection(m_connectionName).send(signal);
}
