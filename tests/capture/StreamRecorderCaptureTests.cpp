#include "FakeProvider.h"
#include "RecorderProbe.h"
#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testsupport::readFile;
using testsupport::waitUntil;
using Answer = FakeProvider::Answer;
using Outcome = StreamRecorder::Outcome;

namespace {

QString filePathIn(const QTemporaryDir &folder, const QString &name = QStringLiteral("show.ts"))
{
    return folder.filePath(name);
}

qint64 fileSize(const QString &path)
{
    return QFileInfo(path).size();
}

} // namespace

TEST(StreamRecorderCapture, WritesTheServedBytesUntilTheEndDateIntoANewFolder)
{
    QTemporaryDir folder;
    FakeProvider provider;
    provider.serve(QStringLiteral("/live/u/p/1.ts"), Answer::slowStream(4096, 10ms));
    const QString path = folder.filePath(QStringLiteral("new/deeper/show.ts"));

    RecorderProbe probe(provider.url(QStringLiteral("/live/u/p/1.ts")), path, fromNow(500ms), fastTiming());
    ASSERT_TRUE(probe.start());
    ASSERT_TRUE(probe.waitForFinish());

    ASSERT_EQ(probe.finishes.size(), 1);
    EXPECT_EQ(probe.finishes[0].outcome, Outcome::finished());
    const qint64 bytes = probe.finishes[0].bytes;
    EXPECT_GE(bytes, 8 * 4096);
    EXPECT_EQ(readFile(path), FakeProvider::content(0, bytes));
    EXPECT_GE(probe.finishes[0].at - probe.createdAt, 450ms);
    ASSERT_FALSE(probe.progress.isEmpty());
    EXPECT_LE(probe.progress.last(), bytes);
    EXPECT_TRUE(probe.callbacksOnMainThread);
    ASSERT_EQ(provider.requests().size(), 1);
    EXPECT_EQ(provider.requests()[0].method, "GET");
    EXPECT_EQ(provider.requests()[0].header("User-Agent"), "VLC/3.0 LibVLC/3.0");
}

TEST(StreamRecorderCapture, ContinuesAnExistingFileAcrossDroppedConnections)
{
    QTemporaryDir folder;
    const QString path = filePathIn(folder);
    const QByteArray earlier("bytes of an earlier run\n");
    testsupport::writeFile(path, earlier);
    FakeProvider provider;
    provider.serve(QStringLiteral("/s.ts"), Answer::stream(30000));
    StreamRecorder::Timing timing = fastTiming();
    timing.retryDelay = 60ms;
    timing.failureLimit = 2; // drops after data never use it up

    RecorderProbe probe(provider.url(QStringLiteral("/s.ts")), path, fromNow(60s), timing);
    ASSERT_TRUE(probe.start());
    ASSERT_TRUE(waitUntil([&] { return fileSize(path) >= earlier.size() + 5 * 30000; }));
    probe.recorder().stop();
    ASSERT_TRUE(probe.waitForFinish());

    EXPECT_EQ(probe.finishes[0].outcome, Outcome::stopped());
    const qint64 bytes = probe.finishes[0].bytes;
    EXPECT_EQ(bytes, fileSize(path) - earlier.size());
    EXPECT_EQ(readFile(path), earlier + FakeProvider::content(0, bytes));
    const auto requests = provider.requests();
    ASSERT_GE(requests.size(), 5);
    for (qsizetype i = 1; i < requests.size(); ++i)
        EXPECT_GE(requests[i].receivedAt - requests[i - 1].receivedAt, 55ms) << "attempt " << i;
}

