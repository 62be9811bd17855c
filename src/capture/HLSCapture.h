#pragma once

#include "HLSFetch.h"
#include "MediaPlaylist.h"
#include "StreamRecorderTiming.h"

#include <QObject>
#include <QString>
#include <QUrl>
#include <chrono>

class CaptureSession;
class QTimer;
class StreamRecorderWorker;

// The HLS capture loop of one recording. Each pass fetches the playlist,
// follows a master playlist to its best variant (at once, and for the rest of
// the run), refuses encrypted playlists and playlists that need an
// initialisation section, and appends every segment not yet written, in
// order; a playlist with an end marker then finishes the recording, any other
// is polled again after half its target duration. A failed pass leaves the
// segments after the failed one to the next pass, which comes after the retry
// delay.
//
// Runs on the recorder's thread as a chain of requests and timers and never
// blocks it; the recorder's state is reached only through the worker
// (isFinished, append, finish, handleHLSError). Requests run one at a time
// through the recorder's own client, so they never queue behind another
// recording's.
class HLSCapture : public QObject
{
    Q_OBJECT

public:
    HLSCapture(StreamRecorderWorker &recorder, CaptureSession &client, const QUrl &sourceURL,
               const QString &userAgent, const StreamRecorderTiming &timing, QObject *parent = nullptr);
    ~HLSCapture() override;

    void start();
    // Ends the loop for good: a pending request is dropped and a pending
    // wait never ends. The worker's finish runs it.
    void cancel();

private:
    using Result = HLSFetch::Result;

    void startPass();
    void playlistReceived(const Result &result);
    void followVariant(const QString &masterText);
    void writeNewSegments();
    void segmentReceived(qint64 sequence, const Result &result);
    void passComplete();
    void passFailed(const Result &result);
    void passFailed(const RecorderError &error);
    void afterFailure(bool loopEnds);
    void fetch(HLSFetch::Kind kind, const QUrl &url, const std::optional<SegmentByteRange> &range,
               const std::function<void(const Result &)> &handler);
    void nextPassAfter(std::chrono::milliseconds delay);
    bool ended() const;

    StreamRecorderWorker &m_recorder;
    const QString m_userAgent;
    const StreamRecorderTiming m_timing;
    CaptureSession &m_client;
    QTimer *m_wait = nullptr;
    HLSFetch *m_fetch = nullptr;
    bool m_cancelled = false;

    // The playlist polled: the recording's address until a master playlist
    // names a variant.
    QUrl m_playlistURL;
    // The media sequence number of the last segment written.
    qint64 m_lastSequence = -1;
    // The media playlist of the running pass, and the index of the next of
    // its segments to look at.
    MediaPlaylist m_playlist;
    qsizetype m_nextSegment = 0;
    // Master playlists read one after the other without a media playlist.
    int m_mastersInARow = 0;
};
