#include "QtPrinters.h"
#include "FakeRegistration.h"
#include "HelperProcess.h"
#include "SocketWakeHelperConnection.h"
#include "TestSupport.h"
#include "WakeScheduler.h"

#include <QCoreApplication>
#include <QPointer>
#include <gtest/gtest.h>

namespace {

using testsupport::waitUntil;

// The scheduler reaches the helper program (with the fake power manager)
// over its socket; the scheduler's own tests prove what is sent when, and
// the manager's that it hands over its scheduled starts.
TEST(WakeHelperIntegrationTest, WakesFollowTheStartsUntilTurnedOffAndWithoutAHelperEveryMessageFails)
{
    HelperProcess helper;
    // Before the helper listens, the connection fails every message, is
    // invalidated once and deletes itself.
    QPointer<WakeHelperConnection> missing = new SocketWakeHelperConnection(helper.socketPath());
    QStringList errors;
    int invalidations = 0;
    QObject::connect(missing, &WakeHelperConnection::invalidated, [&] { ++invalidations; });
    const auto reply = [&](bool) { errors.append(QStringLiteral("a reply")); };
    const auto error = [&](const QString &description) { errors.append(description); };
    const QDateTime inAnHour = QDateTime::currentDateTimeUtc().addSecs(3600);
    missing->scheduleWakeAt(inAnHour, reply, error);
    ASSERT_TRUE(waitUntil([&] { return errors.size() == 1; }));
    missing->cancelWakeAt(inAnHour, reply, error);
    EXPECT_EQ(errors, QStringList(2, QStringLiteral("cannot talk to the helper at %1: nothing listens there")
                                         .arg(helper.socketPath())));
    EXPECT_EQ(invalidations, 1);
    // Deferred deletions run only when asked for outside a running event loop.
    EXPECT_TRUE(waitUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return missing.isNull();
    }));

    testsupport::clearSettings();
    ASSERT_TRUE(helper.start({}));
    auto registration = std::make_shared<FakeRegistration>();
    WakeScheduler scheduler({{}, registration, [&](QObject *parent) -> WakeHelperConnection * {
                                 return new SocketWakeHelperConnection(helper.socketPath(), parent);
                             }, {}, {}});
    const QDateTime first = QDateTime::fromSecsSinceEpoch(inAnHour.toSecsSinceEpoch(), Qt::UTC);
    const QDateTime second = first.addSecs(600);
    // The helper's record, sorted; a cancel answered 0 found its wake held.
    const auto recorded = [&](const QStringList &calls) {
        return waitUntil([&] {
            QStringList lines = helper.recordedCalls();
            lines.sort();
            return lines == calls;
        });
    };
    const auto line = [](const char *call, const QDateTime &start) {
        return QStringLiteral("%1 %2 -> 0").arg(QLatin1String(call)).arg(start.toSecsSinceEpoch() - 60);
    };

    scheduler.turnOn();
    ASSERT_TRUE(scheduler.isOn());
    scheduler.sync({first, second});
    EXPECT_TRUE(recorded({line("schedule", first), line("schedule", second)}));
    scheduler.sync({second});
    EXPECT_TRUE(recorded({line("cancel", first), line("schedule", first), line("schedule", second)}));
    scheduler.turnOff();
    EXPECT_TRUE(recorded(
        {line("cancel", first), line("cancel", second), line("schedule", first), line("schedule", second)}));
    EXPECT_TRUE(waitUntil([&] { return registration->unregisterRequests == 1; }));
    testsupport::clearSettings();
}

} // namespace
