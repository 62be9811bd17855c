#pragma once

#include "FakeProvider.h"
#include "RecorderProbe.h"

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

// A local provider serving HLS playlists and segments, and recordings of it
// into a temporary folder, with delays short enough for tests.
class HLSCaptureFixture : public ::testing::Test
{
public:
    static StreamRecorder::Timing hlsTiming()
    {
        StreamRecorder::Timing timing = fastTiming();
        timing.retryDelay = std::chrono::milliseconds(20);
        timing.minimumPollDelay = std::chrono::milliseconds(20);
        return timing;
    }

protected:
    using Answer = FakeProvider::Answer;

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

    std::unique_ptr<RecorderProbe> record(const QString &playlistPath, const StreamRecorder::Timing &timing = hlsTiming(),
                                          const QDateTime &endDate = fromNow(std::chrono::seconds(60)),
                                          const std::optional<QString> &userAgent = {})
    {
        auto probe = std::make_unique<RecorderProbe>(provider.url(playlistPath), filePath(), endDate, timing, userAgent);
        EXPECT_TRUE(probe->start());
        return probe;
    }

    QString filePath() const { return folder.filePath(QStringLiteral("show.ts")); }

    QTemporaryDir folder;
    FakeProvider provider;
};
