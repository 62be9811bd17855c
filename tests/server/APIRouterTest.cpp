#include "ServerFixture.h"

namespace {

const QByteArray kJSON = "application/json; charset=utf-8";

QByteArray scheduleBody(const QDateTime &start, const QDateTime &end, const QByteArray &extra = {})
{
    return R"({"title":"Evening Film","channelName":"Channel One","channelID":"ch7",)"
           R"("streamURL":"http://127.0.0.1:9/live/u/p/7.ts","programStart":")"
           + start.toString(Qt::ISODate).toLatin1() + R"(","programEnd":")" + end.toString(Qt::ISODate).toLatin1()
           + '"' + extra + '}';
}

void expectStatus(const std::optional<HTTPResponse> &response, const char *statusLine)
{
    ASSERT_TRUE(response);
    EXPECT_EQ(response->statusLine, QByteArray(statusLine));
}

// A refusal: 400 with the error text in JSON.
void expectRefusal(const std::optional<HTTPResponse> &response, const QByteArray &error, const QByteArray &what = {})
{
    ASSERT_TRUE(response) << what.constData();
    EXPECT_EQ(response->statusLine, QByteArray("HTTP/1.1 400 Bad Request")) << what.constData();
    EXPECT_EQ(response->header("Content-Type"), kJSON) << what.constData();
    EXPECT_EQ(response->body, R"({"error":")" + error + R"("})") << what.constData();
}

void expectNotFound(const std::optional<HTTPResponse> &response, const char *what)
{
    ASSERT_TRUE(response) << what;
    EXPECT_EQ(response->statusLine, QByteArray("HTTP/1.1 404 Not Found")) << what;
    EXPECT_EQ(response->header("Content-Type"), QByteArray("text/plain; charset=utf-8")) << what;
    EXPECT_EQ(response->body, QByteArray("404 Not Found")) << what;
}

} // namespace

using APIRouterTest = ServerFixture;

TEST_F(APIRouterTest, InfoDescribesTheRecorder)
{
    start();
    const auto response = request("GET", "/api/info");
    expectStatus(response, "HTTP/1.1 200 OK");
    EXPECT_EQ(response->header("Content-Type"), kJSON);
    const QJsonObject info = json(response).object();
    EXPECT_EQ(info.keys(), QStringList({QStringLiteral("computerName"), QStringLiteral("name"),
                                        QStringLiteral("version")}));
    EXPECT_FALSE(info.value(QStringLiteral("computerName")).toString().isEmpty());
    // Written with sorted keys.
    const QByteArray &body = response->body;
    EXPECT_LT(body.indexOf("computerName"), body.indexOf("\"name\""));
    EXPECT_LT(body.indexOf("\"name\""), body.indexOf("\"version\""));
    // Slashes, a query, escapes and the method's letter case do not matter.
    for (const QByteArray path : {"/api//info/", "/api/info?x=1", "/api/%69nfo"})
        EXPECT_EQ(request("GET", path)->body, body) << path.constData();
    EXPECT_EQ(request("get", "/api/info")->body, body);
}

