#include "HTTPServerFixture.h"
#include "TestSupport.h"

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
    QRandomGenerator generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

void appendToFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::Append));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// Open descriptors of this process that refer to the file.
int openHandles(const QString &path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    int count = 0;
    const QDir descriptors(QStringLiteral("/proc/self/fd"));
    for (const QString &name : descriptors.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        if (QFileInfo(descriptors.filePath(name)).symLinkTarget() == target)
            ++count;
    }
    return count;
}

QByteArray get(const QByteArray &path, const QByteArray &range = {}, const QByteArray &method = "GET")
{
    QByteArray request = method + ' ' + path + " HTTP/1.1\r\n";
    if (!range.isEmpty())
        request += "Range: " + range + "\r\n";
    return request + "\r\n";
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
            std::optional<QString> path;
            if (!r.segments.isEmpty())
                path = folder.filePath(r.segments.last());
            r.responder.serveFile(path, r.request.header(QStringLiteral("range")),
                                  r.request.method == QStringLiteral("HEAD"));
        };
        startServer();
    }

    QString makeFile(const QString &name, const QByteArray &bytes)
    {
        const QString path = folder.filePath(name);
        testsupport::writeFile(path, bytes);
        return path;
    }

    std::optional<HTTPResponse> fetch(const QByteArray &request)
    {
        return HTTPResponse::parse(exchange(port, request));
    }

    QTemporaryDir folder;
};

TEST_F(FileServingTest, WholeFileAndRangesOfAThousandBytes)
{
    const QByteArray content = randomBytes(1000, 1);
    makeFile(QStringLiteral("a.ts"), content);

    const auto whole = fetch(get("/a.ts"));
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->statusLine, QByteArray("HTTP/1.1 200 OK"));
    EXPECT_EQ(whole->header("Content-Length"), QByteArray("1000"));
    EXPECT_EQ(whole->header("Content-Type"), QByteArray("video/mp2t"));
    EXPECT_EQ(whole->header("Accept-Ranges"), QByteArray("bytes"));
    EXPECT_FALSE(whole->header("Content-Range"));
    EXPECT_EQ(whole->body, content);

    const struct
    {
        const char *range;
        qint64 start;
        qint64 end;
    } partials[] = {{"bytes=0-0", 0, 0}, {"bytes=-100", 900, 999}};
    for (const auto &p : partials) {
        const auto response = fetch(get("/a.ts", p.range));
        ASSERT_TRUE(response) << p.range;
        const qint64 length = p.end - p.start + 1;
        EXPECT_EQ(response->statusLine, QByteArray("HTTP/1.1 206 Partial Content")) << p.range;
        EXPECT_EQ(response->header("Content-Length"), QByteArray::number(length)) << p.range;
        EXPECT_EQ(response->header("Content-Range"),
                  "bytes " + QByteArray::number(p.start) + '-' + QByteArray::number(p.end) + "/1000")
            << p.range;
        EXPECT_EQ(response->header("Content-Type"), QByteArray("video/mp2t")) << p.range;
        EXPECT_EQ(response->header("Accept-Ranges"), QByteArray("bytes")) << p.range;
        EXPECT_EQ(response->body, content.mid(p.start, length)) << p.range;
    }

    EXPECT_EQ(exchange(port, get("/a.ts", "bytes=1000-")),
              QByteArray("HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */1000\r\n"
                         "Content-Length: 0\r\nConnection: close\r\n\r\n"));
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
    const auto grow = [&](int round) {
        const QByteArray more = randomBytes(100000, 100 + round);
        appendToFile(path, more);
        content += more;
    };
    struct Player
    {
        QByteArray range;
        qint64 start;
        std::unique_ptr<RawClient> client;
    };
    std::vector<Player> players;
    for (const auto &[range, start] : {std::pair{QByteArray(), qint64(0)}, {QByteArray("bytes=1000000-"), 1000000},
                                       {QByteArray("bytes=-3000000"), initial - 3000000}}) {
        players.push_back({range, start, std::make_unique<RawClient>(port, RawClient::Reading::Stalled)});
        players.back().client->send(get("/live.ts", range));
    }
    // Every answer has begun, and is held back by its reader, before the
    // recorder appends; then the players read while it keeps appending.
    for (const Player &player : players)
        ASSERT_TRUE(testsupport::waitUntil([&] { return player.client->hasUnreadBytes(); }));
    grow(0);
    for (const Player &player : players)
        player.client->resume();
    for (int round = 1; round < 20; ++round) {
        grow(round);
        testsupport::spin(2ms);
    }
    for (const Player &player : players) {
        ASSERT_TRUE(player.client->waitForClose());
        const auto response = HTTPResponse::parse(player.client->received());
        ASSERT_TRUE(response);
        EXPECT_EQ(response->header("Content-Length"), QByteArray::number(initial - player.start));
        EXPECT_TRUE(response->body == content.mid(player.start, initial - player.start))
            << player.range.constData();
    }
    // Afterwards the added bytes are there for the next request, which takes
    // the file's size afresh.
    const auto tail = fetch(get("/live.ts", "bytes=" + QByteArray::number(initial) + '-'));
    ASSERT_TRUE(tail);
    EXPECT_EQ(tail->header("Content-Length"), QByteArray::number(20 * 100000));
    EXPECT_TRUE(tail->body == content.mid(initial));
    EXPECT_EQ(openHandles(path), 0);
}

