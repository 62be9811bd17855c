#include "QtPrinters.h"
#include "SocketWakeHelperConnection.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(SocketWakeHelperConnectionTest, MissingHelperFailsEveryMessage)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("absent.sock"));
    QPointer<WakeHelperConnection> connection = new SocketWakeHelperConnection(path);
    int replies = 0;
    int invalidations = 0;
    QStringList errors;
    QObject::connect(connection, &WakeHelperConnection::invalidated, [&] { ++invalidations; });
    const auto reply = [&](bool) { ++replies; };
    const auto error = [&](const QString &description) { errors.append(description); };
    const QDateTime inAnHour = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch() + 3600, Qt::UTC);

    connection->scheduleWakeAt(inAnHour, reply, error);
    ASSERT_TRUE(testsupport::waitUntil([&] { return errors.size() == 1; }));
    connection->cancelWakeAt(inAnHour, reply, error);

    const QString expected = QStringLiteral("cannot talk to the helper at %1: nothing listens there").arg(path);
    EXPECT_EQ(errors, QStringList(2, expected));
    EXPECT_EQ(replies, 0);
    EXPECT_EQ(invalidations, 1);
    // The connection deletes itself; deferred deletions run only when asked
    // for outside a running event loop.
    EXPECT_TRUE(testsupport::waitUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return connection.isNull();
    }));
}

} // namespace
