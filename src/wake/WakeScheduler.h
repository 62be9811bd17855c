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

    // Whether wake scheduling is on: registrationStatus() is Enabled.
    bool isOn();
    // Marks the cached reading as old, so that the next read asks the system
    // (done whenever the main window becomes key).
    void clearCachedIsOn()
    {
        if (m_reading)
            m_reading->old = true;
    }
    // The registration state, as last read. Only the first reading is waited
    // for; once a reading is older than the cache lifetime, the system is
    // asked again in the background, and wakeStateDidChange() follows when
    // its answer differs. The saves of the recordings reach here, and the
    // system may take seconds to answer.
    HelperRegistration::Status registrationStatus();
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
    struct Reading
    {
        HelperRegistration::Status value;
        QDateTime at;
        bool old = false;
    };

    enum class Change { None, TurningOn, Cancelling, Unregistering };

    QDateTime now() const;
    QString bootID() const;
    // Asks the registration for its state without waiting; then runs with
    // the answer unless a later reading was asked for meanwhile.
    void readAfresh(std::function<void(HelperRegistration::Status)> then);
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
    std::optional<Reading> m_reading;
    // Counts the readings asked for; only the latest one's answer counts.
    quint64 m_readingNumber = 0;
    bool m_readingPending = false;
    Change m_change = Change::None;
    // Counts the changes, so that an answer that came too late is ignored.
    quint64 m_changeNumber = 0;
    QTimer *m_changeDeadline = nullptr;
    // Wakes the helper refused: not asked for again until the next recheck.
    QSet<qint64> m_refused;
    QList<QDateTime> m_lastStartDates;
    QTimer *m_recheck = nullptr;
};
