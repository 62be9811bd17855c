#include "APIClient.h"
#include "FakeProvider.h"
#include "RecorderProcess.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <csignal>

// The program started while another copy already records.
namespace {

using namespace std::chrono_literals;

const QString kStream = QStringLiteral("/live.ts");

class SecondLaunch : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!RecorderProcess::apiPortIsFree())
            GTEST_SKIP() << "port " << RecorderProcess::kPort << " is in use by another program";
        ASSERT_TRUE(first.isValid());
        provider.serve(kStream, FakeProvider::Answer::slowStream(1880, 10ms));
        onAir = onAirRecording(provider.url(kStream).toString(), QStringLiteral("on air.ts"));
        first.writeIndex({onAir});
    }

    // Starts the first copy and waits until it records.
    void startFirst()
    {
        ASSERT_TRUE(first.start(true));
        ASSERT_TRUE(testsupport::waitUntil([&] { return provider.bytesSent(kStream) > 8192; }));
        indexBefore = testsupport::readFile(first.filePath(QStringLiteral("recordings.json")));
    }

    // The later launch left the index and the capture alone, and the first
    // copy still runs and records.
    void expectFirstUndisturbed()
    {
        EXPECT_EQ(provider.requestCount(kStream), 1) << "the later launch asked the provider for the stream";
        EXPECT_EQ(testsupport::readFile(first.filePath(QStringLiteral("recordings.json"))), indexBefore);
        EXPECT_EQ(first.process().state(), QProcess::Running);
        const qint64 size = QFileInfo(first.filePath(QStringLiteral("on air.ts"))).size();
        EXPECT_TRUE(testsupport::waitUntil([&] {
            return QFileInfo(first.filePath(QStringLiteral("on air.ts"))).size() > size;
        })) << "the first copy goes on recording";
    }

    QString pidText() const { return QString::number(first.process().processId()); }

    FakeProvider provider;
    Recording onAir;
    RecorderProcess first;
    QByteArray indexBefore;
};

} // namespace

TEST_F(SecondLaunch, HeadlessLaunchNamesTheRunningProcessAndFailsWithoutTouchingAnything)
{
    startFirst();
    const auto second = first.sameUser();
    QElapsedTimer elapsed;
    elapsed.start();
    const auto status = second->runToExit();
    ASSERT_TRUE(status) << "the second launch must end by itself";
    EXPECT_NE(*status, 0);
    EXPECT_LT(elapsed.elapsed(), 5000);
    const QList<QByteArray> lines = second->output().trimmed().split('\n');
    ASSERT_EQ(lines.size(), 1) << second->output().toStdString();
    EXPECT_TRUE(lines.first().contains("process " + pidText().toUtf8())) << lines.first().toStdString();
    expectFirstUndisturbed();
}

TEST_F(SecondLaunch, DesktopLaunchHandsTheWindowToTheRunningDesktopCopyAndSucceeds)
{
    first.runOnDesktop();
    startFirst();
    const auto second = first.sameUser();
    const auto status = second->runToExit();
    ASSERT_TRUE(status) << "the second launch must end by itself";
    EXPECT_EQ(*status, 0) << second->output().toStdString();
    expectFirstUndisturbed();

    // A headless launch cannot hand over and says so.
    const auto headless = first.sameUser();
    headless->setArguments({QStringLiteral("--headless")});
    const auto headlessStatus = headless->runToExit();
    ASSERT_TRUE(headlessStatus);
    EXPECT_NE(*headlessStatus, 0);
    EXPECT_TRUE(headless->output().contains("process " + pidText().toUtf8()));
}

TEST_F(SecondLaunch, AnotherUsersRecorderOnTheSameFolderIsRefused)
{
    startFirst();
    RecorderProcess other;
    ASSERT_TRUE(other.isValid());
    other.useFolder(first.folder());
    const auto status = other.runToExit();
    ASSERT_TRUE(status) << "the second launch must end by itself";
    EXPECT_NE(*status, 0);
    const QByteArray output = other.output();
    EXPECT_TRUE(output.contains("process " + pidText().toUtf8())) << output.toStdString();
    EXPECT_TRUE(output.contains(first.folder().toUtf8())) << output.toStdString();
    expectFirstUndisturbed();
}

TEST_F(SecondLaunch, LocksOfAKilledCopyDoNotBlockTheNextStart)
{
    startFirst();
    first.kill(SIGKILL);
    ASSERT_TRUE(first.waitForExit());
    ASSERT_TRUE(testsupport::waitUntil([&] { return provider.openConnections() == 0; }));

    const auto next = first.sameUser();
    ASSERT_TRUE(next->start(true)) << next->output().toStdString();
    const auto listed = listedRecording(RecorderProcess::kPort, onAir.id.toString(QUuid::WithoutBraces).toUpper());
    ASSERT_TRUE(listed) << "the next copy loads the index";
    EXPECT_EQ(listed->value(QStringLiteral("status")).toString(), QStringLiteral("interrupted"));
    next->kill(SIGTERM);
    ASSERT_TRUE(next->waitForExit());
    EXPECT_EQ(next->process().exitCode(), 0);

    // Ended cleanly, the copy leaves nothing that blocks a later one either.
    const auto last = first.sameUser();
    ASSERT_TRUE(last->start(true)) << last->output().toStdString();
}
