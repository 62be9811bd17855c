#pragma once

#include "CaptureGaps.h"
#include "StreamRecorder.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QUrl>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class CaptureSession;
class CaptureTransfer;
class HLSCapture;
class QFile;
class QTimer;
struct RecorderError;

// The state of one capture. Lives on the recorder's own thread and is only
// ever touched there: the HTTP client's events (woken by the socket on this
// same thread), the end timer and the retry delays all run on that thread,
// and the owning StreamRecorder reaches it through queued calls only.
class StreamRecorderWorker : public QObject
{
    Q_OBJECT

public:
    using Outcome = StreamRecorder::Outcome;
    using Timing = StreamRecorder::Timing;

    StreamRecorderWorker(const QUrl &sourceURL, const QDateTime &endDate, const QString &userAgent,
                         const Timing &timing);
    // Releases the client and closes the file without reporting anything.
    ~StreamRecorderWorker() override;

    // Takes the open output file and starts the end timer and the capture.
    void begin(std::unique_ptr<QFile> handle);
    void extend(const QDateTime &to);
    // Ends the capture once: releases the client, closes the file, then posts
    // the outcome. Later calls do nothing.
    void finish(Outcome outcome);
    // Writes one chunk at the end of the file and reports progress.
    void append(const QByteArray &chunk) { append(chunk.constData(), chunk.size()); }
    void append(const char *data, qsizetype size);
    bool isFinished() const { return m_isFinished; }

    // The failure bookkeeping of the HLS loop; answers whether the loop must
    // end (the recording has then failed). A refusal always replaces the
    // kept message, and a full provider is not counted; any other error only
    // fills an empty message.
    bool handleHLSError(const RecorderError &error);
    bool handleHLSError(const QString &description);
    // Segments that left the live playlist before they were fetched.
    void skipSegments(qint64 count);

signals:
    // Emitted on this thread for the owner's thread.
    void progressed(qint64 bytes, const CaptureGaps &gaps);
    void ended(const StreamRecorder::Outcome &outcome, qint64 bytes, const CaptureGaps &gaps);
    // Data came again after a loss, which lasted the given time.
    void gapClosed(qint64 milliseconds);

private:
    QDateTime wallClock() const;
    std::chrono::steady_clock::time_point steadyClock() const;
    void scheduleEndTimer();
    void endTimerFired();
    void startDataTask();
    void startHLS();
    void responseReceived(int status, const QByteArray &contentType);
    void dataReceived(const char *data, qsizetype size);
    void taskCompleted(const QString &error);
    // The provider refused the attempt: the message replaces the kept one.
    void refuse(const QString &message, bool providerFull);
    // One attempt of the direct path is over: reconnect, or end the capture.
    void attemptEnded(const QString &error);
    void scheduleRetry(const std::function<void()> &retry);
    bool countHLSFailure();
    // The stream was lost: a gap begins unless one is already open.
    void openGap();
    // The time of the open gap, which ends now; 0 without one.
    qint64 closeGap();
    void reportProgress();
    void reportProgressIfDue();
    void cancelDataTask();

    const QUrl m_sourceURL;
    QDateTime m_endDate;
    const QString m_userAgent;
    const Timing m_timing;

    std::unique_ptr<QFile> m_handle;
    qint64 m_bytes = 0;
    // Created on this thread when the capture begins.
    std::unique_ptr<CaptureSession> m_session;
    CaptureTransfer *m_dataTask = nullptr;
    HLSCapture *m_hlsTask = nullptr;
    QTimer *m_endTimer = nullptr;
    bool m_isFinished = false;
    int m_consecutiveFailures = 0;
    QString m_lastError;
    bool m_providerFull = false;
    std::optional<std::chrono::steady_clock::time_point> m_lastProgressReport;
    CaptureGaps m_gaps;
    // When the open gap began, measured on the clock of the end date.
    std::optional<QDateTime> m_gapStart;
};
