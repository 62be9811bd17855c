#pragma once

#include "HTTPResponder.h"
#include "HTTPServer.h"
#include "QtPrinters.h"
#include "RawClient.h"

#include <gtest/gtest.h>
#include <functional>
#include <memory>
#include <vector>

using namespace std::chrono_literals;

// An HTTP server on 127.0.0.1 and an ephemeral port whose handler records
// every request and answers as the test says.
class HTTPServerFixture : public ::testing::Test
{
protected:
    struct Received
    {
        HTTPRequest request;
        QStringList segments;
        HTTPResponder responder;
    };

    // Every stall bound the given one; so long, that only something else
    // closes a connection, or short enough for a test to wait for.
    static HTTPConnection::Timing bounds(std::chrono::milliseconds each)
    {
        HTTPConnection::Timing timing;
        timing.requestTimeout = timing.sendStallTimeout = timing.fileStallTimeout = each;
        timing.lingerTimeout = std::min(timing.lingerTimeout, each);
        return timing;
    }

    void startServer(HTTPConnection::Timing timing = bounds(300ms))
    {
        server = std::make_unique<HTTPServer>(
            QStringLiteral("tivolux.test.http"), timing, 64,
            [this](const HTTPRequest &request, const QStringList &segments, const HTTPResponder &responder) {
                received.push_back({request, segments, responder});
                if (answer)
                    answer(received.back());
            });
        ASSERT_TRUE(server->listen(QHostAddress::LocalHost, 0).listening);
        port = server->serverPort();
    }

    bool waitForNoConnections() { return testsupport::waitUntil([this] { return server->connectionCount() == 0; }); }
    bool waitForRequests(size_t count) { return testsupport::waitUntil([&] { return received.size() == count; }); }
    std::optional<HTTPResponse> fetch(const QByteArray &request) { return HTTPResponse::parse(exchange(port, request)); }

    std::vector<Received> received;
    std::function<void(const Received &)> answer = [](const Received &r) {
        r.responder.send("200 OK", "text/plain", QByteArray("ok"));
    };
    quint16 port = 0;
    std::unique_ptr<HTTPServer> server; // goes first
};
