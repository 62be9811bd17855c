#include "WakeScheduler.h"

#include "ScheduledWakesSetting.h"
#include "WakeHelperConnection.h"

#include <QDebug>
#include <QFile>
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

// The kernel's id of the running boot: armed wakes belong to it.
QString kernelBootID()
{
    QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.readAll().trimmed());
}

} // namespace

WakeScheduler::WakeScheduler()
    : WakeScheduler(Environment{})
{
}

WakeScheduler::WakeScheduler(Environment environment, QObject *parent)
    : QObject(parent)
    , m_environment(std::move(environment))
    , m_changeDeadline(new QTimer(this))
    , m_recheck(new QTimer(this))
{
    m_changeDeadline->setSingleShot(true);
    connect(m_changeDeadline, &QTimer::timeout, this, &WakeScheduler::systemAnswerLate);
    m_recheck->setSingleShot(true);
    m_recheck->setInterval(m_environment.timing.recheckPeriod);
    connect(m_recheck, &QTimer::timeout, this, [this] {
        m_refused.clear();
        sync(m_lastStartDates);
    });
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

QString WakeScheduler::bootID() const
{
    return m_environment.bootID ? m_environment.bootID() : kernelBootID();
}

bool WakeScheduler::isOn()
{
    return registrationStatus() == Status::Enabled;
}

HelperRegistration::Status WakeScheduler::registrationStatus()
{
    if (!m_environment.registration)
        return Status::NotFound;
    if (!m_reading) {
        // Nothing is known before the first reading: it is waited for, once.
        m_reading = Reading{m_environment.registration->status(), now()};
        return m_reading->value;
    }
    const qint64 age = m_reading->at.msecsTo(now());
    // A clock set back makes the age negative: read afresh then too.
    if (!m_readingPending
        && (m_reading->old || age < 0 || age >= m_environment.timing.isOnCacheLifetime.count())) {
        readAfresh([this, before = m_reading->value](Status status) {
            // Whoever shows or follows the state hears of the change, after
            // the caller that asked has had the reading it got.
            if (status != before && !isChanging())
                QTimer::singleShot(0, this, &WakeScheduler::wakeStateDidChange);
        });
    }
    return m_reading->value;
}

void WakeScheduler::readAfresh(std::function<void(Status)> then)
{
    if (!m_environment.registration)
        return then(Status::NotFound);
    const quint64 number = ++m_readingNumber;
    m_readingPending = true;
    QPointer<WakeScheduler> self(this);
    m_environment.registration->readStatus([self, number, then = std::move(then)](Status status) {
        if (!self || self->m_readingNumber != number)
            return;
        self->m_readingPending = false;
        self->m_reading = Reading{status, self->now()};
        then(status);
    });
}

QString WakeScheduler::approvalText() const
{
    return m_environment.registration ? m_environment.registration->approvalText() : QString();
}

void WakeScheduler::beginChange(Change change)
{
    m_change = change;
    ++m_changeNumber;
    m_changeDeadline->start(change == Change::Cancelling ? m_environment.timing.cancelAnswerWait
                                                         : m_environment.timing.systemAnswerWait);
}

void WakeScheduler::systemAnswerLate()
{
    switch (m_change) {
    case Change::None:
        break;
    case Change::TurningOn:
        finishTurnOn(QStringLiteral("The system did not answer in time."));
        break;
    case Change::Cancelling:
        // The helper is slow or gone: what it has not cancelled by now
        // it will not cancel.
        unregisterHelper();
        break;
    case Change::Unregistering:
        finishTurnOff();
        break;
    }
}

void WakeScheduler::turnOn()
{
    if (isChanging())
        return;
    m_lastError.reset();
    if (!m_environment.registration) {
        finishTurnOn(QStringLiteral("Wake scheduling is not available on this system."));
        return;
    }
    beginChange(Change::TurningOn);
    QPointer<WakeScheduler> self(this);
    const quint64 change = m_changeNumber;
    m_environment.registration->registerService([self, change](const std::optional<QString> &failure) {
        if (self && self->m_changeNumber == change && self->m_change == Change::TurningOn)
            self->finishTurnOn(failure);
    });
}

void WakeScheduler::finishTurnOn(const std::optional<QString> &failure)
{
    m_change = Change::None;
    m_changeDeadline->stop();
    // A reading taken while the system was being asked may be stale.
    readAfresh([this, failure](Status status) {
        // Needing approval is the expected way for registering to fail.
        if (failure && status != Status::RequiresApproval)
            m_lastError = *failure;
        if (status == Status::RequiresApproval)
            m_environment.registration->openApprovalSettings();
        emit wakeStateDidChange();
    });
}

void WakeScheduler::turnOff()
{
    if (isChanging())
        return;
    m_lastError.reset();
    beginChange(Change::Cancelling);
    // While the helper is still registered, so that it cancels every future
    // wake it holds; it is unregistered once it has answered every cancel.
    QPointer<WakeScheduler> self(this);
    const quint64 change = m_changeNumber;
    reconcile({}, [self, change] {
        if (self && self->m_changeNumber == change && self->m_change == Change::Cancelling)
            self->unregisterHelper();
    });
}

void WakeScheduler::unregisterHelper()
{
    if (m_connection) {
        m_connection->invalidate();
        m_connection = nullptr;
    }
    if (!m_environment.registration) {
        finishTurnOff();
        return;
    }
    beginChange(Change::Unregistering);
    QPointer<WakeScheduler> self(this);
    const quint64 change = m_changeNumber;
    // A failure to unregister is ignored: the state shows what happened.
    m_environment.registration->unregisterService([self, change](const std::optional<QString> &) {
        if (self && self->m_changeNumber == change && self->m_change == Change::Unregistering)
            self->finishTurnOff();
    });
}

void WakeScheduler::finishTurnOff()
{
    m_change = Change::None;
    m_changeDeadline->stop();
    readAfresh([this](Status) { emit wakeStateDidChange(); });
}

void WakeScheduler::sync(const QList<QDateTime> &startDates)
{
    m_lastStartDates = startDates;
    // Being turned off: nothing new is armed behind the cancels.
    if (m_change == Change::Cancelling || m_change == Change::Unregistering)
        return;
    const qint64 nowMsecs = now().toMSecsSinceEpoch();
    const Timing &timing = m_environment.timing;
    QList<qint64> inReach;
    bool outOfReach = false;
    for (const QDateTime &start : startDates) {
        const qint64 wake = start.toMSecsSinceEpoch() - timing.wakeLead.count();
        const qint64 ahead = wake - nowMsecs;
        if (ahead <= timing.shortestAhead.count())
            continue;
        if (ahead >= timing.farthestAhead.count())
            outOfReach = true;
        else
            inReach.append(roundedToWholeSecond(wake));
    }
    // The nearest ones only: the helper holds a bounded number per user.
    std::sort(inReach.begin(), inReach.end());
    inReach.erase(std::unique(inReach.begin(), inReach.end()), inReach.end());
    if (inReach.size() > timing.mostWakes) {
        inReach.resize(timing.mostWakes);
        outOfReach = true;
    }
    if (outOfReach && !m_recheck->isActive())
        m_recheck->start();
    reconcile(QSet<qint64>(inReach.cbegin(), inReach.cend()));
}

QSet<qint64> WakeScheduler::storedWakes() const
{
    // Wakes armed before the system last started are gone.
    if (ScheduledWakesSetting::boot() != bootID())
        return {};
    return ScheduledWakesSetting::read();
}

void WakeScheduler::reconcile(const QSet<qint64> &wanted, std::function<void()> whenAnswered)
{
    const auto answered = [&whenAnswered] {
        if (whenAnswered)
            whenAnswered();
    };
    // A refused wake is not asked for again before the next recheck.
    m_refused.intersect(wanted);
    const QSet<qint64> desired = QSet<qint64>(wanted).subtract(m_refused);
    if (registrationStatus() != Status::Enabled && !desired.isEmpty())
        return answered(); // nothing is asked and the stored list is kept

    const QSet<qint64> stored = storedWakes();
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
            return answered();
    }

    WakeHelperConnection *helper = registrationStatus() == Status::Enabled ? helperProxy() : nullptr;
    if (!helper) {
        // So that the next reconciliation asks for every wanted wake again.
        ScheduledWakesSetting::write({}, bootID());
        return answered();
    }
    // What was asked for: a wake the helper does not arm leaves the list
    // again when its answer comes.
    ScheduledWakesSetting::write(desired, bootID());
    send(*helper, toCancel, toSchedule, std::move(whenAnswered));
}

