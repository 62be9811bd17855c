#pragma once

#include "HTTPResponder.h"
#include "HTTPServer.h"
#include "QtPrinters.h"
#include "RawClient.h"
#include "TestSupport.h"

#include <QHostAddress>
#include <gtest/gtest.h>
#include <functional>
#include <memory>
#include <vector>

// An HTTP server on 127.0.0.1 and an ephemeral port, with short stall
// bounds, whose handler records every request and answers as the test says.
class HTTPServerFixture : public ::testing::Test
{
protected:
    struct Received
    {
        HTTPRequest request;
        QStringList segments;
        HTTPResponder responder;
    };

    void startServer(HTTPConnection::Timing timing = shortTiming(), int maximumConnections = 64)
    {
        server = std::make_unique<HTTPServer>(
            QStringLiteral("tivolux.test.http"), timing, maximumConnections,
            [this](const HTTPRequest &request, const QStringList &segments, const HTTPResponder &responder) {
                received.push_back({request, segments, responder});
                if (answer)
                    answer(received.back());
            });
        const auto result = server->listen(QHostAddress::LocalHost, 0);
        ASSERT_TRUE(result.listening) << result.errorString.toStdString();
        port = server->serverPort();
    }

    static HTTPConnection::Timing shortTiming()
    {
        HTTPConnection::Timing timing;
        timing.requestTimeout = timing.sendStallTimeout = timing.fileStallTimeout = timing.lingerTimeout =
            std::chrono::milliseconds(300);
        return timing;
    }

    // For tests in which only something else may close a connection.
    static HTTPConnection::Timing patientTiming()
    {
        HTTPConnection::Timing timing;
        timing.requestTimeout = timing.sendStallTimeout = timing.fileStallTimeout = std::chrono::seconds(60);
        return timing;
    }

    bool waitForNoConnections()
    {
        return testsupport::waitUntil([this] { return server->connectionCount() == 0; });
    }

    std::optional<HTTPResponse> fetch(const QByteArray &request) { return HTTPResponse::parse(exchange(port, request)); }

    void TearDown() override { server.reset(); }

    std::unique_ptr<HTTPServer> server;
    quint16 port = 0;
    std::vector<Received> received;
    std::function<void(const Received &)> answer = [](const Received &r) {
        r.responder.send("200 OK", "text/plain", QByteArray("ok"));
    };
};
