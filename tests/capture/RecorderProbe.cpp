#include "RecorderProbe.h"

#include "TestSupport.h"

#include <QCoreApplication>
#include <QThread>

void PrintTo(const StreamRecorder::Outcome &outcome, std::ostream *stream)
{
    using Kind = StreamRecorder::Outcome::Kind;
    switch (outcome.kind) {
    case Kind::Finished: *stream << "finished"; break;
    case Kind::Stopped: *stream << "stopped"; break;
    case Kind::Failed: *stream << "failed(\"" << outcome.message.toStdString() << "\")"; break;
    }
}

StreamRecorder::Timing fastTiming()
{
    StreamRecorder::Timing timing;
    timing.retryDelay = std::chrono::milliseconds(20);
    timing.providerFullRetryDelay = std::chrono::milliseconds(40);
    timing.progressInterval = std::chrono::milliseconds(100);
    timing.requestTimeout = std::chrono::milliseconds(5000);
    timing.minimumPollDelay = std::chrono::milliseconds(20);
    return timing;
}

QDateTime fromNow(std::chrono::milliseconds offset)
{
    return QDateTime::currentDateTimeUtc().addMSecs(offset.count());
}

RecorderProbe::RecorderProbe(const QUrl &source, const QString &filePath, const QDateTime &endDate,
                             const StreamRecorder::Timing &timing, const std::optional<QString> &userAgent)
    : m_recorder(std::make_unique<StreamRecorder>(source, filePath, endDate, userAgent, timing))
{
    const auto onMainThread = [] { return QThread::currentThread() == QCoreApplication::instance()->thread(); };
    m_recorder->onProgress = [this, onMainThread](qint64 bytes) {
        callbacksOnMainThread = callbacksOnMainThread && onMainThread();
        progress.append(bytes);
    };
    m_recorder->onFinish = [this, onMainThread](const StreamRecorder::Outcome &outcome, qint64 bytes) {
        callbacksOnMainThread = callbacksOnMainThread && onMainThread();
        finishes.append({outcome, bytes, Clock::now()});
    };
}

bool RecorderProbe::start(QString *errorDescription)
{
    return m_recorder->start(errorDescription);
}

bool RecorderProbe::waitForFinish(std::chrono::milliseconds timeout)
{
    return testsupport::waitUntil([this] { return !finishes.isEmpty(); }, timeout);
}
