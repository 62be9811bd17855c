#include "JSONCoding.h"
#include "RecorderTest.h"

#include <QJsonDocument>

// The program killed outright in the middle of a capture, then started again.
using CrashRecovery = RecorderTest;

TEST_F(CrashRecovery, KilledCaptureIsInterruptedWithEveryByteKeptAndCanBeScheduledAgain)
{
    RecordingRequest request;
    request.title = request.channelName = request.channelID = QStringLiteral("Sport");
    request.streamURL = serveLive(4000, 5);
    request.programStart = QDateTime::currentDateTimeUtc().addSecs(-120);
    request.programEnd = QDateTime::currentDateTimeUtc().addSecs(3600);
    const QByteArray body = QJsonDocument(sharedJSONEncoder().encode(request)).toJson();
    const auto schedule = [&] {
        const auto answer = apiRequest(recorder.port(), "POST", "/api/recordings", body);
        EXPECT_TRUE(answer && answer->status == 201) << (answer ? answer->body.toStdString() : "no answer");
        EXPECT_EQ(answer.value_or(APIResponse{}).object().value(QStringLiteral("status")).toString(), QStringLiteral("recording"));
        return answer.value_or(APIResponse{}).object().value(QStringLiteral("id")).toString();
    };

    ASSERT_TRUE(recorder.start(true));
    const QString id = schedule();
    const auto stored = recorder.readIndex();
    ASSERT_TRUE(stored && stored->size() == 1);
    const QString path = recorder.filePath(stored->first().fileName);
    ASSERT_TRUE(testsupport::waitUntil([&] { return fileSize(path) > 256 * 1024; }));

    recorder.kill(SIGKILL);
    ASSERT_TRUE(recorder.waitForExit());
    EXPECT_EQ(recorder.process().exitStatus(), QProcess::CrashExit);
    // The provider sees the connection go; what it sent is all there is.
    ASSERT_TRUE(testsupport::waitUntil([&] { return provider.openConnections() == 0; }));
    const qint64 sentBeforeKill = provider.bytesSent(kLive);
    const QByteArray file = testsupport::readFile(path);
    EXPECT_LE(file.size(), sentBeforeKill);
    expectStreamPrefix(path);
    const auto left = recorder.readIndex();
    ASSERT_TRUE(left && left->size() == 1) << "the index must decode after a kill";
    EXPECT_EQ(left->first().id.toString(QUuid::WithoutBraces).toUpper(), id);
    EXPECT_EQ(left->first().status, Recording::Status::Recording);

    // The same user's next start: the killed copy's locks do not block it.
    ASSERT_TRUE(recorder.start(true));
    const auto listed = listedRecording(recorder.port(), id);
    ASSERT_TRUE(listed);
    EXPECT_EQ(listed->value(QStringLiteral("status")).toString(), QStringLiteral("interrupted"));
    EXPECT_EQ(listed->value(QStringLiteral("bytes")).toInteger(), file.size());
    EXPECT_TRUE(listed->value(QStringLiteral("isPlayable")).toBool());

    // The interrupted recording does not block the same programme: a new
    // recording is made, into a file of its own, from where the stream is now.
    EXPECT_NE(schedule(), id);
    std::optional<QList<Recording>> index;
    ASSERT_TRUE(testsupport::waitUntil([&] {
        index = recorder.readIndex();
        return index && index->size() == 2;
    }));
    const QString secondPath = recorder.filePath(index->at(0).fileName);
    EXPECT_NE(secondPath, path);
    ASSERT_TRUE(testsupport::waitUntil([&] { return fileSize(secondPath) > 64 * 1024; }));
    ASSERT_TRUE(recorder.endsCleanlyOn(SIGTERM));

    expectStreamPrefix(secondPath, sentBeforeKill);
    EXPECT_EQ(testsupport::readFile(path), file) << "the interrupted file is left alone";
    index = recorder.readIndex();
    ASSERT_TRUE(index && index->size() == 2);
    EXPECT_EQ(index->at(0).status, Recording::Status::Stopped);
    EXPECT_EQ(index->at(0).bytes, fileSize(secondPath));
    EXPECT_EQ(index->at(1).status, Recording::Status::Interrupted) << "the repaired state reaches the index";
    EXPECT_EQ(index->at(1).bytes, file.size());
}
