#include "HTTPServerFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <csignal>

using namespace std::chrono_literals;

namespace {

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

// Open descriptors of this process that refer to the file.
int openHandles(const QString &path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    const QDir descriptors(QStringLiteral("/proc/self/fd"));
    const QStringList names = descriptors.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    return int(std::count_if(names.begin(), names.end(), [&](const QString &name) {
        return QFileInfo(descriptors.filePath(name)).symLinkTarget() == target;
    }));
}

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
        ASSERT_TRUE(folder.isValid());
        answer = [this](const Received &r) {
            r.responder.serveFile(folder.filePath(r.segments.value(0)), r.request.header(QStringLiteral("range")),
                                  r.request.method == QStringLiteral("HEAD"));
        };
        startServer();
    }

    QString makeFile(const QString &name, const QByteArray &bytes)
    {
        testsupport::writeFile(folder.filePath(name), bytes);
        return folder.filePath(name);
    }

    // A client that has sent its request and holds back reading until the
    // answer has begun.
    std::unique_ptr<RawClient> stalledClient(const QByteArray &request)
    {
        auto client = std::make_unique<RawClient>(port, RawClient::Reading::Stalled);
        client->send(request);
        EXPECT_TRUE(testsupport::waitUntil([&] { return client->hasUnreadBytes(); }));
        return client;
    }

    QTemporaryDir folder;
};

TEST_F(FileServingTest, WholeFileAndRangesOfAThousandBytes)
{
    const QByteArray content = randomBytes(1000, 1);
    makeFile(QStringLiteral("a.ts"), content);
    const struct { const char *range, *status, *contentRange; qint64 start, end; } cases[] = {
        {"", "200 OK", nullptr, 0, 999},
        {"bytes=0-0", "206 Partial Content", "bytes 0-0/1000", 0, 0},
        {"bytes=500-", "206 Partial Content", "bytes 500-999/1000", 500, 999},
        {"bytes=-100", "206 Partial Content", "bytes 900-999/1000", 900, 999},
    };
    for (const auto &c : cases) {
        const auto response = fetch(get("/a.ts", c.range));
        ASSERT_TRUE(response) << c.range;
        EXPECT_EQ(response->statusLine, "HTTP/1.1 " + QByteArray(c.status)) << c.range;
        EXPECT_EQ(response->header("Content-Length"), QByteArray::number(c.end - c.start + 1)) << c.range;
        EXPECT_EQ(response->header("Content-Range"),
                  c.contentRange ? std::optional(QByteArray(c.contentRange)) : std::nullopt) << c.range;
        EXPECT_EQ(response->header("Content-Type"), "video/mp2t") << c.range;
        EXPECT_EQ(response->header("Accept-Ranges"), "bytes") << c.range;
        EXPECT_EQ(response->body, content.mid(c.start, c.end - c.start + 1)) << c.range;
    }
    for (const char *range : {"bytes=1000-", "bytes=2000-3000"})
        EXPECT_EQ(exchange(port, get("/a.ts", range)),
                  "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */1000\r\n"
                  "Content-Length: 0\r\nConnection: close\r\n\r\n") << range;
}

TEST_F(FileServingTest, ManyPlayersReadWhileTheFileGrows)
{
    // The players hold back their reading for a while; no stall bound may
    // end their answers.
    server.reset();
    startServer(patientTiming());
    const qsizetype initial = 4 * 1048576;
    QByteArray content = randomBytes(initial, 6);
    const QString path = makeFile(QStringLiteral("live.ts"), content);
    // Every answer has begun, and is held back by its reader, before the
    // recorder appends; then the players read while it keeps appending.
    const std::pair<QByteArray, qint64> ranges[] = {{"", 0}, {"bytes=1000000-", 1000000},
                                                     {"bytes=-3000000", initial - 3000000}};
    std::vector<std::unique_ptr<RawClient>> players;
    for (const auto &[range, start] : ranges)
        players.push_back(stalledClient(get("/live.ts", range)));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::Append));
    for (int round = 0; round < 20; ++round) {
        const QByteArray more = randomBytes(100000, 100 + round);
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
        ASSERT_TRUE(players[i]->waitForClose());
        const auto response = HTTPResponse::parse(players[i]->received());
        ASSERT_TRUE(response);
        EXPECT_EQ(response->header("Content-Length"), QByteArray::number(initial - ranges[i].second));
        EXPECT_TRUE(response->body == content.mid(ranges[i].second, initial - ranges[i].second)) << i;
    }
    // The next request takes the file's size afresh.
    const auto tail = fetch(get("/live.ts", "bytes=" + QByteArray::number(initial) + '-'));
    ASSERT_TRUE(tail);
    EXPECT_TRUE(tail->body == content.mid(initial));
    EXPECT_EQ(openHandles(path), 0);
}

