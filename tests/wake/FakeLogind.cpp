#include "FakeLogind.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QDBusVirtualObject>
#include <QUuid>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kInterface = QStringLiteral("org.freedesktop.login1.Manager");

} // namespace

class FakeLogind::Object : public QDBusVirtualObject
{
public:
    explicit Object(FakeLogind &owner) : m_owner(owner) {}

    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        if (message.member() != QLatin1String("Inhibit")) {
            connection.send(message.createErrorReply(QDBusError::UnknownMethod, message.member()));
            return true;
        }
        QMutexLocker locker(&m_owner.m_mutex);
        ++m_owner.m_inhibitCalls;
        switch (m_owner.m_answer) {
        case Answer::Silence:
            break;
        case Answer::Refuse:
            connection.send(message.createErrorReply(QDBusError::AccessDenied, QStringLiteral("Permission denied")));
            break;
        case Answer::Grant: {
            int ends[2];
            if (::pipe2(ends, O_CLOEXEC) != 0)
                return false;
            if (m_owner.m_lockWriteEnd >= 0)
                ::close(m_owner.m_lockWriteEnd);
            m_owner.m_lockWriteEnd = ends[1];
            // The reply holds its own duplicate of the read end.
            connection.send(message.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(ends[0]))));
            ::close(ends[0]);
            break;
        }
        }
        return true;
    }

private:
    FakeLogind &m_owner;
};

FakeLogind::FakeLogind(const QString &busAddress)
    : m_object(std::make_unique<Object>(*this))
    , m_connectionName(QStringLiteral("fake-logind-") + QUuid::createUuid().toString(QUuid::WithoutBraces))
{
    m_thread.start();
    m_object->moveToThread(&m_thread);
    QDBusConnection bus = QDBusConnection::connectToBus(busAddress, m_connectionName);
    m_serving = bus.isConnected() && bus.registerService(kService) && bus.registerVirtualObject(kPath, m_object.get());
}

FakeLogind::~FakeLogind()
{
    QDBusConnection(m_connectionName).unregisterObject(kPath);
    QDBusConnection::disconnectFromBus(m_connectionName);
    m_thread.quit();
    m_thread.wait();
    if (m_lockWriteEnd >= 0)
        ::close(m_lockWriteEnd);
}

void FakeLogind::answerWith(Answer answer)
{
    QMutexLocker locker(&m_mutex);
    m_answer = answer;
}

int FakeLogind::inhibitCalls() const
{
    QMutexLocker locker(&m_mutex);
    return m_inhibitCalls;
}

bool FakeLogind::lockHeld() const
{
    QMutexLocker locker(&m_mutex);
    if (m_lockWriteEnd < 0)
        return false;
    // Once every read end is closed the write end reports an error.
    pollfd watched{m_lockWriteEnd, POLLOUT, 0};
    return ::poll(&watched, 1, 0) >= 0 && !(watched.revents & (POLLERR | POLLHUP));
}

void FakeLogind::sendPrepareForSleep(bool starting)
{
    QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, QStringLiteral("PrepareForSleep"));
    signal << starting;
    QDBusConnection(m_connectionName).send(signal);
}
