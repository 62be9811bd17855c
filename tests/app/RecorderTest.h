#pragma once

#include "APIClient.h"
#include "FakeProvider.h"
#include "RecorderProcess.h"
#include "TestSupport.h"

#include <QFileInfo>
#include <gtest/gtest.h>

#include <csignal>

// The real program's test build, headless on a free port of its own, and a
// local provider for its live stream.
class RecorderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(recorder.isValid());
        recorder.useTestPort();
    }

    // Serves the live stream in chunks of the given size, one per pace.
    QString serveLive(int chunk, int paceMilliseconds)
    {
        provider.serve(kLive, FakeProvider::Answer::slowStream(chunk, std::chrono::milliseconds(paceMilliseconds)));
        return provider.url(kLive).toString();
    }
    bool waitForLiveBytes(qint64 bytes)
    {
        return testsupport::waitUntil([&] { return provider.bytesSent(kLive) > bytes; });
    }
    // The stream's first bytes, exactly: nothing lost, added or reordered.
    static void expectStreamPrefix(const QString &path, qint64 offset = 0)
    {
        const QByteArray file = testsupport::readFile(path);
        EXPECT_GT(file.size(), 0);
        EXPECT_TRUE(file == FakeProvider::content(offset, file.size())) << path.toStdString();
    }
    std::optional<Recording> stored(const QUuid &id) const
    {
        for (const Recording &r : recorder.readIndex().value_or(QList<Recording>{})) {
            if (r.id == id)
                return r;
        }
        return std::nullopt;
    }
    static qint64 fileSize(const QString &path) { return QFileInfo(path).size(); }
    // How the program ended, if it has, and all it wrote to standard error.
    std::string exitReport()
    {
        const QProcess &process = recorder.process();
        QString how = QStringLiteral("exited with status %1").arg(process.exitCode());
        if (process.state() != QProcess::NotRunning)
            how = QStringLiteral("still running");
        else if (process.exitStatus() == QProcess::CrashExit)
            how = QStringLiteral("ended by a signal");
        return (how + QStringLiteral("; standard error: ") + QString::fromLocal8Bit(recorder.output())).toStdString();
    }

    static inline const QString kLive = QStringLiteral("/live.ts");
    FakeProvider provider;
    RecorderProcess recorder{QStringLiteral(TIVOLUX_RECORDER_EXE)};
};