TEST(StreamRecorderCapture, SendsTheGivenUserAgentOrTheDefault)
{
    const QList<std::pair<std::optional<QString>, QByteArray>> cases = {
        {std::nullopt, "VLC/3.0 LibVLC/3.0"},
        {QString(), "VLC/3.0 LibVLC/3.0"},
        {QStringLiteral("TivoluxTV/2.1 (test)"), "TivoluxTV/2.1 (test)"},
    };
    for (const auto &[given, sent] : cases) {
        QTemporaryDir folder;
        FakeProvider provider;
        provider.serve(QStringLiteral("/a.ts"), Answer::silence());
        RecorderProbe probe(provider.url(QStringLiteral("/a.ts")), filePathIn(folder), fromNow(60s),
                            fastTiming(), given);
        EXPECT_EQ(probe.recorder().userAgent(), QString::fromUtf8(sent));
        ASSERT_TRUE(probe.start());
        ASSERT_TRUE(waitUntil([&] { return provider.requests().size() == 1; }));
        EXPECT_EQ(provider.requests()[0].header("User-Agent"), sent);
        probe.recorder().stop();
        ASSERT_TRUE(probe.waitForFinish());
    }
}

TEST(StreamRecorderCapture, FollowsRedirectsOnHttpOnly)
{
    QTemporaryDir folder;
    FakeProvider provider;
    provider.serve(QStringLiteral("/live/1.ts"), Answer::redirect("/edge/1.ts?token=abc"));
    provider.serve(QStringLiteral("/edge/1.ts"), Answer::slowStream(2048, 10ms));
    provider.serve(QStringLiteral("/local.ts"), Answer::redirect("file:///etc/hostname"));

    RecorderProbe followed(provider.url(QStringLiteral("/live/1.ts")), filePathIn(folder, "a.ts"),
                           fromNow(300ms), fastTiming(), QStringLiteral("Agent/1"));
    ASSERT_TRUE(followed.start());
    ASSERT_TRUE(followed.waitForFinish());
    EXPECT_EQ(followed.finishes[0].outcome, Outcome::finished());
    EXPECT_EQ(readFile(filePathIn(folder, "a.ts")), FakeProvider::content(0, followed.finishes[0].bytes));
    ASSERT_EQ(provider.requestCount(QStringLiteral("/edge/1.ts")), 1);
    EXPECT_EQ(provider.requests(QStringLiteral("/edge/1.ts"))[0].target, "/edge/1.ts?token=abc");
    EXPECT_EQ(provider.requests(QStringLiteral("/edge/1.ts"))[0].header("User-Agent"), "Agent/1");

    StreamRecorder::Timing timing = fastTiming();
    timing.failureLimit = 2;
    RecorderProbe refused(provider.url(QStringLiteral("/local.ts")), filePathIn(folder, "b.ts"), fromNow(60s),
                          timing);
    ASSERT_TRUE(refused.start());
    ASSERT_TRUE(refused.waitForFinish());
    EXPECT_EQ(refused.finishes[0].outcome.kind, Outcome::Kind::Failed);
    EXPECT_FALSE(refused.finishes[0].outcome.message.isEmpty());
    EXPECT_EQ(refused.finishes[0].bytes, 0);
    EXPECT_EQ(fileSize(filePathIn(folder, "b.ts")), 0);
}

TEST(StreamRecorderCapture, ReadsNothingFromAnAddressThatIsNotHttp)
{
    QTemporaryDir folder;
    const QString source = folder.filePath(QStringLiteral("secret.ts"));
    testsupport::writeFile(source, "local bytes that must not be copied");
    for (const QUrl &url : {QUrl::fromLocalFile(source), QUrl(QStringLiteral("ftp://127.0.0.1/a.ts")),
                            QUrl(QStringLiteral("not a url at all"))}) {
        const QString path = filePathIn(folder);
        QFile::remove(path);
        RecorderProbe probe(url, path, fromNow(60s), fastTiming());
        ASSERT_TRUE(probe.start());
        ASSERT_TRUE(probe.waitForFinish(2s)) << url.toString().toStdString();
        EXPECT_EQ(probe.finishes[0].outcome,
                  Outcome::failed(QStringLiteral("Only http and https stream addresses can be recorded.")));
        EXPECT_EQ(probe.finishes[0].bytes, 0);
        EXPECT_TRUE(QFileInfo::exists(path));
        EXPECT_EQ(fileSize(path), 0);
    }
}

