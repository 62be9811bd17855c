#include "FakeProvider.h"
#include "HTTPServerFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <csignal>

namespace {

QByteArray get(const QByteArray &path, const QByteArray &range = {})
{
    return "GET " + path + " HTTP/1.1\r\n" + (range.isEmpty() ? QByteArray() : "Range: " + range + "\r\n") + "\r\n";
}

} // namespace

// Serves the files of a temporary folder by name, as the recordings route does.
class FileServingTest : public HTTPServerFixture
{
protected:
    void SetUp() override
    {
        answer = [this](const Received &r) {
            r.responder.serveFile(folder.filePath(r.segments.value(0)), r.request.header(QStringLiteral("range")),
                                  r.request.method == QStringLiteral("HEAD"));
        };
    }

    // Fills the named file with bytes that differ at every offset and answers them.
    QByteArray makeFile(const QString &name, qsizetype size, qint64 offset = 0)
    {
        const QByteArray bytes = FakeProvider::content(offset, size);
        testsupport::writeFile(folder.filePath(name), bytes);
        return bytes;
    }

    // A client that has sent its request and holds back reading once the
    // answer has begun.
    std::unique_ptr<RawClient> stalledClient(const QByteArray &request)
    {
        auto client = std::make_unique<RawClient>(port, true);
        client->send(request);
        EXPECT_TRUE(testsupport::waitUntil([&] { return client->hasUnreadBytes(); }));
        return client;
    }

    // Open descriptors of this process that refer to the named file.
    int openHandles(const QString &name) const
    {
        const QString target = QFileInfo(folder.filePath(name)).canonicalFilePath();
        const QDir descriptors(QStringLiteral("/proc/self/fd"));
        const QStringList names = descriptors.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        return int(std::count_if(names.begin(), names.end(), [&](const QString &name) {
            return QFileInfo(descriptors.filePath(name)).symLinkTarget() == target;
        }));
    }

    QTemporaryDir folder;
};

TEST_F(FileServingTest, WholeFileAndRangesOfAThousandBytes)
{
    startServer();
    const QByteArray content = makeFile(QStringLiteral("a.ts"), 1000);
    const struct { const char *range, *status, *contentRange; qint64 start, end; } cases[] = {
        {"", "200 OK", nullptr, 0, 999},
        {"bytes=0-0", "206 Partial Content", "bytes 0-0/1000", 0, 0},
        {"bytes=500-", "206 Partial Content", "bytes 500-999/1000", 500, 999},
        {"bytes=-100", "206 Partial Content", "bytes 900-999/1000", 900, 999},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.range);
        const auto response = fetch(get("/a.ts", c.range));
        ASSERT_TRUE(response);
        EXPECT_EQ(response->statusLine, "HTTP/1.1 " + QByteArray(c.status));
        EXPECT_EQ(response->header("Content-Length"), QByteArray::number(c.end - c.start + 1));
        EXPECT_EQ(response->header("Content-Range"),
                  c.contentRange ? std::optional(QByteArray(c.contentRange)) : std::nullopt);
        EXPECT_EQ(response->header("Content-Type"), "video/mp2t");
        EXPECT_EQ(response->header("Accept-Ranges"), "bytes");
        EXPECT_EQ(response->body, content.mid(c.start, c.end - c.start + 1));
    }
    for (const char *range : {"bytes=1000-", "bytes=2000-3000"})
        EXPECT_EQ(exchange(port, get("/a.ts", range)),
                  "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */1000\r\n"
                  "Content-Length: 0\r\nConnection: close\r\n\r\n") << range;
}

