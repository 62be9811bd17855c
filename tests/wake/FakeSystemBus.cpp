#include "FakeSystemBus.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QUuid>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

const QString kSystemdPath = QStringLiteral("/org/freedesktop/systemd1");
const QString kLogindPath = QStringLiteral("/org/freedesktop/login1");

QVariantMap propertiesOf(const QDBusArgument &list)
{
    QVariantMap properties;
    list.beginArray();
    while (!list.atEnd()) {
        QString name, base, expression;
        QDBusVariant value;
        list.beginStructure();
        list >> name >> value;
        list.endStructure();
        if (value.variant().metaType() == QMetaType::fromType<QDBusArgument>()) {
            const QDBusArgument calendar = qvariant_cast<QDBusArgument>(value.variant());
            calendar.beginArray();
            calendar.beginStructure();
            calendar >> base >> expression;
            // Each begin needs its end: the argument holds the message until then.
            calendar.endStructure();
            calendar.endArray();
            value.setVariant(base + QLatin1Char(' ') + expression);
        }
        properties.insert(name, value.variant());
    }
    list.endArray();
    return properties;
}

} // namespace

class FakeSystemBus::Object : public QDBusVirtualObject
{
public:
    explicit Object(FakeSystemBus &bus) : m_bus(bus) {}

    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        QMutexLocker locker(&m_bus.m_mutex);
        const QDBusMessage reply = message.path() == kLogindPath ? inhibit(message) : answerSystemd(message);
        if (reply.type() != QDBusMessage::InvalidMessage)
            connection.send(reply);
        return true;
    }

private:
    QDBusMessage answerSystemd(const QDBusMessage &message)
    {
        const QString method = message.member();
        const QVariant first = message.arguments().value(0);
        const QString unit = first.toStringList().value(0, first.toString());
        Call call{method, unit, message.isInteractiveAuthorizationAllowed(), {}};
        if (method == QLatin1String("StartTransientUnit"))
            call.properties = propertiesOf(qvariant_cast<QDBusArgument>(message.arguments().value(2)));
        m_bus.m_calls.append(call);
        const auto error = [&](const char *name, const char *text) {
            return message.createErrorReply(QLatin1String(name), QString::fromLatin1(text).arg(unit));
        };
        if (m_bus.m_refused.remove(method))
            return error("org.freedesktop.DBus.Error.AccessDenied", "Access denied");
        if (method.endsWith(QLatin1String("UnitFiles")) || method == QLatin1String("GetUnitFileState")) {
            if (!m_bus.m_unitFiles.contains(unit))
                return error("org.freedesktop.DBus.Error.FileNotFound", "Unit file %1 does not exist.");
            if (method != QLatin1String("GetUnitFileState"))
                m_bus.m_unitFiles[unit] = method.startsWith(QLatin1Char('E')) ? "enabled" : "disabled";
            return message.createReply(m_bus.m_unitFiles.value(unit));
        }
        if (method == QLatin1String("StartTransientUnit") && m_bus.m_loaded.contains(unit))
            return error("org.freedesktop.systemd1.UnitExists", "Unit %1 was already loaded.");
        if (method.startsWith(QLatin1String("Start"))) {
            m_bus.m_loaded.insert(unit);
            m_bus.m_active.insert(unit);
        } else if (!m_bus.m_active.remove(unit)) { // StopUnit; the stopped unit stays loaded
            return error("org.freedesktop.systemd1.NoSuchUnit", "Unit %1 not loaded.");
        }
        return message.createReply(QVariant::fromValue(QDBusObjectPath("/org/freedesktop/systemd1/job/1")));
    }

    QDBusMessage inhibit(const QDBusMessage &message)
    {
        int ends[2];
        if (m_bus.m_inhibit == Inhibit::Refuse)
            return message.createErrorReply(QDBusError::AccessDenied, QStringLiteral("Permission denied"));
        if (m_bus.m_inhibit == Inhibit::Silence || ::pipe2(ends, O_CLOEXEC) != 0)
            return {};
        if (m_bus.m_lockWriteEnd >= 0)
            ::close(m_bus.m_lockWriteEnd);
        m_bus.m_lockWriteEnd = ends[1];
        const QDBusUnixFileDescriptor lock(ends[0]); // holds a duplicate of its own
        ::close(ends[0]);
        return message.createReply(QVariant::fromValue(lock));
    }

    FakeSystemBus &m_bus;
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
    m_daemon.kill();
    m_daemon.waitForFinished(5000);
}

bool FakeSystemBus::lockHeld() const
{
    QMutexLocker locker(&m_mutex);
    // Once every read end is closed the write end reports an error.
    pollfd watched{m_lockWriteEnd, POLLOUT, 0};
    return m_lockWriteEnd >= 0 && ::poll(&watched, 1, 0) >= 0 && !(watched.revents & (POLLERR | POLLHUP));
}

void FakeSystemBus::sendPrepareForSleep(bool starting)
{
    QDBusMessage signal = QDBusMessage::createSignal(kLogindPath, QStringLiteral("org.freedesktop.login1.Manager"),
                                                     QStringLiteral("PrepareForSleep"));
    QDBusConnection(m_connectionName).send(signal << starting);
}
