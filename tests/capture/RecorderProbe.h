#pragma once

#include "StreamRecorder.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QUrl>
#include <chrono>
#include <ostream>
#include <memory>
#include <optional>

// Shows an outcome readably in test failures.
void PrintTo(const StreamRecorder::Outcome &outcome, std::ostream *stream);

// Delays short enough for tests; the failure limit keeps its real value.
StreamRecorder::Timing fastTiming();
QDateTime fromNow(std::chrono::milliseconds offset);

// Runs one StreamRecorder and keeps everything it reports, with the time
// and thread of each callback.
class RecorderProbe
{
public:
    using Clock = std::chrono::steady_clock;

    struct Finish
    {
        StreamRecorder::Outcome outcome;
        qint64 bytes = 0;
        Clock::time_point at;
    };

    RecorderProbe(const QUrl &source, const QString &filePath, const QDateTime &endDate,
                  const StreamRecorder::Timing &timing, const std::optional<QString> &userAgent = {});

    StreamRecorder &recorder() { return *m_recorder; }
    // Starts the recorder; answers whether it started.
    bool start(QString *errorDescription = nullptr);
    // Runs the event loop until the outcome arrives; answers whether it did.
    bool waitForFinish(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void destroyRecorder() { m_recorder.reset(); }

    const Clock::time_point createdAt = Clock::now();
    QList<Finish> finishes;
    QList<qint64> progress;
    bool callbacksOnMainThread = true;

private:
    std::unique_ptr<StreamRecorder> m_recorder;
};
