#include "HLSCapture.h"

#include "HLSPlaylist.h"
#include "RecorderMessages.h"
#include "StreamRecorderWorker.h"

#include <QTimer>
#include <utility>

namespace {

// A master playlist may name another master playlist; a longer chain than
// this is taken for a loop, which would otherwise be fetched over and over
// without any pause, and counts as a playlist without a playable variant.
constexpr int kLongestMasterChain = 4;

} // namespace

HLSCapture::HLSCapture(StreamRecorderWorker &recorder, CaptureSession &client, const QUrl &sourceURL,
                       const QString &userAgent, const StreamRecorderTiming &timing, QObject *parent)
    : QObject(parent),
      m_recorder(recorder),
      m_userAgent(userAgent),
      m_timing(timing),
      m_client(client),
      m_wait(new QTimer(this)),
      m_playlistURL(sourceURL)
{
    m_wait->setSingleShot(true);
    m_wait->setTimerType(Qt::PreciseTimer);
    connect(m_wait, &QTimer::timeout, this, &HLSCapture::startPass);
}

HLSCapture::~HLSCapture()
{
    cancel();
}

void HLSCapture::start()
{
    startPass();
}

void HLSCapture::cancel()
{
    m_cancelled = true;
    m_wait->stop();
    // This may run while the fetch delivers its answer; it goes once that
    // is over, and its answer is ignored.
    if (m_fetch)
        std::exchange(m_fetch, nullptr)->deleteLater();
}

bool HLSCapture::ended() const
{
    return m_cancelled || m_recorder.isFinished();
}

void HLSCapture::startPass()
{
    if (ended())
        return;
    fetch(HLSFetch::Kind::Playlist, m_playlistURL, std::nullopt,
          [this](const Result &result) { playlistReceived(result); });
}

void HLSCapture::playlistReceived(const Result &result)
{
    if (!result.succeeded()) {
        passFailed(result);
        return;
    }
    const QString text = QString::fromUtf8(result.body); // invalid sequences become U+FFFD
    if (isMasterPlaylist(text)) {
        followVariant(text);
        return;
    }
    m_mastersInARow = 0;
    if (const auto reason = unsupportedReason(text)) {
        m_recorder.finish(StreamRecorder::Outcome::failed(*reason));
        return;
    }
    // Relative segment addresses resolve against the address requested, not
    // the one a redirect led to.
    m_playlist = parseMediaPlaylist(text, m_playlistURL);
    m_lastSequence = m_playlist.lastWrittenFor(m_lastSequence);
    // Segments numbered between the last one written and the playlist's
    // first have left it unfetched. The first pass starts wherever the live
    // stream is, and a restarted numbering is no jump.
    if (m_lastSequence >= 0 && !m_playlist.segments.isEmpty() && m_playlist.mediaSequence > m_lastSequence
        && m_playlist.mediaSequence - m_lastSequence > 1) {
        m_recorder.skipSegments(m_playlist.mediaSequence - m_lastSequence - 1);
        m_lastSequence = m_playlist.mediaSequence - 1;
    }
    m_nextSegment = 0;
    writeNewSegments();
}

void HLSCapture::followVariant(const QString &masterText)
{
    ++m_mastersInARow;
    const auto variant =
        m_mastersInARow <= kLongestMasterChain ? bestVariant(masterText, m_playlistURL) : std::nullopt;
    if (!variant) {
        passFailed(RecorderError{RecorderMessages::noPlayableVariant(), std::nullopt});
        return;
    }
    m_playlistURL = *variant;
    startPass();
}

void HLSCapture::writeNewSegments()
{
    while (m_nextSegment < m_playlist.segments.size()) {
        const qsizetype index = m_nextSegment++;
        const qint64 sequence = m_playlist.sequenceNumber(index);
        if (sequence <= m_lastSequence)
            continue;
        if (ended())
            return;
        const std::optional<SegmentByteRange> range = m_playlist.byteRanges.value(index);
        if (range && range->length == 0) {
            m_lastSequence = sequence; // a range of no bytes: nothing to fetch or write
            continue;
        }
        fetch(HLSFetch::Kind::Segment, m_playlist.segments.at(index), range,
              [this, sequence](const Result &result) { segmentReceived(sequence, result); });
        return;
    }
    passComplete();
}

void HLSCapture::segmentReceived(qint64 sequence, const Result &result)
{
    if (!result.succeeded()) {
        passFailed(result);
        return;
    }
    m_recorder.append(result.body);
    if (ended())
        return; // the write failed and ended the recording
    m_lastSequence = sequence;
    writeNewSegments();
}

void HLSCapture::passComplete()
{
    if (m_playlist.endList) {
        m_recorder.finish(StreamRecorder::Outcome::finished());
        return;
    }
    nextPassAfter(hlsPollDelay(m_playlist.targetDuration, m_timing.minimumPollDelay));
}

void HLSCapture::passFailed(const Result &result)
{
    if (result.refusal)
        passFailed(*result.refusal);
    else
        afterFailure(m_recorder.handleHLSError(result.error));
}

void HLSCapture::passFailed(const RecorderError &error)
{
    afterFailure(m_recorder.handleHLSError(error));
}

void HLSCapture::afterFailure(bool loopEnds)
{
    if (!loopEnds)
        nextPassAfter(m_timing.retryDelay);
}

void HLSCapture::nextPassAfter(std::chrono::milliseconds delay)
{
    if (!ended())
        m_wait->start(delay);
}

void HLSCapture::fetch(HLSFetch::Kind kind, const QUrl &url, const std::optional<SegmentByteRange> &range,
                       const std::function<void(const Result &)> &handler)
{
    // One request at a time: the next is made only from the answer of this
    // one, or after a wait.
    m_fetch = new HLSFetch(
        m_client, kind, url, range, m_userAgent, m_timing,
        [this, handler](const Result &result) {
            if (m_cancelled)
                return;
            if (m_fetch)
                std::exchange(m_fetch, nullptr)->deleteLater();
            handler(result);
        },
        this);
}
