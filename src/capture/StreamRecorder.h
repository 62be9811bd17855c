#pragma once

#include "CaptureGaps.h"
#include "StreamRecorderTiming.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

class QThread;
class StreamRecorderWorker;

// Captures one provider stream into one file until its end date, a stop
// request or a failure it gives up on. Lives on the thread that created it
// (the main thread); all capture work runs on the recorder's own thread, and
// both callbacks come back to the creating thread as queued calls.
class StreamRecorder : public QObject
{
    Q_OBJECT

public:
    struct Outcome
    {
        enum class Kind { Failed, Finished, Stopped };
        Kind kind = Kind::Finished;
        QString message; // only for Failed

        static Outcome failed(const QString &message);
        static Outcome finished();
        static Outcome stopped();
        friend bool operator==(const Outcome &, const Outcome &) = default;
    };

    // Defined outside the class so that it can serve as a default argument.
    using Timing = StreamRecorderTiming;

    static const QString defaultUserAgent;

    StreamRecorder(const QUrl &sourceURL, const QString &filePath, const QDateTime &endDate,
                   const std::optional<QString> &userAgent, const Timing &timing = {},
                   QObject *parent = nullptr);
    ~StreamRecorder() override;

    std::function<void(qint64 bytes)> onProgress;
    std::function<void(const Outcome &outcome, qint64 bytes)> onFinish;
    // Data came again after the stream was lost for the given time.
    std::function<void(qint64 milliseconds)> onGapClosed;

    // Opens the output file at its end and begins capturing. On failure
    // answers false with the reason; nothing runs then and no callback comes.
    bool start(QString *errorDescription = nullptr);
    // Ends the capture with the outcome Stopped; returns at once.
    void stop();
    // Moves the end date, earlier or later; a date in the past ends at once.
    void extend(const QDateTime &to);
    bool isHLS() const;
    // What the capture missed, as of the latest progress or finish callback.
    const CaptureGaps &gaps() const { return m_gaps; }

    const QUrl &sourceURL() const { return m_sourceURL; }
    const QString &filePath() const { return m_filePath; }
    const QString &userAgent() const { return m_userAgent; }

    // Whether an address names an HLS playlist rather than a raw stream.
    static bool isHLSAddress(const QUrl &url);

private:
    void deliverProgress(qint64 bytes, const CaptureGaps &gaps);
    void deliverFinish(const Outcome &outcome, qint64 bytes, const CaptureGaps &gaps);
    void deliverGapClosed(qint64 milliseconds);

    const QUrl m_sourceURL;
    const QString m_filePath;
    const QString m_userAgent;
    std::unique_ptr<QThread> m_thread;
    StreamRecorderWorker *m_worker = nullptr; // lives on m_thread once started
    bool m_started = false;
    CaptureGaps m_gaps;
};
