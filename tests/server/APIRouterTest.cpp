#include "RecorderInfo.h"
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
    EXPECT_EQ(info.value(QStringLiteral("name")).toString(), QStringLiteral("Tivolux Recorder"));
    EXPECT_EQ(info.value(QStringLiteral("version")).toString(), QStringLiteral(TIVOLUX_VERSION));
    EXPECT_EQ(info.value(QStringLiteral("computerName")).toString(), RecorderInfo::hostComputerName());
    EXPECT_EQ(info.size(), 3);
    // Slashes, a query, escapes and the method's letter case do not matter.
    for (const QByteArray path : {"/api//info/", "/api/info?x=1", "/api/%69nfo"})
        EXPECT_EQ(request("GET", path)->body, response->body) << path.constData();
    EXPECT_EQ(request("get", "/api/info")->body, response->body);
}

TEST_F(APIRouterTest, ListTellsPlayabilityAndKeepsPrivateFieldsPrivate)
{
    using Status = Recording::Status;
    const Recording waiting = servedRecording(QStringLiteral("waiting"), Status::Waiting, 5000);
    const Recording failedEmpty = servedRecording(QStringLiteral("failed-empty"), Status::Failed);
    const Recording failedWithBytes = servedRecording(QStringLiteral("failed-bytes"), Status::Failed, 5000);
    testsupport::writeFile(filePath(failedWithBytes), QByteArray(5000, 'x'));
    start({waiting, failedEmpty, failedWithBytes});

    const auto response = request("GET", "/api/recordings");
    expectStatus(response, "HTTP/1.1 200 OK");
    const QJsonArray list = json(response).array();
    ASSERT_EQ(list.size(), 3);
    const Recording *expected[] = {&waiting, &failedEmpty, &failedWithBytes};
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QJsonObject info = list.at(i).toObject();
        EXPECT_EQ(info.value(QStringLiteral("id")).toString().toLatin1(), idText(*expected[i]));
        EXPECT_EQ(info.value(QStringLiteral("isPlayable")).toBool(), i == 2) << i;
        EXPECT_EQ(info.value(QStringLiteral("videoPath")).toString().toLatin1(),
                  "/recordings/" + idText(*expected[i]) + ".ts");
    }
    EXPECT_EQ(list.at(0).toObject().value(QStringLiteral("bytes")).toInteger(), 5000);
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
    ASSERT_EQ(manager->recordings().size(), 1);
    EXPECT_EQ(manager->recordings().first().id, QUuid::fromString(info.value(QStringLiteral("id")).toString()));
}

TEST_F(APIRouterTest, ExtendChecksTheRecordingBeforeTheBodyAndStopAndDeleteAnswerNoContent)
{
    const Recording scheduled = servedRecording(QStringLiteral("scheduled"), Recording::Status::Scheduled);
    const Recording finished = servedRecording(QStringLiteral("finished"), Recording::Status::Finished);
    testsupport::writeFile(filePath(finished), QByteArray(100, 'x'));
    start({scheduled, finished});
    const QByteArray path = "/api/recordings/" + idText(scheduled) + "/extend";

    expectNotFound(request("POST", "/api/recordings/" + QUuid::createUuid().toString(QUuid::WithoutBraces).toLatin1()
                                       + "/extend", "garbage"), "unknown id");
    expectNotFound(request("POST", "/api/recordings/not-an-id/extend", R"({"minutes":5})"), "bad id");
    expectNotFound(request("POST", "/api/recordings/{" + idText(scheduled) + "}/extend", R"({"minutes":5})"),
                   "braced id");
    for (const QByteArray &body : {QByteArray(R"({"minutes":1.5})"), QByteArray()})
        expectRefusal(request("POST", path, body), "Invalid request.", body);
    for (const QByteArray &body : {QByteArray(R"({"minutes":0})"), QByteArray(R"({"minutes":241})")})
        expectRefusal(request("POST", path, body), "Invalid extension.", body);
    expectRefusal(request("POST", "/api/recordings/" + idText(finished) + "/extend", R"({"minutes":5})"),
                  "This recording has already ended.");

    // Lower-case ids name the same recording.
    const auto extended = request("POST", path.toLower(), R"({"minutes":240})");
    expectStatus(extended, "HTTP/1.1 200 OK");
    EXPECT_EQ(json(extended).object().value(QStringLiteral("endDate")).toString(),
              QStringLiteral("2099-05-02T01:05:00Z"));
    EXPECT_EQ(manager->recording(scheduled.id)->programEnd, scheduled.programEnd);
    // The new end is saved.
    EXPECT_EQ(readIndex(folderPath()).first().endDate, scheduled.endDate.addSecs(240 * 60));

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
    start();
    for (const QByteArray request : {"PUT /api/recordings", "HEAD /api/recordings", "GET /index.html", "GET /API/info",
                                     "GET /api/info/more", "GET /api/%zzinfo"})
        expectNotFound(HTTPResponse::parse(exchange(port, request + " HTTP/1.1\r\n\r\n")), request.constData());
    expectNotFound(HTTPResponse::parse(exchange(port, "GET\r\n\r\n")), "one-word request line");
}

TEST_F(APIRouterTest, RecordingFilesArePlayedByTheirVideoPath)
{
    const Recording finished = servedRecording(QStringLiteral("finished"), Recording::Status::Finished);
    QByteArray content(1000, 'x');
    content[990] = 'y';
    testsupport::writeFile(filePath(finished), content);
    Recording escaping = servedRecording(QStringLiteral("escaping"), Recording::Status::Finished);
    escaping.fileName = QStringLiteral("../outside.ts");
    const QString outside = QDir(root.path()).filePath(QStringLiteral("outside.ts"));
    testsupport::writeFile(outside, "secret");
    ASSERT_TRUE(QFile::exists(filePath(escaping)));
    const Recording missing = servedRecording(QStringLiteral("missing"), Recording::Status::Stopped);
    const Recording empty = servedRecording(QStringLiteral("empty"), Recording::Status::Failed);
    testsupport::writeFile(filePath(empty), QByteArray());
    start({finished, escaping, missing, empty});

    const QByteArray path = "/recordings/" + idText(finished) + ".ts";
    const auto whole = request("GET", path);
    expectStatus(whole, "HTTP/1.1 200 OK");
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
    expectNotFound(request("POST", path), "POST");
    expectNotFound(request("GET", "/recordings/" + QUuid::createUuid().toString(QUuid::WithoutBraces).toLatin1()
                                      + ".ts"), "unknown id");
    expectNotFound(request("GET", "/recordings/" + idText(missing) + ".ts"), "missing file");
    expectNotFound(request("HEAD", "/recordings/" + idText(empty) + ".ts"), "empty file");
    expectNotFound(request("GET", "/recordings/" + idText(escaping) + ".ts"), "name outside the folder");
}
