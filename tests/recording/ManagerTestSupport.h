#pragma once

#include "JSONCoding.h"
#include "RecordingManager.h"
#include "RecordingsFolder.h"
#include "SleepInhibitor.h"
#include "SystemWakeNotifier.h"
#include "TestSupport.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

// Counts the sleep-preventing activities the manager holds. Each settles on
// the next pass of the event loop: held, or failed while failure is set.
class CountingInhibitor : public SleepInhibitor
{
public:
    struct Activity : SleepActivity
    {
        explicit Activity(int &live) : m_live(live) { ++m_live; }
        ~Activity() override { --m_live; }
        State state() const override { return m_state; }
        QString failure() const override { return m_failure; }

        int &m_live;
        State m_state = State::Pending;
        QString m_failure;
        QObject m_context; // ends the pending answer with the activity
    };

    std::unique_ptr<SleepActivity> begin(const QString &reason, Settled settled) override
    {
        lastReason = reason;
        ++begun;
        auto activity = std::make_unique<Activity>(live);
        Activity *answered = activity.get();
        QTimer::singleShot(0, &activity->m_context, [answered, settled, failure = failure] {
            answered->m_state = failure ? SleepActivity::State::Failed : SleepActivity::State::Held;
            answered->m_failure = failure.value_or(QString());
            settled();
        });
        return activity;
    }

    int live = 0;
    int begun = 0;
    QString lastReason;
    std::optional<QString> failure;
};

// A manager on a temporary recordings folder with millisecond timings.
class ManagerTest : public ::testing::Test
{
protected:
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
        environment.timing.schedulePeriod = std::chrono::milliseconds(50);
        environment.recorderTiming.retryDelay = std::chrono::milliseconds(20);
        environment.recorderTiming.providerFullRetryDelay = std::chrono::milliseconds(20);
        environment.recorderTiming.progressInterval = std::chrono::milliseconds(20);
        environment.sleepInhibitor = inhibitor;
        environment.wakeNotifier = &wakeNotifier;
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

    static Recording value(const std::variant<Recording, RecorderError> &result)
    {
        if (const auto *error = std::get_if<RecorderError>(&result))
            ADD_FAILURE() << "unexpected error: " << error->message.toStdString();
        const auto *recording = std::get_if<Recording>(&result);
        return recording ? *recording : Recording{};
    }

    static QString errorOf(const std::variant<Recording, RecorderError> &result)
    {
        const auto *error = std::get_if<RecorderError>(&result);
        return error ? error->message : QString();
    }

    // A stored recording of a programme on air now, whose capture ends after
    // untilEnd (the index keeps whole seconds).
    static Recording due(const QString &streamURL, const QString &fileName, std::chrono::milliseconds untilEnd)
    {
        Recording r;
        r.id = QUuid::createUuid();
        r.title = r.channelName = r.channelID = fileName;
        r.streamURL = streamURL;
        r.programStart = r.startDate = now().addSecs(-60);
        r.programEnd = now().addSecs(-1);
        r.endDate = now().addMSecs(untilEnd.count());
        r.fileName = fileName;
        r.status = Recording::Status::Scheduled;
        return r;
    }

    // Writes the index that the next manager loads.
    void storeIndex(const QList<Recording> &recordings) const
    {
        testsupport::writeFile(indexPath(), sharedJSONEncoder().data(sharedJSONEncoder().encode(recordings)));
    }

    QString indexPath() const { return QDir(folder.path()).filePath(QStringLiteral("recordings.json")); }
    QString indexText() const { return QString::fromUtf8(testsupport::readFile(indexPath())); }

    static QDateTime now() { return QDateTime::currentDateTimeUtc(); }

    QTemporaryDir folder;
    std::shared_ptr<CountingInhibitor> inhibitor = std::make_shared<CountingInhibitor>();
    SystemWakeNotifier wakeNotifier;
    std::unique_ptr<RecordingManager> manager;
};
