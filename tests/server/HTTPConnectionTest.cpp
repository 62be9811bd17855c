#include "HTTPServerFixture.h"
#include <QDeadlineTimer>
#include <QDir>
#include <QThread>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

using namespace std::chrono_literals;

namespace {

int socketOption(int descriptor, int level, int name)
{
    int value = -1;
    socklen_t size = sizeof value;
    return ::getsockopt(descriptor, level, name, &value, &size) == 0 ? value : -1;
}

// The keepalive settings (on, idle, interval, probes) of this process's
// socket whose peer is the given local port: the server's side of a test
// client's connection.
std::vector<int> serverSideKeepAlive(quint16 clientPort)
{
    const QDir descriptors(QStringLiteral("/proc/self/fd"));
    for (const QString &name : descriptors.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        const int fd = name.toInt();
        sockaddr_in peer{};
        socklen_t size = sizeof peer;
        if (::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &size) == 0 && peer.sin_family == AF_INET
            && ntohs(peer.sin_port) == clientPort)
            return {socketOption(fd, SOL_SOCKET, SO_KEEPALIVE), socketOption(fd, IPPROTO_TCP, TCP_KEEPIDLE),
                    socketOption(fd, IPPROTO_TCP, TCP_KEEPINTVL), socketOption(fd, IPPROTO_TCP, TCP_KEEPCNT)};
    }
    return {};
}

} // namespace

class HTTPConnectionTest : public HTTPServerFixture
{
protected:
    void SetUp() override { startServer(); }
};

