#pragma once

#include "HelperRegistration.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class WakeHelperConnection;

inline constexpr char kWakeStateDidChangeNotification[] = "TivoluxRecorder.wakeStateDidChange";

// Wake scheduling: with it on, the computer may sleep and is woken one minute
// before each scheduled recording by the privileged helper. The scheduler
// turns the helper's registration on and off, reports whether it is on, and
// keeps the wakes the helper was asked to hold in line with the scheduled
// recordings, remembering them across launches in the settings. Lives on the
// main thread.
class WakeScheduler : public QObject
{
    Q_OBJECT

public:
    struct Timing
    {
        // How long an on/off reading is answered without asking the system.
        std::chrono::milliseconds isOnCacheLifetime{30000};
        // How long before a recording's start the computer is woken.
        std::chrono::milliseconds wakeLead{60000};
        // A wake is placed only when it lies more than this ahead.
        std::chrono::milliseconds shortestAhead{30000};
        // ...and less than this: the helper refuses 30 days or more. A wake
        // further ahead is asked for once it comes within reach.
        std::chrono::milliseconds farthestAhead{std::chrono::hours(24 * 30) - std::chrono::minutes(10)};
        // How often wakes out of reach, and wakes the helper refused, are
        // asked for again.
        std::chrono::milliseconds recheckPeriod{std::chrono::hours(1)};
        // At most this many of the nearest wakes are held at a time.
        int mostWakes = 64;
        // Longest wait for the helper's answers to the cancels sent when
        // wake scheduling is turned off, before it is unregistered anyway.
        std::chrono::milliseconds cancelAnswerWait{5000};
        // Longest wait for the system to answer a turnOn() or turnOff(); it
        // may ask the user for an authorisation first.
        std::chrono::milliseconds systemAnswerWait{150000};
    };

    // Opens a connection to the helper (owned by parent), or answers nothing
    // when no connection can be made at all.
    using HelperConnector = std::function<WakeHelperConnection *(QObject *parent)>;

    // What the scheduler works with; without a registration the helper counts
    // as not found, without a connector no connection can be made.
    struct Environment
    {
        Timing timing;
        std::shared_ptr<HelperRegistration> registration;
        HelperConnector connectToHelper;
        std::function<QDateTime()> now; // default: the system clock
        // Names the running boot of the system; default: the kernel's boot id.
        std::function<QString()> bootID;
    };

    WakeScheduler();
    explicit WakeScheduler(Environment environment, QObject *parent = nullptr);
    ~WakeScheduler() override;

    // The process-wide instance, created on first access with the environment
    // set before (the application sets the platform's pieces).
    static WakeScheduler &shared();
    static void setSharedEnvironment(Environment environment);

    // Whether wake scheduling is on, read from the registration at most once
    // per cache lifetime.
    bool isOn();
    // Forgets the cached reading, so that the next isOn() asks the system
    // (done whenever the main window becomes key).
    void clearCachedIsOn() { m_cachedIsOn.reset(); }
    // The registration state read afresh.
    HelperRegistration::Status registrationStatus() const;
    // The failure of the last attempt to turn wake scheduling on, if any.
    std::optional<QString> lastError() const { return m_lastError; }
    // Where the user allows the helper when it awaits approval.
    QString approvalText() const;
    // Whether a turnOn() or turnOff() is waiting for answers; further
    // requests are ignored meanwhile. Every wait is bounded.
    bool isChanging() const { return m_change != Change::None; }

    // Asks the system to register the helper; wakeStateDidChange() follows
    // when the system has answered, or has not answered in time (a failure).
    void turnOn();
    // Cancels every future wake still held and waits for the helper's
    // answers, forgets the stored list and then unregisters the helper;
    // wakeStateDidChange() follows.
    void turnOff();

    // Brings the wakes in line with the start dates of the scheduled
    // recordings.
    void sync(const QList<QDateTime> &startDates);

signals:
    void wakeStateDidChange();

private:
    struct CachedReading
    {
        bool value;
        QDateTime at;
    };

    enum class Change { None, TurningOn, Cancelling, Unregistering };

    QDateTime now() const;
    QString bootID() const;
    void beginChange(Change change);
    void systemAnswerLate();
    void finishTurnOn(const std::optional<QString> &failure);
    void unregisterHelper();
    void finishTurnOff();
    QSet<qint64> storedWakes() const;
    // Sends what brings the helper in line with desired; whenAnswered runs
    // once every message sent has its answer (at once when none was sent).
    void reconcile(const QSet<qint64> &desired, std::function<void()> whenAnswered = {});
    void send(WakeHelperConnection &helper, const QSet<qint64> &toCancel, const QSet<qint64> &toSchedule,
              std::function<void()> whenAnswered);
    // A wake the helper did not arm leaves the stored list.
    void forget(qint64 wake);
    WakeHelperConnection *helperProxy();

    Environment m_environment;
    QPointer<WakeHelperConnection> m_connection;
    std::optional<QString> m_lastError;
    std::optional<CachedReading> m_cachedIsOn;
    Change m_change = Change::None;
    // Counts the changes, so that an answer that came too late is ignored.
    quint64 m_changeNumber = 0;
    QTimer *m_changeDeadline = nullptr;
    // Wakes the helper refused: not asked for again until the next recheck.
    QSet<qint64> m_refused;
    QList<QDateTime> m_lastStartDates;
    QTimer *m_recheck = nullptr;
};
