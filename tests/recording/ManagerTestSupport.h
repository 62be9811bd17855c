#pragma once

#include "FakeProvider.h"
#include "JSONCoding.h"
#include "LogCapture.h"
#include "RecordingIndex.h"
#include "RecordingManager.h"
#include "RecordingsFolder.h"
#include "SleepInhibitor.h"
#include "SystemWakeNotifier.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

// A stream address that never answers: nothing listens on port 1.
inline const QString kDeadStream = QStringLiteral("http://127.0.0.1:1/stream.ts");

// Counts the sleep-preventing activities the manager holds. Each settles on
// the next pass of the event loop: held, or failed while failure is set.
struct CountingInhibitor : SleepInhibitor
{
    struct Activity : SleepActivity
    {
        explicit Activity(int &live) : m_live(++live) {}
        ~Activity() override { --m_live; }
        State state() const override { return m_state; }
        QString failure() const override { return m_failure; }

        int &m_live;
        State m_state = State::Pending;
        QString m_failure;
        QObject m_context; // ends the pending answer with the activity
    };

    std::unique_ptr<SleepActivity> begin(const QString &, Settled settled) override
    {
        ++begun;
        auto activity = std::make_unique<Activity>(live);
        QTimer::singleShot(0, &activity->m_context, [a = activity.get(), settled, failure = failure] {
            a->m_state = failure ? SleepActivity::State::Failed : SleepActivity::State::Held;
            a->m_failure = failure.value_or(QString());
            settled();
        });
        return activity;
    }

    int live = 0;
    int begun = 0;
    std::optional<QString> failure;
};

// A manager on a temporary recordings folder and the test's clock, with
// millisecond recorder timings. The schedule timer is an hour: tests move
// the clock and call checkSchedule() themselves.
class ManagerTest : public ::testing::Test
{
protected:
    using Status = Recording::Status;

    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        QSettings().setValue(QLatin1String(kFolderPathSettingKey), folder.path());
    }
    void TearDown() override
    {
        manager.reset();
        testsupport::clearSettings();
    }

    RecordingManager &makeManager(const std::function<void(RecordingManager::Environment &)> &adjust = {})
    {
        RecordingManager::Environment environment;
        environment.timing.schedulePeriod = 1h;
        environment.recorderTiming.retryDelay = 20ms;
        environment.recorderTiming.providerFullRetryDelay = 20ms;
        environment.recorderTiming.progressInterval = 20ms;
        environment.sleepInhibitor = inhibitor;
        environment.wakeNotifier = &wakeNotifier;
        environment.now = clock();
        if (adjust)
            adjust(environment);
        manager = std::make_unique<RecordingManager>(std::move(environment));
        return *manager;
    }

    static RecordingRequest request(const QString &streamURL, const QDateTime &start, const QDateTime &end,
                                    const QString &channelID = QStringLiteral("ch1"))
    {
        RecordingRequest r;
        r.title = QStringLiteral("Evening Film");
        r.channelName = QStringLiteral("Channel One");
        r.channelID = channelID;
        r.streamURL = streamURL;
        r.programStart = start;
        r.programEnd = end;
        return r;
    }

    // A programme on air now, for an hour.
    RecordingRequest onAir(const QString &streamURL, const QString &channelID = QStringLiteral("ch1")) const
    {
        return request(streamURL, now().addSecs(-60), now().addSecs(3600), channelID);
    }

    // An hour's programme on the dead stream, starting after the given seconds.
    RecordingRequest startingIn(qint64 seconds, const QString &channelID = QStringLiteral("ch1")) const
    {
        return request(kDeadStream, now().addSecs(seconds), now().addSecs(seconds + 3600), channelID);
    }

    static QString errorOf(const std::variant<Recording, RecorderError> &result)
    {
        const auto *error = std::get_if<RecorderError>(&result);
        return error ? error->message : QString();
    }

    static Recording value(const std::variant<Recording, RecorderError> &result)
    {
        EXPECT_EQ(errorOf(result), QString());
        return std::holds_alternative<Recording>(result) ? std::get<Recording>(result) : Recording{};
    }

    // A stored recording of a programme on air now, whose capture ends after
    // untilEnd on the test's clock.
    Recording due(const QString &streamURL, const QString &fileName, std::chrono::milliseconds untilEnd,
                  Status status = Status::Scheduled, qint64 bytes = 0) const
    {
        Recording r;
        r.id = QUuid::createUuid();
        r.title = r.channelName = r.channelID = fileName;
        r.streamURL = streamURL;
        r.programStart = r.startDate = now().addSecs(-60);
        r.programEnd = now().addSecs(-1);
        r.endDate = now().addMSecs(untilEnd.count());
        r.fileName = fileName;
        r.status = status;
        r.bytes = bytes;
        return r;
    }

    void storeIndex(const QList<Recording> &recordings) const { ASSERT_FALSE(writeIndex(folder.path(), recordings)); }

    QString path(const QString &name) const { return QDir(folder.path()).filePath(name); }
    QString indexPath() const { return path(QStringLiteral("recordings.json")); }
    QString indexText() const { return QString::fromUtf8(testsupport::readFile(indexPath())); }
    QByteArray fileOf(const Recording &r) const { return testsupport::readFile(path(r.fileName)); }
    Status statusOf(const QUuid &id) const
    {
        const auto r = manager->recording(id);
        return r ? r->status : Status::Scheduled;
    }
    bool waitFor(const QUuid &id, Status status) const
    {
        return testsupport::waitUntil([&] { return statusOf(id) == status; });
    }

    // The wall clock stands still until the test moves it on; the recorders
    // read it from their own threads.
    std::function<QDateTime()> clock() const
    {
        return [msecs = clockMsecs] { return QDateTime::fromMSecsSinceEpoch(*msecs, Qt::UTC); };
    }
    QDateTime now() const { return clock()(); }
    void advance(std::chrono::milliseconds by) { *clockMsecs += by.count(); }

    std::shared_ptr<std::atomic<qint64>> clockMsecs = std::make_shared<std::atomic<qint64>>(
        QDateTime(QDate(2030, 3, 4), QTime(20, 0), Qt::UTC).toMSecsSinceEpoch());
    QTemporaryDir folder;
    std::shared_ptr<CountingInhibitor> inhibitor = std::make_shared<CountingInhibitor>();
    SystemWakeNotifier wakeNotifier;
    std::unique_ptr<RecordingManager> manager;
};

// The manager with a local provider, for recorders that really run.
class ManagerCaptureTest : public ManagerTest
{
protected:
    QString url(const char *path) const { return provider.url(QString::fromLatin1(path)).toString(); }

    FakeProvider provider;
};