TEST_F(HTTPConnectionTest, SplitAndSlowRequestIsAnsweredOnceAndClosed)
{
    server.reset();
    startServer(patientTiming());
    QThread *handlerThread = nullptr;
    answer = [&handlerThread](const Received &r) {
        handlerThread = QThread::currentThread();
        r.responder.send("201 Created", "application/json", QByteArray("{}"));
        // A second answer to the same request is ignored.
        r.responder.send("500 Internal Server Error", "text/plain");
    };
    RawClient client(port);
    const QByteArray request = "post /api/recordings?debug=1 HTTP/1.1\r\nHost: t\r\nContent-Length: 4\r\n\r\nbody";
    qsizetype sent = 0;
    for (const qsizetype cut : {qsizetype(3), qsizetype(20), qsizetype(50), request.size() - 2}) {
        client.send(request.mid(sent, cut - sent));
        sent = cut;
        testsupport::spin(20ms);
    }
    EXPECT_TRUE(received.empty());
    client.send(request.mid(request.size() - 2) + "GET /second HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(client.waitForClose());
    EXPECT_EQ(client.received(),
              QByteArray("HTTP/1.1 201 Created\r\nContent-Type: application/json\r\nContent-Length: 2\r\n"
                         "Connection: close\r\n\r\n{}"));
    // The bytes after the first request were never read as a request.
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(handlerThread, QThread::currentThread());
    EXPECT_EQ(received[0].request.method, QStringLiteral("POST"));
    EXPECT_EQ(received[0].request.body, QByteArray("body"));
    EXPECT_EQ(received[0].segments, QStringList({QStringLiteral("api"), QStringLiteral("recordings")}));
    EXPECT_TRUE(waitForNoConnections());
}

TEST_F(HTTPConnectionTest, TheLargestBufferedRequestIsTakenAndLargerOnesClosedWithoutAnswer)
{
    // Long stall bounds, so that only the size can close the connection.
    server.reset();
    startServer(patientTiming());
    // 81920 bytes in all, the last of them completing the header block: the
    // largest request that is still taken.
    const QByteArray start = "GET /big HTTP/1.1\r\nX: ";
    const QByteArray largest = start + QByteArray(81920 - start.size() - 4, 'a') + "\r\n\r\n";
    ASSERT_EQ(largest.size(), 81920);
    const auto response = fetch(largest);
    ASSERT_TRUE(response);
    EXPECT_EQ(response->body, QByteArray("ok"));

    // More than 81920 bytes without the end of the header block.
    RawClient flood(port);
    flood.send("GET / HTTP/1.1\r\nX: " + QByteArray(90000, 'a'));
    EXPECT_TRUE(flood.waitForClose(10s));
    EXPECT_TRUE(flood.received().isEmpty());
    // A header block and part of a body that together exceed the bound
    // before the body is complete.
    RawClient longBody(port);
    longBody.send("POST / HTTP/1.1\r\nContent-Length: 65536\r\nX: " + QByteArray(20000, 'a') + "\r\n\r\n"
                  + QByteArray(62000, 'b'));
    EXPECT_TRUE(longBody.waitForClose(10s));
    EXPECT_TRUE(longBody.received().isEmpty());
    EXPECT_EQ(received.size(), 1u);
}

TEST_F(HTTPConnectionTest, EarlyEndedAndTimedOutRequestsCloseWithoutAnswer)
{
    // A header block whose announced body never comes in full, then the
    // client ends its side.
    RawClient early(port);
    early.send("POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc");
    testsupport::spin(50ms);
    early.close();

    // A client that never sends anything, and one that sends a byte every
    // 50 ms forever: both are dropped after the request timeout.
    RawClient silent(port);
    RawClient trickle(port);
    QDeadlineTimer deadline(3s);
    while (!trickle.isClosed() && !deadline.hasExpired()) {
        trickle.send("X");
        testsupport::spin(50ms);
    }
    EXPECT_TRUE(trickle.isClosed());
    EXPECT_TRUE(silent.waitForClose(1s));
    EXPECT_TRUE(silent.received().isEmpty());
    EXPECT_TRUE(trickle.received().isEmpty());
    EXPECT_TRUE(received.empty());
    EXPECT_TRUE(waitForNoConnections());

    // A client that takes its answer but never closes its side is closed
    // after the linger bound.
    RawClient lingering(port, RawClient::Reading::Stalled);
    lingering.send("GET / HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(testsupport::waitUntil([this] { return received.size() == 1; }));
    testsupport::spin(50ms);
    EXPECT_EQ(server->connectionCount(), 1);
    EXPECT_TRUE(waitForNoConnections());
}

TEST_F(HTTPConnectionTest, AnswerArrivesWhateverTheClientDoesAfterItsRequest)
{
    answer = nullptr;
    // The client ends its sending side right after the request, before the
    // answer is ready.
    RawClient halfClosed(port);
    halfClosed.send("GET /a HTTP/1.1\r\n\r\n");
    halfClosed.shutdownSending();
    ASSERT_TRUE(testsupport::waitUntil([this] { return received.size() == 1; }));
    testsupport::spin(50ms);
    received[0].responder.send("200 OK", "text/plain", QByteArray("late"));
    ASSERT_TRUE(halfClosed.waitForClose());
    EXPECT_TRUE(halfClosed.received().endsWith("\r\n\r\nlate"));

    // The client sends far more body than is taken: the rest is never read
    // as a request, and does not spoil the answer.
    answer = [](const Received &r) {
        r.responder.send("200 OK", "text/plain", QByteArray::number(r.request.body.size()));
    };
    // It reads only once the server is done with the connection.
    RawClient flooding(port, RawClient::Reading::Stalled);
    flooding.send("POST /b HTTP/1.1\r\nContent-Length: 400000\r\n\r\n" + QByteArray(400000, 'x'));
    ASSERT_TRUE(testsupport::waitUntil([&] { return flooding.hasUnreadBytes(); }));
    testsupport::spin(50ms);
    flooding.resume();
    ASSERT_TRUE(flooding.waitForClose());
    EXPECT_TRUE(flooding.received().endsWith("\r\n\r\n65536")) << flooding.received().constData();
    EXPECT_EQ(received.size(), 2u);
    EXPECT_TRUE(waitForNoConnections());
}

TEST_F(HTTPConnectionTest, AnswerForAGoneConnectionOrServerIsDropped)
{
    answer = nullptr;
    {
        RawClient client(port);
        client.send("GET /late HTTP/1.1\r\n\r\n");
        ASSERT_TRUE(testsupport::waitUntil([this] { return received.size() == 1; }));
        client.close();
    }
    // Nothing is read after a request, so the connection goes when its
    // answer does not come within the stall bound.
    ASSERT_TRUE(waitForNoConnections());
    received[0].responder.send("200 OK", "text/plain", QByteArray("late"));
    received[0].responder.serveFile(QStringLiteral("/etc/hostname"), std::nullopt, false);
    testsupport::spin(50ms);
    EXPECT_EQ(server->connectionCount(), 0);

    // A request still waiting for its answer when the server goes.
    RawClient waiting(port);
    waiting.send("GET /never HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(testsupport::waitUntil([this] { return received.size() == 2; }));
    const HTTPResponder responder = received[1].responder;
    server.reset();
    EXPECT_TRUE(waiting.waitForClose(2s));
    responder.send("200 OK", "text/plain", QByteArray("after"));
    testsupport::spin(20ms);
    EXPECT_TRUE(waiting.received().isEmpty());
}

TEST_F(HTTPConnectionTest, ConnectionsBeyondTheCapAreClosedAtOnceAndTheNextOneAfterAFreedSlotIsAnswered)
{
    server.reset();
    startServer(patientTiming(), 4);
    std::vector<std::unique_ptr<RawClient>> idle;
    for (int i = 0; i < 4; ++i)
        idle.push_back(std::make_unique<RawClient>(port));
    ASSERT_TRUE(testsupport::waitUntil([&] { return server->connectionCount() == 4; }));

    // Further connections, even with a complete request, are closed unread.
    std::vector<std::unique_ptr<RawClient>> extra;
    for (int i = 0; i < 8; ++i) {
        extra.push_back(std::make_unique<RawClient>(port));
        extra.back()->send("GET /info HTTP/1.1\r\n\r\n");
    }
    for (const auto &client : extra) {
        ASSERT_TRUE(client->waitForClose());
        EXPECT_TRUE(client->received().isEmpty());
    }
    EXPECT_TRUE(received.empty());
    EXPECT_EQ(server->connectionCount(), 4);
    for (const auto &client : idle)
        EXPECT_FALSE(client->isClosed());

    // Once one of the idle clients goes, a new request is answered.
    idle.front()->close();
    ASSERT_TRUE(testsupport::waitUntil([&] { return server->connectionCount() == 3; }));
    const auto response = fetch("GET /info HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(response);
    EXPECT_EQ(response->body, QByteArray("ok"));
}

TEST_F(HTTPConnectionTest, AcceptedConnectionsProbePeersThatMayHaveVanished)
{
    // Values unlike the defaults, so that the ones set are the ones given.
    server.reset();
    HTTPConnection::Timing timing = patientTiming();
    timing.keepAliveIdle = 7s;
    timing.keepAliveInterval = 3s;
    timing.keepAliveProbes = 4;
    startServer(timing);
    RawClient client(port);
    client.send("GET /slow");
    ASSERT_TRUE(testsupport::waitUntil([this] { return server->connectionCount() == 1; }));
    EXPECT_EQ(serverSideKeepAlive(client.localPort()), std::vector<int>({1, 7, 3, 4}));
}
