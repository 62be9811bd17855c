#include "HTTPServerFixture.h"

#include <QDeadlineTimer>
#include <QThread>

#include <netinet/in.h>
#include <netinet/tcp.h>

namespace {

// The keepalive settings (on, idle, interval, probes) of the server's side
// of the connection from the given local port.
std::vector<int> serverSideKeepAlive(quint16 clientPort)
{
    for (int fd = 0; fd < 1024; ++fd) {
        sockaddr_in peer{};
        socklen_t size = sizeof peer;
        if (::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &size) != 0 || peer.sin_family != AF_INET
            || ntohs(peer.sin_port) != clientPort)
            continue;
        std::vector<int> values;
        for (const auto &[level, option] : {std::pair{SOL_SOCKET, SO_KEEPALIVE}, {IPPROTO_TCP, TCP_KEEPIDLE},
                                           {IPPROTO_TCP, TCP_KEEPINTVL}, {IPPROTO_TCP, TCP_KEEPCNT}}) {
            int value = -1;
            socklen_t length = sizeof value;
            ::getsockopt(fd, level, option, &value, &length);
            values.push_back(value);
        }
        return values;
    }
    return {};
}

} // namespace

using HTTPConnectionTest = HTTPServerFixture;

TEST_F(HTTPConnectionTest, RequestsAreTakenWholeAndOnceAndOversizedOnesAreClosedUnanswered)
{
    HTTPConnection::Timing timing = bounds(60s);
    timing.keepAliveIdle = 7s;
    timing.keepAliveInterval = 3s;
    timing.keepAliveProbes = 4;
    startServer(timing);
    QThread *handlerThread = nullptr;
    answer = [&handlerThread](const Received &r) {
        handlerThread = QThread::currentThread();
        r.responder.send("201 Created", "application/json", QByteArray("{}"));
        r.responder.send("500 Internal Server Error", "text/plain"); // ignored
    };
    RawClient client(port);
    // Accepted connections probe peers that may have vanished.
    ASSERT_TRUE(testsupport::waitUntil([this] { return server->connectionCount() == 1; }));
    EXPECT_EQ(serverSideKeepAlive(client.localPort()), std::vector<int>({1, 7, 3, 4}));
    // Sent in two pieces, and followed by bytes that are never read as a request.
    const QByteArray request = "post /api/recordings?debug=1 HTTP/1.1\r\nHost: t\r\nContent-Length: 4\r\n\r\nbody";
    client.send(request.chopped(2));
    testsupport::spin(20ms);
    EXPECT_TRUE(received.empty());
    client.send(request.right(2) + "GET /second HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(client.waitForClose());
    EXPECT_EQ(client.received(), "HTTP/1.1 201 Created\r\nContent-Type: application/json\r\nContent-Length: 2\r\n"
                                 "Connection: close\r\n\r\n{}");
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(handlerThread, QThread::currentThread());
    EXPECT_EQ(received[0].request.body, QByteArray("body"));
    EXPECT_EQ(received[0].segments, QStringList({QStringLiteral("api"), QStringLiteral("recordings")}));

    // 81920 bytes in all, the last of them ending the header block: the
    // largest request taken.
    const QByteArray start = "GET /big HTTP/1.1\r\nX: ";
    EXPECT_EQ(fetch(start + QByteArray(81920 - start.size() - 4, 'a') + "\r\n\r\n")->body, "{}");
    // More without the end of the header block, or a header block and part
    // of a body that pass the bound before the body is complete.
    for (const QByteArray &bytes : {"GET / HTTP/1.1\r\nX: " + QByteArray(90000, 'a'),
                                    "POST / HTTP/1.1\r\nContent-Length: 65536\r\nX: " + QByteArray(20000, 'a')
                                        + "\r\n\r\n" + QByteArray(62000, 'b')}) {
        RawClient flood(port);
        flood.send(bytes);
        EXPECT_TRUE(flood.waitForClose());
        EXPECT_TRUE(flood.received().isEmpty());
    }
    EXPECT_EQ(received.size(), 2u);
    EXPECT_TRUE(waitForNoConnections());
}

TEST_F(HTTPConnectionTest, EarlyEndedAndTimedOutRequestsCloseWithoutAnswer)
{
    startServer();
    // The announced body never comes in full before the client leaves.
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
    RawClient lingering(port, true);
    lingering.send("GET / HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(waitForRequests(1));
    testsupport::spin(50ms);
    EXPECT_EQ(server->connectionCount(), 1);
    EXPECT_TRUE(waitForNoConnections());
}

TEST_F(HTTPConnectionTest, AnswerArrivesWhateverTheClientDoesAfterItsRequestAndGoesNowhereOnceItLeft)
{
    startServer();
    answer = nullptr;
    // The client ends its sending side before the answer is ready.
    RawClient halfClosed(port);
    halfClosed.send("GET /a HTTP/1.1\r\n\r\n");
    halfClosed.shutdownSending();
    ASSERT_TRUE(waitForRequests(1));
    testsupport::spin(50ms);
    received[0].responder.send("200 OK", "text/plain", QByteArray("late"));
    ASSERT_TRUE(halfClosed.waitForClose());
    EXPECT_TRUE(halfClosed.received().endsWith("\r\n\r\nlate"));

    // Far more body than is taken, read only once the server is done: the
    // rest is never read as a request and does not spoil the answer.
    answer = [](const Received &r) {
        r.responder.send("200 OK", "text/plain", QByteArray::number(r.request.body.size()));
    };
    RawClient flooding(port, true);
    flooding.send("POST /b HTTP/1.1\r\nContent-Length: 400000\r\n\r\n" + QByteArray(400000, 'x'));
    ASSERT_TRUE(testsupport::waitUntil([&] { return flooding.hasUnreadBytes(); }));
    testsupport::spin(50ms);
    flooding.resume();
    ASSERT_TRUE(flooding.waitForClose());
    EXPECT_TRUE(flooding.received().endsWith("\r\n\r\n65536")) << flooding.received().constData();
    EXPECT_EQ(received.size(), 2u);
    EXPECT_TRUE(waitForNoConnections());

    // The client left before its answer: the connection goes at the stall
    // bound, and the late answer is dropped.
    answer = nullptr;
    {
        RawClient client(port);
        client.send("GET /late HTTP/1.1\r\n\r\n");
        ASSERT_TRUE(waitForRequests(3));
    }
    ASSERT_TRUE(waitForNoConnections());
    received[2].responder.send("200 OK", "text/plain", QByteArray("late"));
    received[2].responder.serveFile(QStringLiteral("/etc/hostname"), std::nullopt, false);
    testsupport::spin(50ms);
    EXPECT_EQ(server->connectionCount(), 0);
    // The server went while a request waited for its answer.
    RawClient waiting(port);
    waiting.send("GET /never HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(waitForRequests(4));
    const HTTPResponder responder = received[3].responder;
    server.reset();
    EXPECT_TRUE(waiting.waitForClose(2s));
    responder.send("200 OK", "text/plain", QByteArray("after"));
    testsupport::spin(20ms);
    EXPECT_TRUE(waiting.received().isEmpty());
}
