#pragma once

#include "QtPrinters.h"
#include "RawClient.h"
#include "RecordingIndex.h"
#include "ServedRecorder.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// The real manager and server over a recordings folder filled from an index
// the test writes. The folder lies inside a temporary one, so that a name
// that leads outside it stays inside the test's own space.
class ServerFixture : public ::testing::Test
{
protected:
    static inline const QByteArray kJSON = "application/json; charset=utf-8";

    void SetUp() override { ASSERT_TRUE(QDir(root.path()).mkdir(QStringLiteral("recordings"))); }
    void TearDown() override
    {
        served.stop();
        testsupport::clearSettings();
    }

    void start(const QList<Recording> &recordings = {})
    {
        ASSERT_EQ(served.start(folderPath(), recordings), std::nullopt);
        manager = &served.manager();
        port = served.port();
    }

    QString folderPath() const { return root.filePath(QStringLiteral("recordings")); }
    QString filePath(const Recording &recording) const { return QDir(folderPath()).filePath(recording.fileName); }

    std::optional<HTTPResponse> request(const QByteArray &method, const QByteArray &path,
                                        const QByteArray &body = {}, const QByteArray &extraHeaders = {})
    {
        QByteArray text = method + ' ' + path + " HTTP/1.1\r\n" + extraHeaders;
        if (!body.isNull())
            text += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        return HTTPResponse::parse(exchange(port, text + "\r\n" + body));
    }
    // The headers of a page of the given origin, addressed to the given host.
    QByteArray fromPage(const QByteArray &origin, QByteArray host = {}) const
    {
        host = host.isEmpty() ? "127.0.0.1:" + QByteArray::number(port) : host;
        return "Host: " + host + "\r\nOrigin: " + origin + "\r\n";
    }

    // Checks the status line and, when a type is given, the type and the exact body.
    static void expectAnswer(const std::optional<HTTPResponse> &response, const QByteArray &status,
                             const QByteArray &type = {}, const QByteArray &body = {}, const QByteArray &what = {})
    {
        ASSERT_TRUE(response) << what.constData();
        EXPECT_EQ(response->statusLine, "HTTP/1.1 " + status) << what.constData();
        if (!type.isEmpty()) {
            EXPECT_EQ(response->header("Content-Type"), type) << what.constData();
            EXPECT_EQ(response->body, body) << what.constData();
        }
    }
    // The body of a request to record an hour from the given start.
    static QByteArray scheduleBody(const QDateTime &start)
    {
        return R"({"title":"Evening Film","channelName":"Channel One","channelID":"ch7",)"
               R"("streamURL":"http://127.0.0.1:9/live/u/p/7.ts","programStart":")"
               + start.toString(Qt::ISODate).toLatin1() + R"(","programEnd":")"
               + start.addSecs(3600).toString(Qt::ISODate).toLatin1() + "\"}";
    }
    static QJsonDocument json(const std::optional<HTTPResponse> &response)
    {
        return response ? QJsonDocument::fromJson(response->body) : QJsonDocument();
    }
    static QByteArray idText(const Recording &r) { return r.id.toString(QUuid::WithoutBraces).toUpper().toLatin1(); }

    QTemporaryDir root;
    ServedRecorder served;
    RecordingManager *manager = nullptr;
    quint16 port = 0;
};