TEST_F(APIRouterTest, ListDescribesEachRecordingInOrder)
{
    start();
    const auto empty = request("GET", "/api/recordings");
    expectStatus(empty, "HTTP/1.1 200 OK");
    EXPECT_TRUE(json(empty).isArray());
    EXPECT_TRUE(json(empty).array().isEmpty());
    server.reset();
    manager.reset();

    using Status = Recording::Status;
    Recording scheduled = makeRecording(QStringLiteral("scheduled"), Status::Scheduled);
    scheduled.accountID = QStringLiteral("acct-1");
    const Recording waiting = makeRecording(QStringLiteral("waiting"), Status::Waiting, 5000);
    Recording failedEmpty = makeRecording(QStringLiteral("failed-empty"), Status::Failed);
    failedEmpty.errorMessage = QStringLiteral("The stream could not be opened.");
    const Recording failedWithBytes = makeRecording(QStringLiteral("failed-bytes"), Status::Failed, 5000);
    testsupport::writeFile(filePath(failedWithBytes), QByteArray(5000, 'x'));
    start({scheduled, waiting, failedEmpty, failedWithBytes});

    const auto response = request("GET", "/api/recordings");
    expectStatus(response, "HTTP/1.1 200 OK");
    const QJsonArray list = json(response).array();
    ASSERT_EQ(list.size(), 4);
    const QStringList allKeys{"accountID", "bytes",     "channelID", "channelName", "endDate",
                              "errorMessage", "id",     "isPlayable", "programEnd", "programStart",
                              "startDate", "status",    "title",     "videoPath"};
    const struct
    {
        const Recording &recording;
        bool playable;
        QString status;
    } expected[] = {{scheduled, false, "scheduled"},
                    {waiting, false, "waiting"},
                    {failedEmpty, false, "failed"},
                    {failedWithBytes, true, "failed"}};
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QJsonObject info = list.at(i).toObject();
        const Recording &r = expected[i].recording;
        QStringList keys = allKeys;
        if (!r.accountID)
            keys.removeOne(QStringLiteral("accountID"));
        if (!r.errorMessage)
            keys.removeOne(QStringLiteral("errorMessage"));
        EXPECT_EQ(info.keys(), keys) << i;
        EXPECT_EQ(info.value(QStringLiteral("id")).toString().toLatin1(), idText(r));
        EXPECT_EQ(info.value(QStringLiteral("title")).toString(), r.title);
        EXPECT_EQ(info.value(QStringLiteral("status")).toString(), expected[i].status);
        EXPECT_EQ(info.value(QStringLiteral("isPlayable")).toBool(), expected[i].playable) << i;
        EXPECT_EQ(info.value(QStringLiteral("videoPath")).toString().toLatin1(), "/recordings/" + idText(r) + ".ts");
    }
    const QJsonObject first = list.at(0).toObject();
    EXPECT_EQ(first.value(QStringLiteral("accountID")).toString(), QStringLiteral("acct-1"));
    EXPECT_EQ(first.value(QStringLiteral("programStart")).toString(), QStringLiteral("2099-05-01T20:00:00Z"));
    EXPECT_EQ(first.value(QStringLiteral("endDate")).toString(), QStringLiteral("2099-05-01T21:05:00Z"));
    EXPECT_EQ(list.at(1).toObject().value(QStringLiteral("bytes")).toInteger(), 5000);
    EXPECT_EQ(list.at(2).toObject().value(QStringLiteral("errorMessage")).toString(),
              QStringLiteral("The stream could not be opened."));
    // What only the recorder needs stays private.
    EXPECT_FALSE(response->body.contains("streamURL"));
    EXPECT_FALSE(response->body.contains("fileName"));
}

TEST_F(APIRouterTest, ScheduleAnswersTheRecordingOrTheReason)
{
    start();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QDateTime start = QDateTime(now.date().addDays(2), QTime(20, 0), Qt::UTC);

    for (const QByteArray &body : {QByteArray(""), QByteArray("{}"), QByteArray("not json"),
                                  scheduleBody(start, start.addSecs(3600)).replace("Z\"", ".5Z\"")})
        expectRefusal(request("POST", "/api/recordings", body), "Invalid request.", body);
    expectRefusal(request("POST", "/api/recordings", scheduleBody(now.addSecs(-7200), now.addSecs(-3600))),
                  "This programme has already ended.");

    const auto created = request("POST", "/api/recordings", scheduleBody(start, start.addSecs(3600)));
    expectStatus(created, "HTTP/1.1 201 Created");
    const QJsonObject info = json(created).object();
    EXPECT_EQ(info.value(QStringLiteral("status")).toString(), QStringLiteral("scheduled"));
    EXPECT_EQ(info.value(QStringLiteral("channelID")).toString(), QStringLiteral("ch7"));
    EXPECT_FALSE(info.value(QStringLiteral("isPlayable")).toBool());
    const QString id = info.value(QStringLiteral("id")).toString();
    ASSERT_EQ(manager->recordings().size(), 1);
    EXPECT_EQ(manager->recordings().first().id, QUuid::fromString(id));

    // The same programme again answers the existing recording.
    const auto again = request("POST", "/api/recordings", scheduleBody(start, start.addSecs(3600)));
    expectStatus(again, "HTTP/1.1 201 Created");
    EXPECT_EQ(json(again).object().value(QStringLiteral("id")).toString(), id);
    EXPECT_EQ(manager->recordings().size(), 1);
}

