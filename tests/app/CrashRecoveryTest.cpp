#include "APIClient.h"
#include "FakeProvider.h"
#include "JSONCoding.h"
#include "RecorderProcess.h"
#include "TestSupport.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <gtest/gtest.h>

#include <csignal>

// The program killed outright in the middle of a capture, then started again.
namespace {

using namespace std::chrono_literals;

QByteArray scheduleBody(const QString &streamURL, const QDateTime &programStart, const QDateTime &programEnd)
{
    RecordingRequest request;
    request.title = QStringLiteral("Night Match");
    request.channelName = QStringLiteral("Sport");
    request.channelID = QStringLiteral("sport-1");
    request.streamURL = streamURL;
    request.programStart = programStart;
    request.programEnd = programEnd;
    return QJsonDocument(sharedJSONEncoder().encode(request)).toJson();
}

qint64 fileSize(const QString &path)
{
    return QFileInfo(path).size();
}

} // namespace

TEST(CrashRecovery, KilledCaptureIsInterruptedWithEveryByteKeptAndCanBeScheduledAgain)
{
    if (!RecorderProcess::apiPortIsFree())
        GTEST_SKIP() << "port " << RecorderProcess::kPort << " is in use by another program";
    FakeProvider provider;
    provider.serve(QStringLiteral("/live.ts"), FakeProvider::Answer::slowStream(4000, 5ms));
    const QString streamURL = provider.url(QStringLiteral("/live.ts")).toString();
    const QDateTime programStart = QDateTime::currentDateTimeUtc().addSecs(-120);
    const QDateTime programEnd = QDateTime::currentDateTimeUtc().addSecs(3600);

    RecorderProcess recorder;
    ASSERT_TRUE(recorder.isValid());
    ASSERT_TRUE(recorder.start(true));
    const auto scheduled = apiRequest(RecorderProcess::kPort, "POST", "/api/recordings",
                                      scheduleBody(streamURL, programStart, programEnd));
    ASSERT_TRUE(scheduled);
    ASSERT_EQ(scheduled->status, 201) << scheduled->body.toStdString();
    const QString id = scheduled->object().value(QStringLiteral("id")).toString();
    EXPECT_EQ(scheduled->object().value(QStringLiteral("status")).toString(), QStringLiteral("recording"));

    const auto stored = recorder.readIndex();
    ASSERT_TRUE(stored && stored->size() == 1);
    const QString path = recorder.filePath(stored->first().fileName);
    ASSERT_TRUE(testsupport::waitUntil([&] { return fileSize(path) > 256 * 1024; }));

    recorder.kill(SIGKILL);
    ASSERT_TRUE(recorder.waitForExit());
    EXPECT_EQ(recorder.process().exitStatus(), QProcess::CrashExit);
    // The provider sees the connection go; what it sent is all there is.
    ASSERT_TRUE(testsupport::waitUntil([&] { return provider.openConnections() == 0; }));
    const qint64 sentBeforeKill = provider.bytesSent(QStringLiteral("/live.ts"));
    const qint64 sizeAfterKill = fileSize(path);

    // The index the killed program left is whole and still says recording.
    const auto left = recorder.readIndex();
    ASSERT_TRUE(left) << "the index must decode after a kill";
    ASSERT_EQ(left->size(), 1);
    EXPECT_EQ(left->first().id.toString(QUuid::WithoutBraces).toUpper(), id);
    EXPECT_EQ(left->first().status, Recording::Status::Recording);

    ASSERT_TRUE(recorder.start(true));
    const auto listed = listedRecording(RecorderProcess::kPort, id);
    ASSERT_TRUE(listed);
    EXPECT_EQ(listed->value(QStringLiteral("status")).toString(), QStringLiteral("interrupted"));
    EXPECT_EQ(listed->value(QStringLiteral("bytes")).toInteger(), sizeAfterKill);
    EXPECT_TRUE(listed->value(QStringLiteral("isPlayable")).toBool());

    // Exactly the stream's first bytes: nothing cut off by the restart,
    // nothing the provider did not send, nothing out of order.
    const QByteArray file = testsupport::readFile(path);
    EXPECT_EQ(file.size(), sizeAfterKill);
    EXPECT_GT(file.size(), 256 * 1024);
    EXPECT_LE(file.size(), sentBeforeKill);
    EXPECT_TRUE(file == FakeProvider::content(0, file.size())) << "the file is not the stream's prefix";

    // The interrupted recording does not block the same programme: a new
    // recording is made, into a file of its own, from where the stream is now.
    const auto again = apiRequest(RecorderProcess::kPort, "POST", "/api/recordings",
                                  scheduleBody(streamURL, programStart, programEnd));
    ASSERT_TRUE(again);
    ASSERT_EQ(again->status, 201) << again->body.toStdString();
    const QString secondId = again->object().value(QStringLiteral("id")).toString();
    EXPECT_NE(secondId, id);
    EXPECT_EQ(again->object().value(QStringLiteral("status")).toString(), QStringLiteral("recording"));

    std::optional<QList<Recording>> index;
    ASSERT_TRUE(testsupport::waitUntil([&] {
        index = recorder.readIndex();
        return index && index->size() == 2;
    }));
    const Recording second = index->at(0);
    const Recording first = index->at(1);
    EXPECT_EQ(first.status, Recording::Status::Interrupted) << "the repaired state reaches the index";
    EXPECT_EQ(first.bytes, sizeAfterKill);
    EXPECT_NE(second.fileName, first.fileName);

    const QString secondPath = recorder.filePath(second.fileName);
    ASSERT_TRUE(testsupport::waitUntil([&] { return fileSize(secondPath) > 64 * 1024; }));
    recorder.kill(SIGTERM);
    ASSERT_TRUE(recorder.waitForExit());
    EXPECT_EQ(recorder.process().exitCode(), 0);

    const QByteArray secondFile = testsupport::readFile(secondPath);
    EXPECT_TRUE(secondFile == FakeProvider::content(sentBeforeKill, secondFile.size()))
        << "the new recording continues the stream where the provider stood";
    EXPECT_EQ(testsupport::readFile(path), file) << "the interrupted file is left alone";
    const auto lastIndex = recorder.readIndex();
    ASSERT_TRUE(lastIndex && lastIndex->size() == 2);
    EXPECT_EQ(lastIndex->at(0).status, Recording::Status::Stopped);
    EXPECT_EQ(lastIndex->at(0).bytes, secondFile.size());
    EXPECT_EQ(lastIndex->at(1).status, Recording::Status::Interrupted);
}
