#include "RecorderFixture.h"
#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>

using namespace std::chrono_literals;
using testsupport::readFile;
using testsupport::waitUntil;

static qint64 fileSize(const QString &path) { return QFileInfo(path).size(); }

using StreamRecorderCapture = RecorderFixture;

TEST_F(StreamRecorderCapture, ContinuesAnExistingFileAcrossDroppedConnections)
{
    const QByteArray earlier("bytes of an earlier run\n");
    testsupport::writeFile(filePath(), earlier);
    provider.serve(QStringLiteral("/s.ts"), Answer::stream(30000));
    StreamRecorder::Timing timing = timingWithLimit(2); // drops after data never use it up
    timing.retryDelay = 60ms;

    auto probe = record(QStringLiteral("/s.ts"), timing);
    ASSERT_TRUE(waitUntil([&] { return fileSize(filePath()) >= earlier.size() + 5 * 30000; }));
    probe->recorder().stop();
    ASSERT_TRUE(probe->waitForFinish());
    // Nothing is written after the outcome, even while the connection closes.
    ASSERT_TRUE(waitUntil([&] { return provider.openConnections() == 0; }));
    EXPECT_EQ(probe->finishes[0].outcome, Outcome::stopped());
    const qint64 bytes = probe->finishes[0].bytes;
    EXPECT_EQ(bytes, fileSize(filePath()) - earlier.size());
    EXPECT_EQ(readFile(filePath()), earlier + FakeProvider::content(0, bytes));
    const auto requests = provider.requests();
    ASSERT_GE(requests.size(), 5);
    for (const auto gap : gaps(requests))
        EXPECT_GE(gap, 55ms);
}

TEST_F(StreamRecorderCapture, FollowsRedirectsOnHttpOnly)
{
    provider.serve(QStringLiteral("/live/1.ts"), Answer::redirect("/edge/1.ts?token=abc"));
    provider.serve(QStringLiteral("/edge/1.ts"), Answer::slowStream(2048, 10ms));
    provider.serve(QStringLiteral("/local.ts"), Answer::redirect("file:///etc/hostname"));

    // A line break in the user agent must not add a header line.
    auto followed = record(QStringLiteral("/live/1.ts"), fastTiming(), fromNow(300ms),
                           QStringLiteral("Agent/1\r\nX-Injected: yes"));
    ASSERT_TRUE(followed->waitForFinish());
    EXPECT_EQ(followed->finishes[0].outcome, Outcome::finished());
    EXPECT_EQ(readFile(filePath()), FakeProvider::content(0, followed->finishes[0].bytes));
    ASSERT_EQ(provider.requestCount(QStringLiteral("/edge/1.ts")), 1);
    EXPECT_EQ(provider.requests(QStringLiteral("/edge/1.ts"))[0].target, "/edge/1.ts?token=abc");
    EXPECT_EQ(provider.requests(QStringLiteral("/edge/1.ts"))[0].header("User-Agent"), "Agent/1  X-Injected: yes");
    EXPECT_FALSE(provider.requests(QStringLiteral("/edge/1.ts"))[0].headers.contains("x-injected"));
    followed.reset();

    QFile::remove(filePath());
    auto refused = record(QStringLiteral("/local.ts"), timingWithLimit(2));
    ASSERT_TRUE(refused->waitForFinish());
    EXPECT_EQ(refused->finishes[0].outcome.kind, Outcome::Kind::Failed);
    EXPECT_FALSE(refused->finishes[0].outcome.message.isEmpty());
    EXPECT_EQ(refused->finishes[0].bytes, 0);
    EXPECT_EQ(fileSize(filePath()), 0);
}

TEST_F(StreamRecorderCapture, StartFailsWhenTheFileCannotBeOpened)
{
    testsupport::writeFile(filePath(QStringLiteral("plain-file")), "x");
    QDir(folder.path()).mkdir(QStringLiteral("a-folder"));
    provider.serve(QStringLiteral("/a.ts"), Answer::stream());

    for (const QString &path : {filePath(QStringLiteral("plain-file/show.ts")), filePath(QStringLiteral("a-folder"))}) {
        SCOPED_TRACE(path.toStdString());
        RecorderProbe probe(provider.url(QStringLiteral("/a.ts")), path, fromNow(100ms), fastTiming());
        QString description;
        EXPECT_FALSE(probe.start(&description));
        EXPECT_FALSE(description.isEmpty());
        testsupport::spin(250ms);
        EXPECT_TRUE(probe.finishes.isEmpty());
        EXPECT_TRUE(probe.progress.isEmpty());
    }
    EXPECT_TRUE(provider.requests().isEmpty());
    EXPECT_EQ(readFile(filePath(QStringLiteral("plain-file"))), "x");
}