TEST_F(FileServingTest, ReaderThatStopsReadingReleasesTheFile)
{
    const QString path = makeFile(QStringLiteral("big.ts"), randomBytes(32 * 1048576, 7));

    RawClient stalled(port, RawClient::Reading::Stalled);
    stalled.send(get("/big.ts"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return openHandles(path) == 1; }));
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
    timing.sendStallTimeout = 200ms;
    timing.fileStallTimeout = 60s;
    startServer(timing);
    const QByteArray content = randomBytes(16 * 1048576, 10);
    const QString path = makeFile(QStringLiteral("paused.ts"), content);

    RawClient paused(port, RawClient::Reading::Stalled);
    paused.send(get("/paused.ts", "bytes=5-"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return paused.hasUnreadBytes(); }));
    testsupport::spin(900ms);
    EXPECT_EQ(server->connectionCount(), 1);
    EXPECT_EQ(openHandles(path), 1);
    paused.resume();
    ASSERT_TRUE(paused.waitForClose());
    const auto response = HTTPResponse::parse(paused.received());
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
    EXPECT_EQ(whole->statusLine, "HTTP/1.1 206 Partial Content");
    EXPECT_TRUE(whole->body == content.mid(1000));
}

TEST_F(FileServingTest, FileShortenedWhileServedEndsTheAnswerEarly)
{
    const QByteArray content = randomBytes(32 * 1048576, 9);
    const QString path = makeFile(QStringLiteral("cut.ts"), content);
    RawClient stalled(port, RawClient::Reading::Stalled);
    stalled.send(get("/cut.ts"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return stalled.hasUnreadBytes(); }));
    ASSERT_TRUE(QFile::resize(path, 2 * 1048576));
    stalled.resume();
    ASSERT_TRUE(stalled.waitForClose());
    const QByteArray received = stalled.received();
    const qsizetype bodyStart = received.indexOf("\r\n\r\n") + 4;
    ASSERT_GT(bodyStart, 4);
    // The announced length stays that of the whole file; what arrives is
    // what was on its way before the cut and the bytes that still exist,
    // never anything beyond the file's new end.
    EXPECT_TRUE(received.contains("Content-Length: " + QByteArray::number(content.size()) + "\r\n"));
    const QByteArray body = received.mid(bodyStart);
    EXPECT_LT(body.size(), content.size());
    EXPECT_TRUE(body == content.left(body.size()));
    EXPECT_TRUE(waitForNoConnections());
    EXPECT_EQ(openHandles(path), 0);
}
