#pragma once

#include "QtPrinters.h"
#include "RawClient.h"
#include "RecordingIndex.h"
#include "ServedRecorder.h"
#include "TestSupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// A recording manager on a temporary folder, filled from an index the test
// writes, and a recording server for it on 127.0.0.1 and an ephemeral port.
class ServerFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        ASSERT_TRUE(QDir(root.path()).mkdir(QStringLiteral("recordings")));
    }

    void TearDown() override
    {
        served.stop();
        testsupport::clearSettings();
    }

    void start(const QList<Recording> &recordings = {})
    {
        RecordingManager::Environment environment;
        environment.timing.schedulePeriod = std::chrono::milliseconds(50);
        HTTPConnection::Timing timing;
        timing.requestTimeout = timing.sendStallTimeout = std::chrono::milliseconds(2000);
        ASSERT_EQ(served.start(folderPath(), recordings, std::move(environment), timing), std::nullopt);
        manager = &served.manager();
        port = served.port();
        ASSERT_NE(port, 0);
    }

    // The recordings folder, inside a temporary folder so that a name that
    // leads outside it stays inside the test's own space.
    QString folderPath() const { return QDir(root.path()).filePath(QStringLiteral("recordings")); }
    QString filePath(const Recording &recording) const { return QDir(folderPath()).filePath(recording.fileName); }

    std::optional<HTTPResponse> request(const QByteArray &method, const QByteArray &path,
                                        const QByteArray &body = {}, const QByteArray &extraHeaders = {})
    {
        QByteArray text = method + ' ' + path + " HTTP/1.1\r\nHost: recorder\r\n" + extraHeaders;
        if (!body.isNull())
            text += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        return HTTPResponse::parse(exchange(port, text + "\r\n" + body));
    }

    static QJsonDocument json(const std::optional<HTTPResponse> &response)
    {
        return response ? QJsonDocument::fromJson(response->body) : QJsonDocument();
    }

    static QByteArray idText(const Recording &recording)
    {
        return recording.id.toString(QUuid::WithoutBraces).toUpper().toLatin1();
    }

    QTemporaryDir root;
    ServedRecorder served;
    RecordingManager *manager = nullptr;
    quint16 port = 0;
};
