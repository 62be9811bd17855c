#pragma once

#include "FakeProvider.h"
#include "QtPrinters.h"
#include "StreamRecorder.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>

using namespace std::chrono_literals;
using testsupport::readFile;
using testsupport::spin;
using testsupport::waitUntil;

inline void PrintTo(const StreamRecorder::Outcome &outcome, std::ostream *stream)
{
    *stream << "outcome " << int(outcome.kind) << ' ' << outcome.message.toStdString();
}

// Runs one StreamRecorder and keeps everything it reports.
struct RecorderProbe
{
    struct Finish { StreamRecorder::Outcome outcome; qint64 bytes = 0; };

    RecorderProbe(const QUrl &source, const QString &filePath, const QDateTime &endDate,
                  const StreamRecorder::Timing &timing, const std::optional<QString> &userAgent = {})
        : recorder(std::make_unique<StreamRecorder>(source, filePath, endDate, userAgent, timing))
    {
        const auto onMainThread = [this] { mainThread = mainThread && QThread::currentThread() == qApp->thread(); };
        recorder->onProgress = [=, this](qint64 bytes) { onMainThread(); progress.append(bytes); };
        recorder->onGapClosed = [=, this](qint64 milliseconds) { onMainThread(); gapsClosed.append(milliseconds); };
        recorder->onFinish = [=, this](const StreamRecorder::Outcome &outcome, qint64 bytes) {
            onMainThread();
            finishes.append({outcome, bytes});
        };
    }

    bool waitForFinish() { return waitUntil([this] { return !finishes.isEmpty(); }); }

    QList<Finish> finishes;
    QList<qint64> progress;
    QList<qint64> gapsClosed;
    bool mainThread = true; // whether every callback came on the main thread
    std::unique_ptr<StreamRecorder> recorder; // declared last, so destroyed before what it reports into
};

// A local provider, recordings of it into a temporary folder with short delays, and the clock those recordings read.
class RecorderFixture : public ::testing::Test
{
protected:
    using Answer = FakeProvider::Answer;
    using Outcome = StreamRecorder::Outcome;

    StreamRecorder::Timing timing(int failureLimit = 30) const
    {
        // A recorder's thread may outlive the test; it shares the clock.
        return {.retryDelay = 20ms, .providerFullRetryDelay = 40ms, .progressInterval = 100ms, .requestTimeout = 5s,
                .minimumPollDelay = 20ms, .failureLimit = failureLimit,
                .now = [moved = moved] { return clockStart().addMSecs(*moved); },
                .steadyNow = [moved = moved] { return std::chrono::steady_clock::time_point(moved->load() * 1ms); }};
    }

    // The wall and monotonic clocks of timing() stand still until a test moves them.
    static QDateTime clockStart() { return QDateTime(QDate(2030, 1, 1), QTime(20, 0), Qt::UTC); }
    void advance(std::chrono::milliseconds by) { *moved += by.count(); }
    QDateTime later(std::chrono::milliseconds by = 1min) const { return clockStart().addMSecs(*moved + by.count()); }

    // The pauses between consecutive requests, as the provider saw them.
    static QList<std::chrono::steady_clock::duration> pauses(const QList<FakeProvider::Request> &requests)
    {
        QList<std::chrono::steady_clock::duration> result;
        for (qsizetype i = 1; i < requests.size(); ++i)
            result.append(requests[i].receivedAt - requests[i - 1].receivedAt);
        return result;
    }

    // A live media playlist numbering its segments from firstSequence, or a
    // finished one whose poll delay (half an hour) no test could wait for.
    static QByteArray playlist(qint64 firstSequence, const QStringList &uris, bool endList = false,
                               const QByteArray &targetDuration = "0.1")
    {
        QByteArray text = "#EXTM3U\n#EXT-X-TARGETDURATION:" + targetDuration + "\n#EXT-X-MEDIA-SEQUENCE:"
                        + QByteArray::number(firstSequence) + '\n';
        for (const QString &uri : uris)
            text += "#EXTINF:2.0,\n" + uri.toUtf8() + '\n';
        return endList ? text + "#EXT-X-ENDLIST\n" : text;
    }
    static QByteArray vod(const QStringList &uris) { return playlist(0, uris, true, "3600"); }

    // Serves distinct transport-stream bytes at the path, and answers them.
    QByteArray serveSegment(const QString &path, int number, qint64 size = 1880)
    {
        const QByteArray bytes = FakeProvider::content(number * 1000003LL, size);
        provider.serve(path, Answer::body(bytes, "video/mp2t"));
        return bytes;
    }

    // A started recording of the provider's path into the named file, ending a minute later on the test's clock.
    std::unique_ptr<RecorderProbe> record(const QString &path, const StreamRecorder::Timing &timing,
                                          const QString &fileName = QStringLiteral("show.ts"), QDateTime endDate = {})
    {
        auto probe = std::make_unique<RecorderProbe>(provider.url(path), filePath(fileName),
                                                     endDate.isValid() ? endDate : later(), timing, userAgent);
        EXPECT_TRUE(probe->recorder->start());
        return probe;
    }

    // The outcome of a recording into a new file, nothing when none comes.
    std::optional<Outcome> outcomeOf(const QString &path, const StreamRecorder::Timing &timing)
    {
        QFile::remove(filePath());
        auto probe = record(path, timing);
        return probe->waitForFinish() ? std::optional(probe->finishes[0].outcome) : std::nullopt;
    }

    QString filePath(const QString &name = QStringLiteral("show.ts")) const { return folder.filePath(name); }

    const std::shared_ptr<std::atomic<qint64>> moved = std::make_shared<std::atomic<qint64>>(0); // milliseconds
    QTemporaryDir folder;
    FakeProvider provider;
    std::optional<QString> userAgent; // for the recordings that record() starts
};