TEST(StreamRecorderCapture, TwentyRecordingsFromOneHostRunAtOnce)
{
    QTemporaryDir folder;
    FakeProvider provider;
    std::vector<std::unique_ptr<RecorderProbe>> probes;
    for (int i = 0; i < 20; ++i) {
        const QString streamPath = QStringLiteral("/live/u/p/%1.ts").arg(i);
        provider.serve(streamPath, Answer::slowStream(1000, 20ms));
        probes.push_back(std::make_unique<RecorderProbe>(provider.url(streamPath),
                                                         filePathIn(folder, QStringLiteral("%1.ts").arg(i)),
                                                         fromNow(60s), fastTiming()));
        ASSERT_TRUE(probes.back()->start());
    }
    const auto allWriting = [&] {
        for (int i = 0; i < 20; ++i) {
            if (fileSize(filePathIn(folder, QStringLiteral("%1.ts").arg(i))) < 3000)
                return false;
        }
        return true;
    };
    ASSERT_TRUE(waitUntil(allWriting));
    EXPECT_EQ(provider.openConnections(), 20);
    for (auto &probe : probes)
        probe->recorder().stop();
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(probes[i]->waitForFinish());
        EXPECT_EQ(probes[i]->finishes[0].outcome, Outcome::stopped());
        EXPECT_EQ(readFile(filePathIn(folder, QStringLiteral("%1.ts").arg(i))),
                  FakeProvider::content(0, probes[i]->finishes[0].bytes));
    }
    EXPECT_TRUE(waitUntil([&] { return provider.openConnections() == 0; }));
}

TEST(StreamRecorderCapture, StartFailsWhenTheFileCannotBeOpened)
{
    QTemporaryDir folder;
    testsupport::writeFile(folder.filePath(QStringLiteral("plain-file")), "x");
    QDir(folder.path()).mkdir(QStringLiteral("a-folder"));
    FakeProvider provider;
    provider.serve(QStringLiteral("/a.ts"), Answer::stream());

    for (const QString &path : {folder.filePath(QStringLiteral("plain-file/show.ts")),
                                folder.filePath(QStringLiteral("a-folder"))}) {
        RecorderProbe probe(provider.url(QStringLiteral("/a.ts")), path, fromNow(100ms), fastTiming());
        QString description;
        EXPECT_FALSE(probe.start(&description)) << path.toStdString();
        EXPECT_FALSE(description.isEmpty());
        testsupport::spin(250ms);
        EXPECT_TRUE(probe.finishes.isEmpty());
        EXPECT_TRUE(probe.progress.isEmpty());
    }
    EXPECT_TRUE(provider.requests().isEmpty());
    EXPECT_EQ(readFile(folder.filePath(QStringLiteral("plain-file"))), "x");
}

TEST(StreamRecorderCapture, AWriteFailureEndsTheRecording)
{
    if (!QFileInfo(QStringLiteral("/dev/full")).isWritable())
        GTEST_SKIP() << "needs /dev/full";
    FakeProvider provider;
    provider.serve(QStringLiteral("/a.ts"), Answer::stream());

    RecorderProbe probe(provider.url(QStringLiteral("/a.ts")), QStringLiteral("/dev/full"), fromNow(60s),
                        fastTiming());
    ASSERT_TRUE(probe.start());
    ASSERT_TRUE(probe.waitForFinish());
    EXPECT_EQ(probe.finishes[0].outcome,
              Outcome::failed(QStringLiteral("Could not write to the recordings folder: No space left on device")));
    EXPECT_EQ(probe.finishes[0].bytes, 0);
    EXPECT_EQ(provider.requests().size(), 1);
}