TEST_F(APIRouterTest, ExtendChecksTheRecordingBeforeTheBody)
{
    const Recording scheduled = makeRecording(QStringLiteral("scheduled"), Recording::Status::Scheduled);
    const Recording finished = makeRecording(QStringLiteral("finished"), Recording::Status::Finished);
    start({scheduled, finished});
    const QByteArray path = "/api/recordings/" + idText(scheduled) + "/extend";

    expectNotFound(request("POST", "/api/recordings/" + QUuid::createUuid().toString(QUuid::WithoutBraces).toLatin1()
                                       + "/extend", "garbage"), "unknown id");
    expectNotFound(request("POST", "/api/recordings/not-an-id/extend", R"({"minutes":5})"), "bad id");
    expectNotFound(request("POST", "/api/recordings/{" + idText(scheduled) + "}/extend", R"({"minutes":5})"),
                   "braced id");
    for (const QByteArray &body : {QByteArray("{}"), QByteArray(R"({"minutes":1.5})"), QByteArray(R"({"minutes":"5"})"),
                                  QByteArray()})
        expectRefusal(request("POST", path, body), "Invalid request.", body);
    expectRefusal(request("POST", path, R"({"minutes":0})"), "Invalid extension.");
    expectRefusal(request("POST", "/api/recordings/" + idText(finished) + "/extend", R"({"minutes":5})"),
                  "This recording has already ended.");

    // Lower-case ids name the same recording.
    const auto extended = request("POST", path.toLower(), R"({"minutes":30})");
    expectStatus(extended, "HTTP/1.1 200 OK");
    EXPECT_EQ(json(extended).object().value(QStringLiteral("endDate")).toString(),
              QStringLiteral("2099-05-01T21:35:00Z"));
    EXPECT_EQ(manager->recording(scheduled.id)->endDate, scheduled.endDate.addSecs(1800));
}

TEST_F(APIRouterTest, StopAndDeleteAnswerNoContent)
{
    const Recording scheduled = makeRecording(QStringLiteral("scheduled"), Recording::Status::Scheduled);
    const Recording finished = makeRecording(QStringLiteral("finished"), Recording::Status::Finished);
    testsupport::writeFile(filePath(finished), QByteArray(100, 'x'));
    start({scheduled, finished});

    const auto stopped = request("POST", "/api/recordings/" + idText(scheduled) + "/stop");
    expectStatus(stopped, "HTTP/1.1 204 No Content");
    EXPECT_EQ(stopped->header("Content-Length"), QByteArray("0"));
    EXPECT_TRUE(stopped->body.isEmpty());
    EXPECT_FALSE(manager->recording(scheduled.id));

    expectNotFound(request("DELETE", "/api/recordings/" + idText(scheduled)), "deleted twice");
    expectNotFound(request("DELETE", "/api/recordings/" + idText(finished) + "/extra"), "four segments");
    expectNotFound(request("POST", "/api/recordings/" + idText(finished)), "POST with three segments");
    EXPECT_TRUE(QFile::exists(filePath(finished)));

    const auto deleted = request("DELETE", "/api/recordings/" + idText(finished).toLower());
    expectStatus(deleted, "HTTP/1.1 204 No Content");
    EXPECT_FALSE(manager->recording(finished.id));
    EXPECT_FALSE(QFile::exists(filePath(finished)));
}

