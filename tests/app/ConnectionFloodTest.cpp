#include "APIClient.h"
#include "FakeProvider.h"
#include "RecorderProcess.h"
#include "TestSupport.h"

#include <QFileInfo>
#include <QHostAddress>
#include <QTcpSocket>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

// The real program under a low descriptor limit, flooded with idle
// connections from the network.
namespace {

using namespace std::chrono_literals;

class Flood
{
public:
    void open(int count)
    {
        for (int i = 0; i < count; ++i) {
            m_sockets.push_back(std::make_unique<QTcpSocket>());
            m_sockets.back()->connectToHost(QHostAddress::LocalHost, RecorderProcess::kPort);
        }
    }

    int size() const { return int(m_sockets.size()); }

    int count(QAbstractSocket::SocketState state) const
    {
        return int(std::count_if(m_sockets.begin(), m_sockets.end(),
                                 [state](const auto &socket) { return socket->state() == state; }));
    }

    // Closes one connection the server still holds.
    void closeOne()
    {
        for (const auto &socket : m_sockets) {
            if (socket->state() == QAbstractSocket::ConnectedState) {
                socket->abort();
                return;
            }
        }
    }

private:
    std::vector<std::unique_ptr<QTcpSocket>> m_sockets;
};

} // namespace

TEST(ConnectionFlood, ARecordingDueDuringAFloodRecordsAndTheAPIAnswersOnceAConnectionFrees)
{
    if (!RecorderProcess::apiPortIsFree())
        GTEST_SKIP() << "port " << RecorderProcess::kPort << " is in use by another program";
    FakeProvider provider;
    provider.serve(QStringLiteral("/live.ts"), FakeProvider::Answer::slowStream(1880, 10ms));
    Recording due = onAirRecording(provider.url(QStringLiteral("/live.ts")).toString(), QStringLiteral("due.ts"));
    due.programStart = due.startDate = QDateTime::currentDateTimeUtc().addSecs(4);

    RecorderProcess recorder;
    ASSERT_TRUE(recorder.isValid());
    recorder.limitOpenFiles(128, 128);
    recorder.writeIndex({due});
    ASSERT_TRUE(recorder.start(true)) << recorder.output().toStdString();

    // Far more connections than the program has descriptors; it keeps a
    // quarter of its limit and closes the rest unanswered. They come in
    // batches that fit the listen queue: a connection the kernel could not
    // queue looks open to its client until the kernel retries it.
    constexpr int kCap = 128 / 4;
    Flood flood;
    while (flood.size() < 240) {
        flood.open(24);
        ASSERT_TRUE(testsupport::waitUntil([&] {
            return flood.count(QAbstractSocket::ConnectedState) == std::min(kCap, flood.size())
                && flood.count(QAbstractSocket::UnconnectedState) == flood.size() - std::min(kCap, flood.size());
        })) << "of " << flood.size() << " held: " << flood.count(QAbstractSocket::ConnectedState);
    }

    // The recording comes due while the held connections stay open, and
    // records; its start reaches the index.
    const QString path = recorder.filePath(due.fileName);
    ASSERT_TRUE(testsupport::waitUntil([&] { return QFileInfo(path).size() > 16 * 1024; }, 20s))
        << recorder.output().toStdString();
    EXPECT_EQ(flood.count(QAbstractSocket::ConnectedState), kCap) << "the flood still holds every slot";
    const auto index = recorder.readIndex();
    ASSERT_TRUE(index && index->size() == 1);
    EXPECT_EQ(index->first().status, Recording::Status::Recording);
    const QByteArray file = testsupport::readFile(path);
    EXPECT_TRUE(file == FakeProvider::content(0, file.size()));

    flood.closeOne();
    std::optional<APIResponse> info;
    EXPECT_TRUE(testsupport::waitUntil([&] {
        info = apiRequest(RecorderProcess::kPort, "GET", "/api/info", {}, 1s);
        return info.has_value();
    }));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->status, 200);
    EXPECT_FALSE(recorder.output().contains("Too many open files")) << recorder.output().toStdString();
}

TEST(ConnectionFlood, TheSoftDescriptorLimitIsRaisedToTheHardOneWithoutALogLine)
{
    if (!RecorderProcess::apiPortIsFree())
        GTEST_SKIP() << "port " << RecorderProcess::kPort << " is in use by another program";
    RecorderProcess recorder;
    ASSERT_TRUE(recorder.isValid());
    recorder.limitOpenFiles(256, 2048);
    ASSERT_TRUE(recorder.start());
    const QList<QByteArray> lines = testsupport::readFile(
        QStringLiteral("/proc/%1/limits").arg(recorder.process().processId())).split('\n');
    const auto files = std::find_if(lines.begin(), lines.end(),
                                    [](const QByteArray &line) { return line.startsWith("Max open files"); });
    ASSERT_NE(files, lines.end());
    EXPECT_EQ(files->simplified(), QByteArray("Max open files 2048 2048 files"));
    EXPECT_FALSE(recorder.output().contains("open files")) << recorder.output().toStdString();
}
