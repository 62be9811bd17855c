#pragma once

#include "FakeProvider.h"
#include "RecorderProbe.h"

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

// A local provider serving streams, HLS playlists and segments, and
// recordings of it into a temporary folder, with delays short enough for
// tests.
class RecorderFixture : public ::testing::Test
{
protected:
    using Answer = FakeProvider::Answer;
    using Outcome = StreamRecorder::Outcome;

    static StreamRecorder::Timing timingWithLimit(int failureLimit)
    {
        StreamRecorder::Timing timing = fastTiming();
        timing.failureLimit = failureLimit;
        return timing;
    }

    // The pauses between consecutive requests, as the provider saw them.
    static QList<std::chrono::steady_clock::duration> gaps(const QList<FakeProvider::Request> &requests)
    {
        QList<std::chrono::steady_clock::duration> result;
        for (qsizetype i = 1; i < requests.size(); ++i)
            result.append(requests[i].receivedAt - requests[i - 1].receivedAt);
        return result;
    }

    // A media playlist numbering its segments from firstSequence.
    static QByteArray playlist(qint64 firstSequence, const QStringList &uris, const QByteArray &targetDuration = "0.1",
                               bool endList = false)
    {
        QByteArray text = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:" + targetDuration
                        + "\n#EXT-X-MEDIA-SEQUENCE:" + QByteArray::number(firstSequence) + '\n';
        for (const QString &uri : uris)
            text += "#EXTINF:2.0,\n" + uri.toUtf8() + '\n';
        return endList ? text + "#EXT-X-ENDLIST\n" : text;
    }

    static QByteArray vod(const QStringList &uris) { return playlist(0, uris, "10", true); }

    // Serves distinct transport-stream bytes at the path, and answers them.
    QByteArray serveSegment(const QString &path, int number, qint64 size = 1880)
    {
        const QByteArray bytes = FakeProvider::content(number * 1000003LL, size);
        provider.serve(path, Answer::body(bytes, "video/mp2t"));
        return bytes;
    }

    // A started recording of the provider's path into filePath().
    std::unique_ptr<RecorderProbe> record(const QString &path, const StreamRecorder::Timing &timing = fastTiming(),
                                          const QDateTime &endDate = fromNow(std::chrono::seconds(60)),
                                          const std::optional<QString> &userAgent = {})
    {
        auto probe = std::make_unique<RecorderProbe>(provider.url(path), filePath(), endDate, timing, userAgent);
        EXPECT_TRUE(probe->start());
        return probe;
    }

    // Records the provider's path into filePath() until the outcome, if one
    // comes within the timeout.
    std::optional<Outcome> outcomeOf(const QString &path, const StreamRecorder::Timing &timing = fastTiming(),
                                     std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        auto probe = record(path, timing);
        return probe->waitForFinish(timeout) ? std::optional(probe->finishes[0].outcome) : std::nullopt;
    }

    QString filePath(const QString &name = QStringLiteral("show.ts")) const { return folder.filePath(name); }

    QTemporaryDir folder;
    FakeProvider provider;
};
