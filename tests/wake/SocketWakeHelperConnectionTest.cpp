#include "QtPrinters.h"
#include "HelperProcess.h"
#include "SocketWakeHelperConnection.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// What happened to the messages of one connection.
struct Outcomes
{
    QList<bool> replies;
    QStringList errors;
    int invalidations = 0;

    WakeHelperConnection::Reply reply()
    {
        return [this](bool accepted) { replies.append(accepted); };
    }
    WakeHelperConnection::ErrorHandler error()
    {
        return [this](const QString &description) { errors.append(description); };
    }
    void watch(WakeHelperConnection *connection)
    {
        QObject::connect(connection, &WakeHelperConnection::invalidated, [this] { ++invalidations; });
    }
};

// Whether the connection has deleted itself; deferred deletions run only
// when asked for outside a running event loop.
bool deletedItself(const QPointer<WakeHelperConnection> &connection)
{
    return testsupport::waitUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return connection.isNull();
    });
}

QDateTime inAnHour()
{
    return QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch() + 3600, Qt::UTC);
}

TEST(SocketWakeHelperConnectionTest, MissingHelperFailsEveryMessage)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("absent.sock"));
    QPointer<WakeHelperConnection> connection = new SocketWakeHelperConnection(path);
    Outcomes outcomes;
    outcomes.watch(connection);

    connection->scheduleWakeAt(inAnHour(), outcomes.reply(), outcomes.error());
    ASSERT_TRUE(testsupport::waitUntil([&] { return outcomes.errors.size() == 1; }));
    connection->cancelWakeAt(inAnHour(), outcomes.reply(), outcomes.error());

    const QString expected = QStringLiteral("cannot talk to the helper at %1: nothing listens there").arg(path);
    EXPECT_EQ(outcomes.errors, QStringList(2, expected));
    EXPECT_TRUE(outcomes.replies.isEmpty());
    EXPECT_EQ(outcomes.invalidations, 1);
    EXPECT_TRUE(deletedItself(connection));
}

TEST(SocketWakeHelperConnectionTest, RepliesArriveAndInvalidatingStillDeliversWhatWasSent)
{
    HelperProcess helper;
    ASSERT_TRUE(helper.start({}));
    QPointer<WakeHelperConnection> connection = new SocketWakeHelperConnection(helper.socketPath());
    Outcomes outcomes;
    outcomes.watch(connection);
    const QDateTime wake = inAnHour();

    connection->scheduleWakeAt(wake, outcomes.reply(), outcomes.error());
    connection->cancelWakeAt(wake.addSecs(60), outcomes.reply(), outcomes.error());
    ASSERT_TRUE(testsupport::waitUntil([&] { return outcomes.replies.size() == 2; }));
    EXPECT_EQ(outcomes.replies, (QList<bool>{true, false}));

    for (int i = 0; i < 3; ++i)
        connection->cancelWakeAt(wake, outcomes.reply(), outcomes.error());
    connection->invalidate();

    EXPECT_TRUE(testsupport::waitUntil([&] { return helper.recordedCalls().size() == 5; }));
    EXPECT_TRUE(deletedItself(connection));
    // Answers to an invalidated connection are dropped, without errors.
    EXPECT_EQ(outcomes.replies.size(), 2);
    EXPECT_TRUE(outcomes.errors.isEmpty());
    EXPECT_EQ(outcomes.invalidations, 0);
}

} // namespace
