#include "LogindSleepInhibitor.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QTimer>

#include <unistd.h>

namespace {

// One inhibitor lock: pending until logind answers, then held (with the
// descriptor that keeps it) or failed. Dropping it closes the descriptor,
// and drops an answer still to come with the descriptor in it.
class InhibitorLock : public SleepActivity
{
public:
    explicit InhibitorLock(SleepInhibitor::Settled settled) : m_settled(std::move(settled)) {}
    ~InhibitorLock() override
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
    }

    State state() const override { return m_state; }
    QString failure() const override { return m_failure; }

    void await(const QDBusPendingCall &call)
    {
        m_watcher = std::make_unique<QDBusPendingCallWatcher>(call);
        QObject::connect(m_watcher.get(), &QDBusPendingCallWatcher::finished, m_watcher.get(), [this] {
            const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *m_watcher;
            // The reply's descriptor closes with it; keep a duplicate of our own.
            if (reply.isValid() && reply.value().isValid())
                m_descriptor = ::dup(reply.value().fileDescriptor());
            if (m_descriptor >= 0)
                settle(State::Held, {});
            else
                settle(State::Failed, reply.isError() ? reply.error().message()
                                                      : QStringLiteral("logind answered without a lock"));
        });
    }

    // Fails on the next pass of the event loop, so never within begin().
    void failSoon(const QString &failure)
    {
        m_watcher.reset();
        m_failTimer = std::make_unique<QTimer>();
        m_failTimer->setSingleShot(true);
        QObject::connect(m_failTimer.get(), &QTimer::timeout, m_failTimer.get(),
                         [this, failure] { settle(State::Failed, failure); });
        m_failTimer->start(0);
    }

private:
    void settle(State state, const QString &failure)
    {
        m_state = state;
        m_failure = failure;
        if (m_settled)
            m_settled();
    }

    SleepInhibitor::Settled m_settled;
    std::unique_ptr<QDBusPendingCallWatcher> m_watcher;
    std::unique_ptr<QTimer> m_failTimer;
    State m_state = State::Pending;
    QString m_failure;
    int m_descriptor = -1;
};

} // namespace

LogindSleepInhibitor::LogindSleepInhibitor(const QDBusConnection &bus, std::chrono::milliseconds answerWait)
    : m_bus(bus)
    , m_answerWait(answerWait)
{
}

std::unique_ptr<SleepActivity> LogindSleepInhibitor::begin(const QString &reason, Settled settled)
{
    auto lock = std::make_unique<InhibitorLock>(std::move(settled));
    if (!m_bus.isConnected()) {
        // A call on a bus that is not there would never answer.
        const QDBusError error = m_bus.lastError();
        lock->failSoon(error.isValid() ? error.message() : QStringLiteral("the system bus is not reachable"));
        return lock;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:idle") << QStringLiteral("Tivolux Recorder") << reason << QStringLiteral("block");
    lock->await(m_bus.asyncCall(call, int(m_answerWait.count())));
    return lock;
}
