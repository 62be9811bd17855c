#include "FakeProvider.h"
#include "RecorderProcess.h"
#include "TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <csignal>

namespace {

// A virtual X server on the first free display number.
class VirtualDisplay
{
public:
    VirtualDisplay()
    {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (program.isEmpty())
            return;
        int number = 90;
        while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number))
               || QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
            ++number;
        m_name = QStringLiteral(":%1").arg(number);
        m_server.start(program, {m_name, QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(number);
        if (!m_server.waitForStarted() || !testsupport::waitUntil([&] { return QFile::exists(socket); }))
            m_name.clear();
    }

    ~VirtualDisplay()
    {
        if (m_server.state() != QProcess::NotRunning) {
            m_server.kill();
            m_server.waitForFinished();
        }
    }

    QString name() const { return m_name; }
    // Ends the X server the way a session's end does: every client's
    // connection breaks.
    void end()
    {
        m_server.terminate();
        m_server.waitForFinished();
    }

private:
    QProcess m_server;
    QString m_name;
};

} // namespace

// At the end of a session the X server goes away and Qt ends the program
// at once, without returning from its event loop.
TEST(DesktopProcess, LosingTheDisplaySavesTheRunningRecordingAsStopped)
{
    using namespace std::chrono_literals;
    VirtualDisplay display;
    if (display.name().isEmpty())
        GTEST_SKIP() << "no virtual X server (Xvfb) here";
    RecorderProcess recorder;
    ASSERT_TRUE(recorder.isValid());
    FakeProvider provider;
    provider.serve(QStringLiteral("/stream.ts"), FakeProvider::Answer::slowStream(1024, 10ms));
    const Recording onAir = onAirRecording(provider.url(QStringLiteral("/stream.ts")).toString(), QStringLiteral("on air.ts"));
    recorder.writeIndex({onAir});
    recorder.setArguments({});
    recorder.setDisplay(display.name());
    ASSERT_TRUE(recorder.start());
    ASSERT_TRUE(testsupport::waitUntil([&] { return provider.bytesSent(QStringLiteral("/stream.ts")) > 4096; }));

    const QDateTime lost = QDateTime::currentDateTimeUtc().addSecs(-1);
    display.end();
    ASSERT_TRUE(recorder.waitForExit()) << recorder.output().constData();

    const auto index = recorder.readIndex();
    ASSERT_TRUE(index);
    ASSERT_EQ(index->size(), 1);
    EXPECT_EQ(index->first().status, Recording::Status::Stopped) << recorder.output().constData();
    EXPECT_GE(index->first().endDate, lost);
    EXPECT_LT(index->first().endDate, onAir.endDate);
    const QByteArray file = testsupport::readFile(recorder.filePath(QStringLiteral("on air.ts")));
    EXPECT_GT(file.size(), 0);
    EXPECT_EQ(file, FakeProvider::content(0, file.size()));
}
