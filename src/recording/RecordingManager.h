#pragma once

#include "Recording.h"
#include "RecorderError.h"
#include "StreamRecorder.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QUuid>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <variant>

class SleepActivity;
class SleepInhibitor;
class SystemWakeNotifier;
class WakeScheduler;
class ProviderConnections;

inline constexpr char kRecordingsDidChangeNotification[] = "TivoluxRecorder.recordingsDidChange";

// The one place where recordings live and change. Lives on the main thread:
// it schedules, starts on time (after asking the provider for a free
// connection), tracks, stops and deletes recordings, keeps the computer awake
// while recordings run or are due, and announces every change of the list, a
// status or a byte count through recordingsDidChange(). Every change of the
// list or of a status is saved to the index.
class RecordingManager : public QObject
{
    Q_OBJECT

public:
    struct Timing
    {
        std::chrono::milliseconds schedulePeriod{5000};
        std::chrono::milliseconds recentStartWindow{20000};
        std::chrono::milliseconds sleepLookAhead{180000};
    };

    // What the manager works with; absent pieces mean "not available here".
    struct Environment
    {
        Timing timing;
        StreamRecorder::Timing recorderTiming;
        std::shared_ptr<SleepInhibitor> sleepInhibitor;
        SystemWakeNotifier *wakeNotifier = nullptr;
        WakeScheduler *wakeScheduler = nullptr;           // default: the shared one
        std::shared_ptr<ProviderConnections> provider;     // default: a new one
        // The wall clock for every date the manager sets or compares, and
        // the one its recorders measure their end against unless
        // recorderTiming has its own; empty means the system's, in UTC.
        std::function<QDateTime()> now;
    };

    static constexpr std::chrono::seconds kMarginAfterProgramme{300};
    static constexpr int kMinimumExtensionMinutes = 1;
    static constexpr int kMaximumExtensionMinutes = 240;
    static const QString kSleepActivityReason;

    RecordingManager();
    explicit RecordingManager(Environment environment, QObject *parent = nullptr);
    ~RecordingManager() override;

    // The process-wide instance, created on first access with the environment
    // set before (the application sets the platform's pieces).
    static RecordingManager &shared();
    static void setSharedEnvironment(Environment environment);

    const QList<Recording> &recordings() const { return m_recordings; }
    std::optional<Recording> recording(const QUuid &id) const;
    int scheduledCount() const;
    // Number of recordings being captured right now.
    int runningCount() const { return int(m_recorders.size()); }
    // Whether the computer is kept from idle sleep right now.
    bool isHoldingSleep() const;
    // Why the computer cannot be kept awake although it should be, while
    // that lasts (the hold is asked for again at every schedule check).
    std::optional<QString> sleepHoldFailure() const;

    std::variant<Recording, RecorderError> schedule(const RecordingRequest &request);
    std::variant<Recording, RecorderError> extend(const QUuid &id, qint64 minutes);
    void stop(const QUuid &id);
    void deleteRecording(const QUuid &id);
    void stopAll();
    // Tells every running recorder to stop and saves its recording as
    // stopped now, without waiting for the recorder to report: for when the
    // process may end within moments (the session ends, the display is gone).
    void stopAllAndSave();

    void checkSchedule();
    void updateSleepHold();
    void syncWakes();

    // The recordings folder, resolved afresh from the settings.
    QString recordingsFolderURL() const;
    static QString makeFileName(const QString &title, const QDateTime &programStart, const QUuid &id);

    // Replaces the list with the index of the current folder.
    void loadIndex();
    // Brings the wake events in line, announces the change and writes the
    // whole list to the index.
    void saveIndex();

    // Forgets every running recorder after telling it to stop; used when the
    // recordings folder changes.
    void dropRecorders();

signals:
    void recordingsDidChange();
    // The sleep hold was taken, released, failed or came back.
    void sleepHoldDidChange();

private:
    Recording *find(const QUuid &id);
    void removeAll(const QUuid &id);
    void postChange();
    QDateTime now() const;
    void checkSchedule(const QDateTime &now);
    void expire(const Recording &recording);
    void beginOrWait(const Recording &recording, const QDateTime &now);
    void finishConnectionCheck(const QUuid &id, const QString &accountKey, bool full, qint64 inUse,
                               qint64 limit);
    void startRecorder(const Recording &recording);
    void handleProgress(const QUuid &id, qint64 bytes, const CaptureGaps &gaps);
    void logGapClosed(const QUuid &id, qint64 milliseconds);
    void handleFinish(const QUuid &id, const StreamRecorder::Outcome &outcome, qint64 bytes,
                      const CaptureGaps &gaps);
    void releaseRecorder(const QUuid &id);
    void sleepHoldSettled();
    void systemDidWake();
    WakeScheduler &wakeScheduler() const;

    // Recorders are released with deleteLater, since one may be released
    // from within its own finish report.
    struct DeleteLater
    {
        void operator()(StreamRecorder *recorder) const { recorder->deleteLater(); }
    };
    using RecorderPointer = std::unique_ptr<StreamRecorder, DeleteLater>;

    Environment m_environment;
    QList<Recording> m_recordings;
    std::map<QUuid, RecorderPointer> m_recorders;
    std::unique_ptr<SleepActivity> m_sleepActivity;
    // The last failure of the sleep hold, kept until it is held again, so
    // that a failure and a recovery are each logged once.
    std::optional<QString> m_sleepHoldFailure;
    QTimer *m_scheduleTimer = nullptr;
    QSet<QUuid> m_connectionChecks;
    QHash<QString, QList<QDateTime>> m_recentStarts;
};