TEST_F(APIRouterTest, EverythingElseIsNotFound)
{
    const Recording finished = makeRecording(QStringLiteral("finished"), Recording::Status::Finished);
    start({finished});
    for (const QByteArray method : {"PUT", "OPTIONS", "HEAD", "PATCH"}) {
        expectNotFound(request(method, "/api/info"), method.constData());
        expectNotFound(request(method, "/api/recordings"), method.constData());
    }
    expectNotFound(request("GET", "/"), "root");
    expectNotFound(request("GET", "/api"), "api alone");
    expectNotFound(request("GET", "/API/info"), "upper-case segment");
    expectNotFound(request("GET", "/api/info/more"), "extra segment");
    expectNotFound(request("GET", "/api/%zzinfo"), "malformed escape");
    expectNotFound(HTTPResponse::parse(exchange(port, "GET\r\n\r\n")), "one-word request line");
    expectNotFound(HTTPResponse::parse(exchange(port, "\r\n\r\n")), "empty request line");
}

TEST_F(APIRouterTest, RecordingFilesArePlayedByTheirVideoPath)
{
    const Recording finished = makeRecording(QStringLiteral("finished"), Recording::Status::Finished);
    QByteArray content(1000, Qt::Uninitialized);
    for (qsizetype i = 0; i < content.size(); ++i)
        content[i] = char(i * 7);
    testsupport::writeFile(filePath(finished), content);
    Recording escaping = makeRecording(QStringLiteral("escaping"), Recording::Status::Finished);
    escaping.fileName = QStringLiteral("../outside.ts");
    const QString outside = QDir(root.path()).filePath(QStringLiteral("outside.ts"));
    testsupport::writeFile(outside, "secret");
    ASSERT_TRUE(QFile::exists(filePath(escaping)));
    const Recording missing = makeRecording(QStringLiteral("missing"), Recording::Status::Stopped);
    start({finished, escaping, missing});

    const QByteArray path = "/recordings/" + idText(finished) + ".ts";
    const auto whole = request("GET", path);
    expectStatus(whole, "HTTP/1.1 200 OK");
    EXPECT_EQ(whole->header("Content-Type"), QByteArray("video/mp2t"));
    EXPECT_EQ(whole->body, content);
    const auto lower = request("GET", path.toLower(), {}, "Range: bytes=-10\r\n");
    expectStatus(lower, "HTTP/1.1 206 Partial Content");
    EXPECT_EQ(lower->body, content.right(10));
    const auto head = request("HEAD", path, {}, "Range: bytes=0-99\r\n");
    expectStatus(head, "HTTP/1.1 206 Partial Content");
    EXPECT_EQ(head->header("Content-Length"), QByteArray("100"));
    EXPECT_TRUE(head->body.isEmpty());

    expectNotFound(request("GET", "/recordings/" + idText(finished) + ".TS"), "upper-case extension");
    expectNotFound(request("GET", "/api/recordings/" + idText(finished) + ".ts"), "api prefix");
    expectNotFound(request("GET", "/recordings/" + idText(finished)), "no extension");
    expectNotFound(request("POST", path), "POST");
    expectNotFound(request("GET", "/recordings/" + QUuid::createUuid().toString(QUuid::WithoutBraces).toLatin1()
                                      + ".ts"), "unknown id");
    expectNotFound(request("GET", "/recordings/" + idText(missing) + ".ts"), "missing file");
    expectNotFound(request("HEAD", "/recordings/" + idText(missing) + ".ts"), "missing file, HEAD");
    expectNotFound(request("GET", "/recordings/" + idText(escaping) + ".ts"), "name outside the folder");
}