void WakeScheduler::send(WakeHelperConnection &helper, const QSet<qint64> &toCancel,
                         const QSet<qint64> &toSchedule, std::function<void()> whenAnswered)
{
    // Counts the answers still to come; the last one runs whenAnswered.
    auto outstanding = std::make_shared<qsizetype>(toCancel.size() + toSchedule.size());
    auto done = std::make_shared<std::function<void()>>(std::move(whenAnswered));
    const auto oneAnswered = [outstanding, done] {
        if (--*outstanding == 0 && *done)
            (*done)();
    };
    if (*outstanding == 0 && *done)
        (*done)();

    QPointer<WakeScheduler> self(this);
    const auto logUnavailable = [](const QString &description) {
        qWarning().noquote() << QStringLiteral("[TivoluxRecorder] wake helper unavailable: ") + description;
    };
    for (const qint64 wake : toCancel) {
        helper.cancelWakeAt(dateOf(wake), [oneAnswered](bool) { oneAnswered(); },
                            [oneAnswered, logUnavailable](const QString &description) {
                                logUnavailable(description);
                                oneAnswered();
                            });
    }
    for (const qint64 wake : toSchedule) {
        helper.scheduleWakeAt(
            dateOf(wake),
            [self, wake, oneAnswered](bool accepted) {
                if (!accepted) {
                    qWarning().noquote() << QStringLiteral("[TivoluxRecorder] helper refused wake at ") + logText(wake);
                    if (self) {
                        self->m_refused.insert(wake);
                        self->forget(wake);
                        if (!self->m_recheck->isActive())
                            self->m_recheck->start();
                    }
                }
                oneAnswered();
            },
            [self, wake, oneAnswered, logUnavailable](const QString &description) {
                logUnavailable(description);
                // Not armed: asked for again at the next reconciliation.
                if (self)
                    self->forget(wake);
                oneAnswered();
            });
    }
}

void WakeScheduler::forget(qint64 wake)
{
    QSet<qint64> stored = storedWakes();
    if (stored.remove(wake))
        ScheduledWakesSetting::write(stored, bootID());
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
