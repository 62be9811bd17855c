#pragma once

#include "QtPrinters.h"
#include "RawClient.h"
#include "RecordingIndex.h"
#include "RecordingManager.h"
#include "RecordingServer.h"
#include "RecordingsFolder.h"
#include "TestSupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

// A recording manager on a temporary folder, filled from an index the test
// writes, and a recording server for it on 127.0.0.1 and an ephemeral port.
class ServerFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        ASSERT_TRUE(QDir(root.path()).mkdir(QStringLiteral("recordings")));
        QSettings().setValue(QLatin1String(kFolderPathSettingKey), folderPath());
    }

    void TearDown() override
    {
        server.reset();
        manager.reset();
        testsupport::clearSettings();
    }

    // Writes the index (and files of the given sizes), then starts the
    // manager and the server.
    void start(const QList<Recording> &recordings = {})
    {
        ASSERT_FALSE(writeIndex(folderPath(), recordings));
        RecordingManager::Environment environment;
        environment.timing.schedulePeriod = std::chrono::milliseconds(50);
        manager = std::make_unique<RecordingManager>(std::move(environment));
        RecordingServer::Configuration configuration;
        configuration.address = QHostAddress(QHostAddress::LocalHost);
        configuration.port = 0;
        configuration.timing.requestTimeout = std::chrono::milliseconds(2000);
        configuration.timing.sendStallTimeout = std::chrono::milliseconds(2000);
        configuration.manager = manager.get();
        server = std::make_unique<RecordingServer>(configuration);
        server->start();
        ASSERT_FALSE(server->startError());
        port = server->serverPort();
        ASSERT_NE(port, 0);
    }

    static Recording makeRecording(const QString &title, Recording::Status status, qint64 bytes = 0)
    {
        Recording r;
        r.id = QUuid::createUuid();
        r.title = title;
        r.channelName = QStringLiteral("Channel One");
        r.channelID = QStringLiteral("ch1");
        r.streamURL = QStringLiteral("http://127.0.0.1:9/live/user/pass/1.ts");
        const bool pending = status == Recording::Status::Scheduled || status == Recording::Status::Waiting;
        // Pending recordings lie far ahead so that no capture starts.
        const QDateTime base = pending ? QDateTime(QDate(2099, 5, 1), QTime(20, 0), Qt::UTC)
                                       : QDateTime(QDate(2024, 5, 1), QTime(20, 0), Qt::UTC);
        r.programStart = base;
        r.programEnd = base.addSecs(3600);
        r.startDate = base;
        r.endDate = base.addSecs(3900);
        r.fileName = title + QStringLiteral(".ts");
        r.status = status;
        r.bytes = bytes;
        return r;
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
    std::unique_ptr<RecordingManager> manager;
    std::unique_ptr<RecordingServer> server;
    quint16 port = 0;
};