TEST_F(FileServingTest, ManyPlayersReadWhileTheFileGrows)
{
    startServer(bounds(60s));
    const qsizetype initial = 4 * 1048576;
    QByteArray content = makeFile(QStringLiteral("live.ts"), initial);
    // Every answer has begun, held back by its reader, before the recorder
    // appends; then the players read while it keeps appending.
    const std::pair<QByteArray, qint64> ranges[] = {{"", 0}, {"bytes=1000000-", 1000000},
                                                     {"bytes=-3000000", initial - 3000000}};
    std::vector<std::unique_ptr<RawClient>> players;
    for (const auto &[range, start] : ranges)
        players.push_back(stalledClient(get("/live.ts", range)));
    QFile file(folder.filePath(QStringLiteral("live.ts")));
    ASSERT_TRUE(file.open(QIODevice::Append));
    for (int round = 0; round < 20; ++round) {
        const QByteArray more = FakeProvider::content(content.size(), 100000);
        ASSERT_EQ(file.write(more), more.size());
        ASSERT_TRUE(file.flush());
        content += more;
        if (round == 0)
            for (const auto &player : players)
                player->resume();
        testsupport::spin(2ms);
    }
    file.close();
    for (size_t i = 0; i < players.size(); ++i) {
        const auto response = players[i]->response();
        ASSERT_TRUE(response);
        EXPECT_EQ(response->header("Content-Length"), QByteArray::number(initial - ranges[i].second));
        EXPECT_TRUE(response->body == content.mid(ranges[i].second, initial - ranges[i].second)) << i;
    }
    // The next request takes the file's size afresh.
    EXPECT_TRUE(fetch(get("/live.ts", "bytes=" + QByteArray::number(initial) + '-'))->body == content.mid(initial));
    EXPECT_EQ(openHandles(QStringLiteral("live.ts")), 0);
}

TEST_F(FileServingTest, PausedAndShortenedAnswersEndWellAndAReaderThatNeverReadsAgainReleasesTheFile)
{
    // A whole answer may stall briefly, a file answer far longer.
    HTTPConnection::Timing timing = bounds(100ms);
    timing.fileStallTimeout = 1500ms;
    startServer(timing);
    const QByteArray content = makeFile(QStringLiteral("paused.ts"), 16 * 1048576);
    const QByteArray cutContent = makeFile(QStringLiteral("cut.ts"), 16 * 1048576, 1);
    const auto paused = stalledClient(get("/paused.ts", "bytes=5-"));
    const auto gone = stalledClient(get("/paused.ts"));
    const auto cut = stalledClient(get("/cut.ts"));
    ASSERT_TRUE(QFile::resize(folder.filePath(QStringLiteral("cut.ts")), 2 * 1048576));
    testsupport::spin(400ms);
    EXPECT_EQ(server->connectionCount(), 3);
    EXPECT_EQ(openHandles(QStringLiteral("paused.ts")), 2);
    paused->resume();
    cut->resume();
    const auto response = paused->response();
    ASSERT_TRUE(response);
    EXPECT_EQ(response->statusLine, "HTTP/1.1 206 Partial Content");
    EXPECT_TRUE(response->body == content.mid(5));
    // The announced length of the shortened file stays that of the whole
    // file; what arrives is what was on its way before the cut and the bytes
    // that still exist.
    const auto shortened = cut->response();
    ASSERT_TRUE(shortened);
    EXPECT_EQ(shortened->header("Content-Length"), QByteArray::number(cutContent.size()));
    EXPECT_LT(shortened->body.size(), cutContent.size());
    EXPECT_TRUE(shortened->body == cutContent.left(shortened->body.size()));
    // The other takes nothing more; the server gives up after the file stall bound.
    EXPECT_TRUE(waitForNoConnections());
    EXPECT_EQ(openHandles(QStringLiteral("paused.ts")) + openHandles(QStringLiteral("cut.ts")), 0);
}

TEST_F(FileServingTest, ClientsThatResetMidAnswerReleaseTheFileAndLeaveTheServerServing)
{
    // The next file bytes sent to a reset connection meet a broken pipe,
    // which must end only that answer, never the process, which starts with
    // the signal's default action as under systemd, whatever the shell does.
    startServer(bounds(60s));
    const auto previous = std::signal(SIGPIPE, SIG_DFL);
    const auto restore = qScopeGuard([previous] { std::signal(SIGPIPE, previous); });
    const QByteArray content = makeFile(QStringLiteral("big.ts"), 8 * 1048576);
    for (int round = 0; round < 10; ++round) {
        RawClient leaving(port);
        leaving.send(get("/big.ts"));
        ASSERT_TRUE(leaving.waitForBytes(1048576));
        if (round == 0) {
            EXPECT_EQ(openHandles(QStringLiteral("big.ts")), 1);
        }
        leaving.close();
        testsupport::spin(5ms);
    }
    EXPECT_TRUE(waitForNoConnections());
    EXPECT_EQ(openHandles(QStringLiteral("big.ts")), 0);
    EXPECT_TRUE(fetch(get("/big.ts", "bytes=1000-"))->body == content.mid(1000));
}
