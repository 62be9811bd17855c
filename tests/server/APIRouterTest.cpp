#include "RecorderInfo.h"
#include "ServerFixture.h"

class APIRouterTest : public ServerFixture
{
protected:
    static void expectRefusal(const std::optional<HTTPResponse> &response, const QByteArray &error,
                              const QByteArray &what = {})
    {
        expectAnswer(response, "400 Bad Request", kJSON, R"({"error":")" + error + R"("})", what);
    }
    static void expectNotFound(const std::optional<HTTPResponse> &response, const QByteArray &what)
    {
        expectAnswer(response, "404 Not Found", "text/plain; charset=utf-8", "404 Not Found", what);
    }
};

TEST_F(APIRouterTest, InfoThePageAndItsStatusAndNothingElse)
{
    const Recording scheduled = servedRecording(QStringLiteral("later"), Recording::Status::Scheduled);
    start({scheduled});
    const auto info = request("GET", "/api/info");
    expectAnswer(info, "200 OK");
    EXPECT_EQ(info->header("Content-Type"), kJSON);
    EXPECT_EQ(json(info).object(), (QJsonObject{{QStringLiteral("name"), QStringLiteral("Tivolux Recorder")},
                                                {QStringLiteral("version"), QStringLiteral(TIVOLUX_VERSION)},
                                                {QStringLiteral("computerName"), RecorderInfo::hostComputerName()}}));
    // Empty segments do not matter.
    EXPECT_EQ(request("GET", "/api//info/")->body, info->body);

    // The page is self-contained: nothing is fetched from anywhere else.
    const auto page = request("GET", "/");
    expectAnswer(page, "200 OK");
    EXPECT_EQ(page->header("Content-Type"), "text/html; charset=utf-8");
    EXPECT_TRUE(page->body.contains("<title>Tivolux Recorder</title>"));
    EXPECT_FALSE(page->body.contains("src=\"http") || page->body.contains("href=\"http"));
    const auto head = request("HEAD", "/");
    EXPECT_EQ(head->header("Content-Length"), QByteArray::number(page->body.size()));
    EXPECT_TRUE(head->body.isEmpty());
    const auto status = request("GET", "/api/status", {}, fromPage("http://127.0.0.1:" + QByteArray::number(port)));
    expectAnswer(status, "200 OK");
    EXPECT_EQ(json(status).object().value(QStringLiteral("folder")).toString(), folderPath());
    // One hour at 8 Mbit/s plus the five minutes after the programme.
    EXPECT_EQ(json(status).object().value(QStringLiteral("neededBytes")).toInteger(), 3900 * 1000000LL);

    for (const QByteArray line : {"PUT /api/recordings", "HEAD /api/recordings", "GET /index.html", "GET /API/info",
                                  "GET /api/info/more", "GET /api/%zzinfo", "GET /api/status/x", "GET /api",
                                  "POST /api/status", "GET"})
        expectNotFound(HTTPResponse::parse(exchange(port, line + (line == "GET" ? "" : " HTTP/1.1") + "\r\n\r\n")),
                       line);
}

TEST_F(APIRouterTest, ScheduleExtendStopAndDeleteAnswerTheRecordingOrTheReason)
{
    const Recording scheduled = servedRecording(QStringLiteral("scheduled"), Recording::Status::Scheduled);
    const Recording finished = servedRecording(QStringLiteral("finished"), Recording::Status::Finished);
    testsupport::writeFile(filePath(finished), QByteArray(100, 'x'));
    start({scheduled, finished});
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QDateTime start = QDateTime(now.date().addDays(2), QTime(20, 0), Qt::UTC);

    // Extend checks the recording before the body.
    const QByteArray path = "/api/recordings/" + idText(scheduled) + "/extend";
    const QByteArray unknown = QUuid::createUuid().toString(QUuid::WithoutBraces).toLatin1();
    expectNotFound(request("POST", "/api/recordings/" + unknown + "/extend", "garbage"), "unknown id");
    expectNotFound(request("POST", "/api/recordings/not-an-id/extend", R"({"minutes":5})"), "bad id");
    expectNotFound(request("POST", "/api/recordings/{" + idText(scheduled) + "}/extend", R"({"minutes":5})"), "braced");
    for (const QByteArray &body : {QByteArray(R"({"minutes":1.5})"), QByteArray()})
        expectRefusal(request("POST", path, body), "Invalid request.", body);
    for (const QByteArray &body : {QByteArray(R"({"minutes":0})"), QByteArray(R"({"minutes":241})")})
        expectRefusal(request("POST", path, body), "Invalid extension.", body);
    expectRefusal(request("POST", "/api/recordings/" + idText(finished) + "/extend", R"({"minutes":5})"),
                  "This recording has already ended.");
    // Lower-case ids name the same recording; the new end is saved.
    const auto extended = request("POST", path.toLower(), R"({"minutes":240})");
    expectAnswer(extended, "200 OK");
    EXPECT_EQ(json(extended).object().value(QStringLiteral("endDate")).toString(), QStringLiteral("2099-05-02T01:05:00Z"));
    EXPECT_EQ(manager->recording(scheduled.id)->programEnd, scheduled.programEnd);
    EXPECT_EQ(readIndex(folderPath()).first().endDate, scheduled.endDate.addSecs(240 * 60));

    const auto stopped = request("POST", "/api/recordings/" + idText(scheduled) + "/stop");
    expectAnswer(stopped, "204 No Content");
    EXPECT_EQ(stopped->header("Content-Length"), "0");
    EXPECT_TRUE(stopped->body.isEmpty());
    EXPECT_FALSE(manager->recording(scheduled.id));
    expectNotFound(request("DELETE", "/api/recordings/" + idText(scheduled)), "deleted twice");
    expectNotFound(request("DELETE", "/api/recordings/" + idText(finished) + "/extra"), "four segments");
    expectNotFound(request("POST", "/api/recordings/" + idText(finished)), "POST with three segments");
    EXPECT_TRUE(QFile::exists(filePath(finished)));
    expectAnswer(request("DELETE", "/api/recordings/" + idText(finished).toLower()), "204 No Content");
    EXPECT_FALSE(manager->recording(finished.id));
    EXPECT_FALSE(QFile::exists(filePath(finished)));

    for (const QByteArray &body : {QByteArray(""), QByteArray("{}"), QByteArray("not json"),
                                   scheduleBody(start).replace("Z\"", ".5Z\"")})
        expectRefusal(request("POST", "/api/recordings", body), "Invalid request.", body);
    expectRefusal(request("POST", "/api/recordings", scheduleBody(now.addSecs(-7200))),
                  "This programme has already ended.");
    const auto created = request("POST", "/api/recordings", scheduleBody(start));
    expectAnswer(created, "201 Created");
    EXPECT_EQ(json(created).object().value(QStringLiteral("status")).toString(), QStringLiteral("scheduled"));
    ASSERT_EQ(manager->recordings().size(), 1);
    EXPECT_EQ(manager->recordings().first().id, QUuid::fromString(json(created).object().value(QStringLiteral("id")).toString()));
}

