#include "RecorderFixture.h"
#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>

using namespace std::chrono_literals;
using testsupport::readFile;
using testsupport::waitUntil;

namespace {

qint64 fileSize(const QString &path)
{
    return QFileInfo(path).size();
}

} // namespace

using StreamRecorderCapture = RecorderFixture;

TEST_F(StreamRecorderCapture, WritesTheServedBytesUntilTheEndDateIntoANewFolder)
{
    provider.serve(QStringLiteral("/live/u/p/1.ts"), Answer::slowStream(4096, 10ms));
    const QString path = folder.filePath(QStringLiteral("new/deeper/show.ts"));

    // The first connection of a process is slow under sanitizers: the end
    // leaves room for it.
    RecorderProbe probe(provider.url(QStringLiteral("/live/u/p/1.ts")), path, fromNow(1500ms), fastTiming());
    ASSERT_TRUE(probe.start());
    ASSERT_TRUE(probe.waitForFinish());

    ASSERT_EQ(probe.finishes.size(), 1);
    EXPECT_EQ(probe.finishes[0].outcome, Outcome::finished());
    const qint64 bytes = probe.finishes[0].bytes;
    EXPECT_GE(bytes, 8 * 4096);
    EXPECT_EQ(readFile(path), FakeProvider::content(0, bytes));
    EXPECT_GE(probe.finishes[0].at - probe.createdAt, 1450ms);
    ASSERT_FALSE(probe.progress.isEmpty());
    EXPECT_LE(probe.progress.last(), bytes);
    EXPECT_TRUE(probe.callbacksOnMainThread);
    ASSERT_EQ(provider.requests().size(), 1);
    EXPECT_EQ(provider.requests()[0].method, "GET");
}

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

    EXPECT_EQ(probe->finishes[0].outcome, Outcome::stopped());
    const qint64 bytes = probe->finishes[0].bytes;
    EXPECT_EQ(bytes, fileSize(filePath()) - earlier.size());
    EXPECT_EQ(readFile(filePath()), earlier + FakeProvider::content(0, bytes));
    const auto requests = provider.requests();
    ASSERT_GE(requests.size(), 5);
    for (const auto gap : gaps(requests))
        EXPECT_GE(gap, 55ms);
}

TEST_F(StreamRecorderCapture, SendsTheGivenUserAgentOrTheDefault)
{
    provider.serve(QStringLiteral("/a.ts"), Answer::silence());
    const QString agent = QStringLiteral("TivoluxTV/2.1 (test)\r\nX-Injected: yes");
    const struct { std::optional<QString> given; QString kept; QByteArray sent; } cases[] = {
        {std::nullopt, QStringLiteral("VLC/3.0 LibVLC/3.0"), "VLC/3.0 LibVLC/3.0"},
        {QString(), QStringLiteral("VLC/3.0 LibVLC/3.0"), "VLC/3.0 LibVLC/3.0"},
        // A line break must not add a header line.
        {agent, agent, "TivoluxTV/2.1 (test)  X-Injected: yes"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.sent.toStdString());
        const int before = provider.requestCount(QStringLiteral("/a.ts"));
        auto probe = record(QStringLiteral("/a.ts"), fastTiming(), fromNow(60s), c.given);
        EXPECT_EQ(probe->recorder().userAgent(), c.kept);
        ASSERT_TRUE(waitUntil([&] { return provider.requestCount(QStringLiteral("/a.ts")) == before + 1; }));
        EXPECT_EQ(provider.requests().last().header("User-Agent"), c.sent);
        EXPECT_FALSE(provider.requests().last().headers.contains("x-injected"));
        probe->recorder().stop();
        ASSERT_TRUE(probe->waitForFinish());
    }
}

