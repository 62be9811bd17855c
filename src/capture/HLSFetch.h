#pragma once

#include "CaptureTransfer.h"
#include "RecorderError.h"
#include "SegmentByteRange.h"
#include "StreamRecorderTiming.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

class CaptureSession;

// One GET of the HLS loop, a playlist or a segment, received whole before it
// is handed over. Never blocks: the answer comes later, on this thread,
// through the done callback, exactly once unless the fetch is deleted first
// (deleting it drops the request). A body may not grow beyond the timing's
// maximumBodySize; a segment listed as a byte range is asked for with a
// Range header, and a server that sends the whole resource instead has the
// range cut out of it.
class HLSFetch : public QObject
{
    Q_OBJECT

public:
    enum class Kind { Playlist, Segment };

    struct Result
    {
        QByteArray body;
        // Why the request failed: a failure whose message the recording
        // keeps (an HTTP refusal, a body that is too large or incomplete) ...
        std::optional<RecorderError> refusal;
        // ... or the description of a transport error or timeout.
        QString error;

        bool succeeded() const { return !refusal && error.isEmpty(); }
    };

    using Done = std::function<void(const Result &result)>;

    HLSFetch(CaptureSession &session, Kind kind, const QUrl &url, const std::optional<SegmentByteRange> &range,
             const QString &userAgent, const StreamRecorderTiming &timing, Done done, QObject *parent = nullptr);
    ~HLSFetch() override;

private:
    void headReceived(const CaptureTransfer::Head &head);
    void bodyReceived(const char *data, qsizetype size);
    void completed(const QString &error);
    // Keeps the part of the incoming data that belongs to the body.
    void keep(const char *data, qsizetype size);
    bool rangeComplete() const { return m_range && m_body.size() == m_range->length; }
    void fail(const RecorderError &refusal);
    void fail(const QString &error);
    void deliver(const Result &result);
    void dropTransfer();

    const Kind m_kind;
    const std::optional<SegmentByteRange> m_range;
    const qint64 m_maximumSize;
    Done m_done;
    CaptureSession &m_session;
    // The request while it runs.
    CaptureTransfer *m_transfer = nullptr;
    // A range was asked for and the answer carries the whole resource.
    bool m_wholeResource = false;
    // Bytes of the whole resource that went by so far.
    qint64 m_position = 0;
    QByteArray m_body;
};