TEST_F(FileServingTest, ReaderThatStopsReadingReleasesTheFile)
{
    const QString path = makeFile(QStringLiteral("big.ts"), randomBytes(16 * 1048576, 7));
    const auto stalled = stalledClient(get("/big.ts"));
    EXPECT_EQ(openHandles(path), 1);
    // The client takes nothing more; the server gives up after the stall bound.
    EXPECT_TRUE(waitForNoConnections());
    EXPECT_EQ(openHandles(path), 0);
}

TEST_F(FileServingTest, PausedPlayerResumesAfterLongerThanAWholeAnswerMayStallAndGetsEveryByte)
{
    // A paused player stops reading for far longer than a whole answer may
    // stall; its file answer keeps waiting for it.
    server.reset();
    HTTPConnection::Timing timing = shortTiming();
    timing.sendStallTimeout = 100ms;
    timing.fileStallTimeout = 60s;
    startServer(timing);
    const QByteArray content = randomBytes(16 * 1048576, 10);
    const QString path = makeFile(QStringLiteral("paused.ts"), content);
    const auto paused = stalledClient(get("/paused.ts", "bytes=5-"));
    testsupport::spin(400ms);
    EXPECT_EQ(server->connectionCount(), 1);
    EXPECT_EQ(openHandles(path), 1);
    paused->resume();
    ASSERT_TRUE(paused->waitForClose());
    const auto response = HTTPResponse::parse(paused->received());
    ASSERT_TRUE(response);
    EXPECT_EQ(response->statusLine, "HTTP/1.1 206 Partial Content");
    EXPECT_TRUE(response->body == content.mid(5));
    EXPECT_TRUE(waitForNoConnections());
    EXPECT_EQ(openHandles(path), 0);
}

TEST_F(FileServingTest, ClientsThatResetMidAnswerReleaseTheFileAndLeaveTheServerServing)
{
    // A client that drops its connection with unread bytes resets it; the
    // next file bytes sent to it meet a broken pipe, which must end only
    // that answer, never the process. The process starts with the signal's
    // default action, as the recorder does under systemd, whatever the
    // shell that runs the tests ignores.
    server.reset();
    startServer(patientTiming());
    const auto previous = std::signal(SIGPIPE, SIG_DFL);
    const auto restore = qScopeGuard([previous] { std::signal(SIGPIPE, previous); });
    const QByteArray content = randomBytes(8 * 1048576, 8);
    const QString path = makeFile(QStringLiteral("big.ts"), content);
    for (int round = 0; round < 10; ++round) {
        RawClient leaving(port);
        leaving.send(get("/big.ts"));
        ASSERT_TRUE(leaving.waitForBytes(1048576));
        if (round == 0) {
            EXPECT_EQ(openHandles(path), 1);
        }
        leaving.close();
        testsupport::spin(5ms);
    }
    EXPECT_TRUE(waitForNoConnections());
    EXPECT_EQ(openHandles(path), 0);
    const auto whole = fetch(get("/big.ts", "bytes=1000-"));
    ASSERT_TRUE(whole);
    EXPECT_TRUE(whole->body == content.mid(1000));
}

TEST_F(FileServingTest, FileShortenedWhileServedEndsTheAnswerEarly)
{
    const QByteArray content = randomBytes(16 * 1048576, 9);
    const QString path = makeFile(QStringLiteral("cut.ts"), content);
    const auto stalled = stalledClient(get("/cut.ts"));
    ASSERT_TRUE(QFile::resize(path, 2 * 1048576));
    stalled->resume();
    ASSERT_TRUE(stalled->waitForClose());
    // The announced length stays that of the whole file; what arrives is
    // what was on its way before the cut and the bytes that still exist,
    // never anything beyond the file's new end.
    const auto response = HTTPResponse::parse(stalled->received());
    ASSERT_TRUE(response);
    EXPECT_EQ(response->header("Content-Length"), QByteArray::number(content.size()));
    EXPECT_LT(response->body.size(), content.size());
    EXPECT_TRUE(response->body == content.left(response->body.size()));
    EXPECT_TRUE(waitForNoConnections());
    EXPECT_EQ(openHandles(path), 0);
}