TEST_F(APIRouterTest, ListTellsPlayabilityKeepsPrivateFieldsPrivateAndFilesArePlayedByTheirVideoPath)
{
    using Status = Recording::Status;
    const Recording waiting = servedRecording(QStringLiteral("waiting"), Status::Waiting, 5000);
    const Recording empty = servedRecording(QStringLiteral("failed-empty"), Status::Failed);
    testsupport::writeFile(filePath(empty), QByteArray());
    const Recording failed = servedRecording(QStringLiteral("failed-bytes"), Status::Failed);
    const QByteArray content(1000, 'x');
    testsupport::writeFile(filePath(failed), content);
    const Recording missing = servedRecording(QStringLiteral("missing"), Status::Stopped);
    Recording escaping = servedRecording(QStringLiteral("escaping"), Status::Finished);
    escaping.fileName = QStringLiteral("../outside.ts");
    testsupport::writeFile(root.filePath(QStringLiteral("outside.ts")), "secret");
    ASSERT_TRUE(QFile::exists(filePath(escaping)));
    start({waiting, empty, failed, missing, escaping});

    const auto response = request("GET", "/api/recordings");
    expectAnswer(response, "200 OK");
    const QJsonArray list = json(response).array();
    ASSERT_EQ(list.size(), 5);
    const Recording *expected[] = {&waiting, &empty, &failed, &missing};
    for (qsizetype i = 0; i < 4; ++i) {
        const QJsonObject info = list.at(i).toObject();
        EXPECT_EQ(info.value(QStringLiteral("id")).toString().toLatin1(), idText(*expected[i]));
        EXPECT_EQ(info.value(QStringLiteral("isPlayable")).toBool(), i == 2) << i;
        EXPECT_EQ(info.value(QStringLiteral("videoPath")).toString().toLatin1(),
                  "/recordings/" + idText(*expected[i]) + ".ts");
    }
    EXPECT_EQ(list.at(0).toObject().value(QStringLiteral("bytes")).toInteger(), 5000);
    EXPECT_FALSE(response->body.contains("streamURL"));
    EXPECT_FALSE(response->body.contains("fileName"));

    // A failed recording that kept bytes plays like any other.
    const QByteArray path = "/recordings/" + idText(failed) + ".ts";
    const auto whole = request("GET", path);
    expectAnswer(whole, "200 OK");
    EXPECT_EQ(whole->body, content);
    // Lower-case ids name the same file; the range and HEAD reach the file answer.
    const auto head = request("HEAD", path.toLower(), {}, "Range: bytes=0-99\r\n");
    expectAnswer(head, "206 Partial Content");
    EXPECT_EQ(head->header("Content-Length"), "100");
    EXPECT_TRUE(head->body.isEmpty());

    const std::pair<QByteArray, QByteArray> refused[] = {
        {"GET", "/recordings/" + idText(failed) + ".TS"}, {"GET", "/api/recordings/" + idText(failed) + ".ts"},
        {"POST", path}, {"GET", "/recordings/" + QUuid::createUuid().toString(QUuid::WithoutBraces).toLatin1() + ".ts"},
        {"GET", "/recordings/" + idText(missing) + ".ts"}, {"HEAD", "/recordings/" + idText(empty) + ".ts"},
        {"GET", "/recordings/" + idText(escaping) + ".ts"}};
    for (const auto &[method, target] : refused)
        expectNotFound(request(method, target), method + ' ' + target);
}
