#include "FakeProvider.h"
#include "JSONCoding.h"
#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSettings>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>

namespace {

// Whether the process has installed its own SIGTERM handler yet: bit 15 of
// the caught-signals mask in /proc.
bool catchesTerm(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:")) {
            const quint64 mask = line.mid(7).trimmed().toULongLong(nullptr, 16);
            return mask & (quint64(1) << (SIGTERM - 1));
        }
    }
    return false;
}

class HeadlessProcess : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        process.setProcessEnvironment(env);
        process.setProgram(QStringLiteral(TIVOLUX_RECORDER_EXE));
    }

    void startAndWaitReady(const QStringList &arguments)
    {
        process.setArguments(arguments);
        process.start();
        ASSERT_TRUE(process.waitForStarted());
        ASSERT_TRUE(testsupport::waitUntil([&] { return catchesTerm(process.processId()); }));
    }

    // Points the program's settings at a recordings folder holding the index.
    QString prepareFolder(const QList<Recording> &recordings)
    {
        const QString folder = home.filePath(QStringLiteral("recordings"));
        QSettings settings(home.filePath(QStringLiteral("config/Tivolux/TivoluxRecorder.conf")), QSettings::IniFormat);
        settings.setValue(QStringLiteral("recorder.folderPath"), folder);
        settings.sync();
        QDir().mkpath(folder);
        testsupport::writeFile(QDir(folder).filePath(QStringLiteral("recordings.json")),
                               sharedJSONEncoder().data(sharedJSONEncoder().encode(recordings)));
        return folder;
    }

    static Recording stored(Recording::Status status, const QString &streamURL, const QString &fileName,
                            qint64 secondsToEnd)
    {
        Recording r;
        r.id = QUuid::createUuid();
        r.title = r.channelName = r.channelID = fileName;
        r.streamURL = streamURL;
        r.programStart = r.startDate = QDateTime::currentDateTimeUtc().addSecs(-3600);
        r.endDate = QDateTime::currentDateTimeUtc().addSecs(secondsToEnd);
        r.programEnd = r.endDate.addSecs(-300);
        r.fileName = fileName;
        r.status = status;
        return r;
    }

    static std::optional<QList<Recording>> readIndex(const QString &folder)
    {
        return sharedJSONDecoder().decodeRecordings(
            testsupport::readFile(QDir(folder).filePath(QStringLiteral("recordings.json"))));
    }

    QTemporaryDir home;
    QProcess process;
};

} // namespace

TEST_F(HeadlessProcess, TermWithNothingRecordingEndsAtOnceWithStatusZero)
{
    startAndWaitReady({QStringLiteral("--headless")});
    EXPECT_EQ(process.state(), QProcess::Running);
    ::kill(pid_t(process.processId()), SIGTERM);
    ASSERT_TRUE(process.waitForFinished(5000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
}

TEST_F(HeadlessProcess, InterruptAppliesTheSameRuleWithoutADisplay)
{
    // No --headless: without a display the program chooses headless itself.
    startAndWaitReady({});
    ::kill(pid_t(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(5000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
}

TEST_F(HeadlessProcess, TermWhileRecordingStopsCaptureAndEndsAfterTheQuitDelay)
{
    using namespace std::chrono_literals;
    FakeProvider provider;
    provider.serve(QStringLiteral("/stream.ts"), FakeProvider::Answer::slowStream(1024, 10ms));

    const QString folder = prepareFolder({stored(Recording::Status::Scheduled,
                                                 provider.url(QStringLiteral("/stream.ts")).toString(),
                                                 QStringLiteral("on air.ts"), 3600)});
    startAndWaitReady({QStringLiteral("--headless")});
    ASSERT_TRUE(testsupport::waitUntil([&] { return provider.bytesSent(QStringLiteral("/stream.ts")) > 4096; }));

    QElapsedTimer elapsed;
    elapsed.start();
    ::kill(pid_t(process.processId()), SIGTERM);
    ASSERT_TRUE(testsupport::waitUntil([&] { return process.state() == QProcess::NotRunning; }, 10s));
    EXPECT_GE(elapsed.elapsed(), 1400) << "the process waits for the recorders to stop";
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);

    const auto index = readIndex(folder);
    ASSERT_TRUE(index);
    ASSERT_EQ(index->size(), 1);
    EXPECT_EQ(index->first().status, Recording::Status::Stopped);
    const QByteArray file = testsupport::readFile(QDir(folder).filePath(QStringLiteral("on air.ts")));
    EXPECT_GT(file.size(), 0);
    EXPECT_EQ(file, FakeProvider::content(0, file.size()));
}

TEST_F(HeadlessProcess, LaunchMarksInterruptedAndOverdueRecordings)
{
    const QString folder = prepareFolder({
        stored(Recording::Status::Recording, QStringLiteral("http://127.0.0.1:1/a.ts"), QStringLiteral("was running.ts"), 3600),
        stored(Recording::Status::Scheduled, QStringLiteral("http://127.0.0.1:1/b.ts"), QStringLiteral("missed.ts"), -60),
    });
    testsupport::writeFile(QDir(folder).filePath(QStringLiteral("was running.ts")), QByteArray(3 * 188, 'G'));

    startAndWaitReady({QStringLiteral("--headless")});
    std::optional<QList<Recording>> index;
    ASSERT_TRUE(testsupport::waitUntil([&] {
        index = readIndex(folder);
        return index && index->size() == 2 && index->at(1).status == Recording::Status::Failed;
    }));
    EXPECT_EQ(index->at(0).status, Recording::Status::Interrupted);
    EXPECT_EQ(index->at(0).bytes, 3 * 188);
    EXPECT_EQ(index->at(1).errorMessage,
              QStringLiteral("The Mac was asleep or the recorder was not running at the scheduled time."));
    ::kill(pid_t(process.processId()), SIGTERM);
    ASSERT_TRUE(process.waitForFinished(5000));
    EXPECT_EQ(process.exitCode(), 0);
}
