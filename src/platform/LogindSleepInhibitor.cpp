#include "LogindSleepInhibitor.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>

#include <unistd.h>

namespace {

class InhibitorLock : public SleepActivity
{
public:
    explicit InhibitorLock(int descriptor) : m_descriptor(descriptor) {}
    ~InhibitorLock() override
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
    }

private:
    int m_descriptor;
};

} // namespace

std::unique_ptr<SleepActivity> LogindSleepInhibitor::begin(const QString &reason)
{
    QDBusInterface logind(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                          QStringLiteral("org.freedesktop.login1.Manager"), QDBusConnection::systemBus());
    int descriptor = -1;
    if (logind.isValid()) {
        const QDBusReply<QDBusUnixFileDescriptor> reply =
            logind.call(QStringLiteral("Inhibit"), QStringLiteral("sleep:idle"),
                        QStringLiteral("Tivolux Recorder"), reason, QStringLiteral("block"));
        // The reply's descriptor closes with it; keep a duplicate of our own.
        if (reply.isValid() && reply.value().isValid())
            descriptor = ::dup(reply.value().fileDescriptor());
    }
    return std::make_unique<InhibitorLock>(descriptor);
}
