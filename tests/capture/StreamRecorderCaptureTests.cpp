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

TEST_F(StreamRecorderCapture, PagesSentAsTheStreamAreRefusedAndNeverWritten)
{
    StreamRecorder::Timing timing = timingWithLimit(3);
    timing.retryDelay = 10ms;
    const QByteArray page("<html><body>Your subscription has expired.</body></html>");
    const QList<QByteArray> pageTypes = {"text/html", "Text/Plain; charset=UTF-8", "application/json"};
    for (qsizetype i = 0; i < pageTypes.size(); ++i) {
        SCOPED_TRACE(pageTypes[i].toStdString());
        const QString path = QStringLiteral("/live/u/p/%1.ts").arg(i);
        provider.serve(path, Answer::body(page, pageTypes[i]));
        auto probe = std::make_unique<RecorderProbe>(provider.url(path), filePath(path.section('/', -1)),
                                                     fromNow(60s), timing);
        ASSERT_TRUE(probe->start());
        ASSERT_TRUE(probe->waitForFinish());
        EXPECT_EQ(probe->finishes[0].outcome,
                  Outcome::failed(QStringLiteral("The provider answered with a page instead of a stream.")));
        EXPECT_EQ(probe->finishes[0].bytes, 0);
        EXPECT_EQ(fileSize(probe->recorder().filePath()), 0);
        // Counted like any refusal: the limit of attempts in a row ends it.
        EXPECT_EQ(provider.requestCount(path), 3);
    }

    // Other types, or none, are written as they come.
    const QList<QByteArray> streamTypes = {"application/octet-stream", "video/MP2T", ""};
    for (qsizetype i = 0; i < streamTypes.size(); ++i) {
        SCOPED_TRACE(streamTypes[i].toStdString());
        const QString path = QStringLiteral("/live/u/p/%1.ts").arg(10 + i);
        const QByteArray bytes = FakeProvider::content(i * 7919, 1880);
        provider.serve(path, {Answer::body(bytes, streamTypes[i]), Answer::status(404)});
        auto probe = std::make_unique<RecorderProbe>(provider.url(path), filePath(path.section('/', -1)),
                                                     fromNow(60s), timingWithLimit(2));
        ASSERT_TRUE(probe->start());
        ASSERT_TRUE(probe->waitForFinish());
        EXPECT_EQ(probe->finishes[0].outcome,
                  Outcome::failed(QStringLiteral("The provider refused the stream (HTTP 404).")));
        EXPECT_EQ(readFile(probe->recorder().filePath()), bytes);
    }
}

TEST_F(StreamRecorderCapture, APlaylistSentAsTheStreamIsCapturedAsHLS)
{
    const QList<QByteArray> playlistTypes = {"application/vnd.apple.mpegurl", "Application/X-MpegURL",
                                             "audio/mpegurl; charset=utf-8"};
    for (qsizetype i = 0; i < playlistTypes.size(); ++i) {
        SCOPED_TRACE(playlistTypes[i].toStdString());
        const QString path = QStringLiteral("/live/u/p/%1.ts").arg(i);
        // Segment addresses resolve against the stream address itself.
        const QByteArray expected = serveSegment(QStringLiteral("/live/u/p/a%1.ts").arg(i), 2 * int(i))
                                  + serveSegment(QStringLiteral("/live/u/p/b%1.ts").arg(i), 2 * int(i) + 1);
        provider.serve(path, Answer::body(vod({QStringLiteral("a%1.ts").arg(i), QStringLiteral("b%1.ts").arg(i)}),
                                          playlistTypes[i]));
        auto probe = std::make_unique<RecorderProbe>(provider.url(path), filePath(path.section('/', -1)),
                                                     fromNow(60s), fastTiming());
        ASSERT_TRUE(probe->start());
        ASSERT_TRUE(probe->waitForFinish());
        // A finished playlist ends the recording as on the HLS path.
        EXPECT_EQ(probe->finishes[0].outcome, Outcome::finished());
        EXPECT_EQ(readFile(probe->recorder().filePath()), expected);
    }
}

TEST_F(StreamRecorderCapture, ATrickleIsInTheFileSoonAfterEachWrite)
{
    // Far less than a batch per write, and a pause after each one: every
    // write must still reach the file soon after it was sent.
    provider.serve(QStringLiteral("/trickle.ts"), Answer::slowStream(1000, 400ms));
    auto probe = record(QStringLiteral("/trickle.ts"));
    ASSERT_TRUE(waitUntil([&] { return provider.requestCount(QStringLiteral("/trickle.ts")) == 1; }));
    const auto requestedAt = provider.requests()[0].receivedAt;
    for (qint64 writes = 1; writes <= 3; ++writes) {
        ASSERT_TRUE(waitUntil([&] { return fileSize(filePath()) >= writes * 1000; }, 3s));
        const auto sentAt = requestedAt + (writes - 1) * 400ms;
        EXPECT_LT(std::chrono::steady_clock::now() - sentAt, 250ms) << "write " << writes;
    }
    probe->recorder().stop();
    ASSERT_TRUE(probe->waitForFinish());
    EXPECT_EQ(readFile(filePath()), FakeProvider::content(0, probe->finishes[0].bytes));
}