TEST_F(StreamRecorderCapture, FollowsRedirectsOnHttpOnly)
{
    provider.serve(QStringLiteral("/live/1.ts"), Answer::redirect("/edge/1.ts?token=abc"));
    provider.serve(QStringLiteral("/edge/1.ts"), Answer::slowStream(2048, 10ms));
    provider.serve(QStringLiteral("/local.ts"), Answer::redirect("file:///etc/hostname"));

    auto followed = record(QStringLiteral("/live/1.ts"), fastTiming(), fromNow(300ms), QStringLiteral("Agent/1"));
    ASSERT_TRUE(followed->waitForFinish());
    EXPECT_EQ(followed->finishes[0].outcome, Outcome::finished());
    EXPECT_EQ(readFile(filePath()), FakeProvider::content(0, followed->finishes[0].bytes));
    ASSERT_EQ(provider.requestCount(QStringLiteral("/edge/1.ts")), 1);
    EXPECT_EQ(provider.requests(QStringLiteral("/edge/1.ts"))[0].target, "/edge/1.ts?token=abc");
    EXPECT_EQ(provider.requests(QStringLiteral("/edge/1.ts"))[0].header("User-Agent"), "Agent/1");
    followed.reset();

    QFile::remove(filePath());
    auto refused = record(QStringLiteral("/local.ts"), timingWithLimit(2));
    ASSERT_TRUE(refused->waitForFinish());
    EXPECT_EQ(refused->finishes[0].outcome.kind, Outcome::Kind::Failed);
    EXPECT_FALSE(refused->finishes[0].outcome.message.isEmpty());
    EXPECT_EQ(refused->finishes[0].bytes, 0);
    EXPECT_EQ(fileSize(filePath()), 0);
}

TEST_F(StreamRecorderCapture, ReadsNothingFromAnAddressThatIsNotHttp)
{
    const QString source = folder.filePath(QStringLiteral("secret.ts"));
    testsupport::writeFile(source, "local bytes that must not be copied");
    for (const QUrl &url : {QUrl::fromLocalFile(source), QUrl(QStringLiteral("ftp://127.0.0.1/a.ts")),
                            QUrl(QStringLiteral("not a url at all"))}) {
        SCOPED_TRACE(url.toString().toStdString());
        QFile::remove(filePath());
        RecorderProbe probe(url, filePath(), fromNow(60s), fastTiming());
        ASSERT_TRUE(probe.start());
        ASSERT_TRUE(probe.waitForFinish(2s));
        EXPECT_EQ(probe.finishes[0].outcome,
                  Outcome::failed(QStringLiteral("Only http and https stream addresses can be recorded.")));
        EXPECT_EQ(probe.finishes[0].bytes, 0);
        EXPECT_TRUE(QFileInfo::exists(filePath()));
        EXPECT_EQ(fileSize(filePath()), 0);
    }
}

TEST_F(StreamRecorderCapture, TwentyRecordingsFromOneHostRunAtOnce)
{
    const auto fileOf = [&](int i) { return filePath(QStringLiteral("%1.ts").arg(i)); };
    std::vector<std::unique_ptr<RecorderProbe>> probes;
    for (int i = 0; i < 20; ++i) {
        const QString streamPath = QStringLiteral("/live/u/p/%1.ts").arg(i);
        provider.serve(streamPath, Answer::slowStream(1000, 20ms));
        probes.push_back(std::make_unique<RecorderProbe>(provider.url(streamPath), fileOf(i), fromNow(60s),
                                                         fastTiming()));
        ASSERT_TRUE(probes.back()->start());
    }
    ASSERT_TRUE(waitUntil([&] {
        for (int i = 0; i < 20; ++i) {
            if (fileSize(fileOf(i)) < 3000)
                return false;
        }
        return true;
    }));
    EXPECT_EQ(provider.openConnections(), 20);
    for (auto &probe : probes)
        probe->recorder().stop();
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(probes[i]->waitForFinish());
        EXPECT_EQ(probes[i]->finishes[0].outcome, Outcome::stopped());
        EXPECT_EQ(readFile(fileOf(i)), FakeProvider::content(0, probes[i]->finishes[0].bytes));
    }
    EXPECT_TRUE(waitUntil([&] { return provider.openConnections() == 0; }));
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
