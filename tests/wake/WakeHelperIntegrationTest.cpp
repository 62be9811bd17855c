#include "QtPrinters.h"
#include "FakeRegistration.h"
#include "HelperProcess.h"
#include "RecordingManager.h"
#include "RecordingsFolder.h"
#include "SocketWakeHelperConnection.h"
#include "TestSupport.h"
#include "WakeScheduler.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using testsupport::waitUntil;

// The recording manager hands its scheduled starts to a wake scheduler that
// reaches the helper program (with the fake power manager) over its socket;
// the scheduler's own tests prove what is sent when.
TEST(WakeHelperIntegrationTest, WakesFollowTheScheduledRecordingsUntilTurnedOff)
{
    testsupport::clearSettings();
    QTemporaryDir folder;
    QSettings().setValue(QLatin1String(kFolderPathSettingKey), folder.path());
    HelperProcess helper;
    ASSERT_TRUE(helper.start({}));
    WakeScheduler::Environment environment;
    auto registration = std::make_shared<FakeRegistration>();
    environment.registration = registration;
    environment.connectToHelper = [path = helper.socketPath()](QObject *parent) -> WakeHelperConnection * {
        return new SocketWakeHelperConnection(path, parent);
    };
    WakeScheduler scheduler(std::move(environment));
    RecordingManager::Environment managerEnvironment;
    managerEnvironment.wakeScheduler = &scheduler;
    RecordingManager manager(std::move(managerEnvironment));
    // What the main window does when the wake state changes.
    QObject::connect(&scheduler, &WakeScheduler::wakeStateDidChange, &manager, &RecordingManager::syncWakes);

    const qint64 first = QDateTime::currentSecsSinceEpoch() + 600, second = first + 600;
    QList<QUuid> ids;
    for (const qint64 start : {first, second}) {
        const QDateTime date = QDateTime::fromSecsSinceEpoch(start, Qt::UTC);
        const RecordingRequest request{QStringLiteral("Night Film"), QStringLiteral("Channel One"),
                                       QStringLiteral("ch-%1").arg(start), std::nullopt,
                                       QStringLiteral("http://127.0.0.1:9/live.ts"), std::nullopt,
                                       date, date.addSecs(3600)};
        ids << std::get<Recording>(manager.schedule(request)).id;
    }
    // The helper's record, sorted; a cancel answered 0 found its wake held.
    const auto calls = [&](const QStringList &lines) {
        return waitUntil([&] {
            QStringList recorded = helper.recordedCalls();
            recorded.sort();
            return recorded == lines;
        });
    };
    const auto line = [](const char *call, qint64 start) {
        return QStringLiteral("%1 %2 -> 0").arg(QLatin1String(call)).arg(start - 60);
    };

    scheduler.turnOn();
    ASSERT_TRUE(scheduler.isOn());
    EXPECT_TRUE(calls({line("schedule", first), line("schedule", second)}));
    manager.stop(ids.first()); // withdrawn before it started
    EXPECT_TRUE(calls({line("cancel", first), line("schedule", first), line("schedule", second)}));
    scheduler.turnOff();
    EXPECT_TRUE(
        calls({line("cancel", first), line("cancel", second), line("schedule", first), line("schedule", second)}));
    EXPECT_TRUE(waitUntil([&] { return registration->unregisterRequests == 1; }));
    testsupport::clearSettings();
}

TEST(SocketWakeHelperConnectionTest, MissingHelperFailsEveryMessage)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("absent.sock"));
    QPointer<WakeHelperConnection> connection = new SocketWakeHelperConnection(path);
    int invalidations = 0;
    QStringList errors;
    QObject::connect(connection, &WakeHelperConnection::invalidated, [&] { ++invalidations; });
    const auto reply = [&](bool) { errors.append(QStringLiteral("a reply")); };
    const auto error = [&](const QString &description) { errors.append(description); };
    const QDateTime inAnHour = QDateTime::currentDateTimeUtc().addSecs(3600);

    connection->scheduleWakeAt(inAnHour, reply, error);
    ASSERT_TRUE(waitUntil([&] { return errors.size() == 1; }));
    connection->cancelWakeAt(inAnHour, reply, error);
    const QString expected = QStringLiteral("cannot talk to the helper at %1: nothing listens there").arg(path);
    EXPECT_EQ(errors, QStringList(2, expected));
    EXPECT_EQ(invalidations, 1);
    // The connection deletes itself; deferred deletions run only when asked
    // for outside a running event loop.
    EXPECT_TRUE(waitUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return connection.isNull();
    }));
}

} // namespace
