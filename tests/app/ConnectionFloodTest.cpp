#include "RecorderTest.h"

#include <QHostAddress>
#include <QTcpSocket>

#include <algorithm>
#include <vector>

// The real program under a low descriptor limit, flooded with idle
// connections from the network.
using ConnectionFlood = RecorderTest;

TEST_F(ConnectionFlood, ARecordingDueDuringAFloodRecordsAndTheAPIAnswersOnceAConnectionFrees)
{
    Recording due = onAirRecording(serveLive(1880, 10), QStringLiteral("due.ts"));
    due.programStart = due.startDate = QDateTime::currentDateTimeUtc().addSecs(4);
    recorder.openFileLimit = {128, 128};
    recorder.writeIndex({due});
    // Ready once it names its web page. Not asked through the API: the
    // server would count that connection until it had read the client's end,
    // and might not have done so before the flood took the last slot.
    ASSERT_TRUE(recorder.start());
    ASSERT_TRUE(testsupport::waitUntil([&] { return recorder.output().contains("web page at"); }))
        << recorder.output().toStdString();

    // Far more connections than the program has descriptors; it keeps a
    // quarter of its limit and closes the rest unanswered. They come in
    // batches that fit the listen queue: a connection the kernel could not
    // queue looks open to its client until the kernel retries it.
    constexpr int kCap = 128 / 4;
    std::vector<std::unique_ptr<QTcpSocket>> flood;
    const auto count = [&flood](QAbstractSocket::SocketState state) {
        return int(std::count_if(flood.begin(), flood.end(), [state](const auto &s) { return s->state() == state; }));
    };
    while (flood.size() < 240) {
        for (int i = 0; i < 24; ++i) {
            flood.push_back(std::make_unique<QTcpSocket>());
            flood.back()->connectToHost(QHostAddress::LocalHost, recorder.port());
        }
        const int held = std::min(kCap, int(flood.size()));
        ASSERT_TRUE(testsupport::waitUntil([&] {
            return count(QAbstractSocket::ConnectedState) == held
                && count(QAbstractSocket::UnconnectedState) == int(flood.size()) - held;
        })) << "of " << flood.size() << " held: " << count(QAbstractSocket::ConnectedState)
            << ", closed: " << count(QAbstractSocket::UnconnectedState);
    }

    // The recording comes due while the flood holds every slot, and records.
    const QString path = recorder.filePath(due.fileName);
    ASSERT_TRUE(testsupport::waitUntil([&] { return fileSize(path) > 16 * 1024; }, std::chrono::seconds(20)))
        << recorder.output().toStdString();
    EXPECT_EQ(count(QAbstractSocket::ConnectedState), kCap) << "the flood still holds every slot";
    const auto index = recorder.readIndex();
    ASSERT_TRUE(index && index->size() == 1);
    EXPECT_EQ(index->first().status, Recording::Status::Recording);
    expectStreamPrefix(path);

    (*std::find_if(flood.begin(), flood.end(), [](const auto &s) { return s->state() == QAbstractSocket::ConnectedState; }))->abort();
    std::optional<APIResponse> info;
    EXPECT_TRUE(testsupport::waitUntil([&] {
        info = apiRequest(recorder.port(), "GET", "/api/info", {}, std::chrono::seconds(1));
        return info.has_value();
    }));
    EXPECT_EQ(info.value_or(APIResponse{}).status, 200);
    EXPECT_FALSE(recorder.output().contains("Too many open files")) << recorder.output().toStdString();
}

TEST_F(ConnectionFlood, TheSoftDescriptorLimitIsRaisedToTheHardOneWithoutALogLine)
{
    recorder.openFileLimit = {256, 2048};
    ASSERT_TRUE(recorder.start());
    const QByteArray limits = testsupport::readFile(QStringLiteral("/proc/%1/limits").arg(recorder.process().processId()));
    EXPECT_TRUE(limits.simplified().contains("Max open files 2048 2048 files")) << limits.constData();
    EXPECT_FALSE(recorder.output().contains("open files")) << recorder.output().toStdString();
}
