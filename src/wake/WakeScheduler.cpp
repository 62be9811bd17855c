#include "WakeScheduler.h"

#include "ScheduledWakesSetting.h"
#include "WakeHelperConnection.h"

#include <QDebug>
#include <algorithm>

namespace {

using Status = HelperRegistration::Status;

WakeScheduler::Environment &sharedEnvironment()
{
    static WakeScheduler::Environment environment;
    return environment;
}

// Milliseconds rounded to whole seconds, halves away from zero.
qint64 roundedToWholeSecond(qint64 msecs)
{
    const qint64 seconds = msecs >= 0 ? (msecs + 500) / 1000 : -((-msecs + 500) / 1000);
    return seconds * 1000;
}

QDateTime dateOf(qint64 msecs)
{
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
}

// The usual textual form of a date in logs: UTC with a zero offset.
QString logText(qint64 msecs)
{
    return dateOf(msecs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss '+0000'"));
}

} // namespace

WakeScheduler::WakeScheduler()
    : WakeScheduler(Environment{})
{
}

WakeScheduler::WakeScheduler(Environment environment, QObject *parent)
    : QObject(parent)
    , m_environment(std::move(environment))
{
}

WakeScheduler::~WakeScheduler() = default;

WakeScheduler &WakeScheduler::shared()
{
    static WakeScheduler *instance = new WakeScheduler(sharedEnvironment());
    return *instance;
}

void WakeScheduler::setSharedEnvironment(Environment environment)
{
    sharedEnvironment() = std::move(environment);
}

QDateTime WakeScheduler::now() const
{
    return m_environment.now ? m_environment.now() : QDateTime::currentDateTimeUtc();
}

bool WakeScheduler::isOn()
{
    const QDateTime at = now();
    if (m_cachedIsOn) {
        const qint64 age = m_cachedIsOn->at.msecsTo(at);
        // A clock set back makes the age negative: read afresh then too.
        if (age >= 0 && age < m_environment.timing.isOnCacheLifetime.count())
            return m_cachedIsOn->value;
    }
    const bool value = registrationStatus() == Status::Enabled;
    m_cachedIsOn = CachedReading{value, at};
    return value;
}

HelperRegistration::Status WakeScheduler::registrationStatus() const
{
    return m_environment.registration ? m_environment.registration->status() : Status::NotFound;
}

QString WakeScheduler::approvalText() const
{
    return m_environment.registration ? m_environment.registration->approvalText() : QString();
}

void WakeScheduler::turnOn()
{
    if (m_changing)
        return;
    m_cachedIsOn.reset();
    m_lastError.reset();
    if (!m_environment.registration) {
        finishTurnOn(QStringLiteral("Wake scheduling is not available on this system."));
        return;
    }
    m_changing = true;
    QPointer<WakeScheduler> self(this);
    m_environment.registration->registerService([self](const std::optional<QString> &failure) {
        if (self)
            self->finishTurnOn(failure);
    });
}

void WakeScheduler::finishTurnOn(const std::optional<QString> &failure)
{
    m_changing = false;
    // A reading taken while the system was being asked may be stale.
    m_cachedIsOn.reset();
    // Needing approval is the expected way for registering to fail.
    if (failure && registrationStatus() != Status::RequiresApproval)
        m_lastError = *failure;
    if (registrationStatus() == Status::RequiresApproval)
        m_environment.registration->openApprovalSettings();
    emit wakeStateDidChange();
}

void WakeScheduler::turnOff()
{
    if (m_changing)
        return;
    m_cachedIsOn.reset();
    m_lastError.reset();
    // While the helper is still registered, so that it cancels every future
    // wake it holds.
    reconcile({});
    if (m_connection) {
        m_connection->invalidate();
        m_connection = nullptr;
    }
    if (!m_environment.registration) {
        finishTurnOff();
        return;
    }
    m_changing = true;
    QPointer<WakeScheduler> self(this);
    // A failure to unregister is ignored: the state shows what happened.
    m_environment.registration->unregisterService([self](const std::optional<QString> &) {
        if (self)
            self->finishTurnOff();
    });
}

void WakeScheduler::finishTurnOff()
{
    m_changing = false;
    m_cachedIsOn.reset();
    emit wakeStateDidChange();
}

void WakeScheduler::sync(const QList<QDateTime> &startDates)
{
    const qint64 nowMsecs = now().toMSecsSinceEpoch();
    QSet<qint64> desired;
    for (const QDateTime &start : startDates) {
        const qint64 wake = start.toMSecsSinceEpoch() - m_environment.timing.wakeLead.count();
        if (wake - nowMsecs > m_environment.timing.shortestAhead.count())
            desired.insert(roundedToWholeSecond(wake));
    }
    reconcile(desired);
}

void WakeScheduler::reconcile(const QSet<qint64> &desired)
{
    if (registrationStatus() != Status::Enabled && !desired.isEmpty())
        return; // nothing is asked and the stored list is kept

    const QSet<qint64> stored = ScheduledWakesSetting::read();
    const qint64 nowMsecs = now().toMSecsSinceEpoch();

    QSet<qint64> toCancel;
    for (const qint64 wake : stored) {
        // Wakes already past are not cancelled.
        if (!desired.contains(wake) && wake > nowMsecs)
            toCancel.insert(wake);
    }
    const QSet<qint64> toSchedule = QSet<qint64>(desired).subtract(stored);

    if (toCancel.isEmpty() && toSchedule.isEmpty()) {
        const bool holdsPast = std::any_of(stored.cbegin(), stored.cend(),
                                           [nowMsecs](qint64 wake) { return wake <= nowMsecs; });
        if (!holdsPast)
            return;
    }

    WakeHelperConnection *helper = registrationStatus() == Status::Enabled ? helperProxy() : nullptr;
    if (!helper) {
        // So that the next reconciliation asks for every wanted wake again.
        ScheduledWakesSetting::write({});
        return;
    }
    send(*helper, toCancel, toSchedule);
    // What was asked for, not what the helper accepted: refused wakes are
    // not asked for again while they stay wanted.
    ScheduledWakesSetting::write(desired);
}

void WakeScheduler::send(WakeHelperConnection &helper, const QSet<qint64> &toCancel,
                         const QSet<qint64> &toSchedule)
{
    const auto logUnavailable = [](const QString &description) {
        qWarning().noquote() << QStringLiteral("[TivoluxRecorder] wake helper unavailable: ") + description;
    };
    for (const qint64 wake : toCancel)
        helper.cancelWakeAt(dateOf(wake), [](bool) {}, logUnavailable);
    for (const qint64 wake : toSchedule) {
        helper.scheduleWakeAt(
            dateOf(wake),
            [wake](bool accepted) {
                if (!accepted)
                    qWarning().noquote() << QStringLiteral("[TivoluxRecorder] helper refused wake at ") + logText(wake);
            },
            logUnavailable);
    }
}

WakeHelperConnection *WakeScheduler::helperProxy()
{
    if (!m_connection) {
        if (!m_environment.connectToHelper)
            return nullptr;
        WakeHelperConnection *connection = m_environment.connectToHelper(this);
        if (!connection)
            return nullptr;
        QPointer<WakeHelperConnection> guarded(connection);
        // Forget the connection once it broke, so that the next use opens a
        // fresh one.
        connect(connection, &WakeHelperConnection::invalidated, this, [this, guarded] {
            if (m_connection == guarded)
                m_connection = nullptr;
        }, Qt::QueuedConnection);
        m_connection = connection;
    }
    return m_connection;
}
