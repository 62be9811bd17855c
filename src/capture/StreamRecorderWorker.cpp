#include "StreamRecorderWorker.h"

#include "CaptureRequest.h"
#include "CaptureSession.h"
#include "HLSCapture.h"
#include "RecorderError.h"
#include "RecorderMessages.h"
#include "StreamContentType.h"

#include <QFile>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <utility>

namespace {

// The end timer is re-armed in steps of at most this much, which keeps far
// end dates within what a timer interval can hold.
constexpr qint64 kLongestTimerStep = 24LL * 60 * 60 * 1000;

} // namespace

StreamRecorderWorker::StreamRecorderWorker(const QUrl &sourceURL, const QDateTime &endDate,
                                           const QString &userAgent, const Timing &timing)
    : m_sourceURL(sourceURL), m_endDate(endDate), m_userAgent(userAgent), m_timing(timing)
{
}

StreamRecorderWorker::~StreamRecorderWorker()
{
    // The loop goes before the client it runs its requests on; the
    // client's own end drops every transfer without an event.
    delete std::exchange(m_hlsTask, nullptr);
    m_dataTask = nullptr;
    m_session.reset();
}

void StreamRecorderWorker::begin(std::unique_ptr<QFile> handle)
{
    Q_ASSERT(QThread::currentThread() == thread());
    if (m_isFinished)
        return; // stopped before it began; dropping the handle closes the file
    m_handle = std::move(handle);
    if (!isFetchableAddress(m_sourceURL)) {
        finish(Outcome::failed(RecorderMessages::unsupportedAddress()));
        return;
    }
    m_session = std::make_unique<CaptureSession>();
    m_endTimer = new QTimer(this);
    m_endTimer->setSingleShot(true);
    m_endTimer->setTimerType(Qt::PreciseTimer);
    connect(m_endTimer, &QTimer::timeout, this, &StreamRecorderWorker::endTimerFired);
    scheduleEndTimer();
    if (StreamRecorder::isHLSAddress(m_sourceURL))
        startHLS();
    else
        startDataTask();
}

void StreamRecorderWorker::extend(const QDateTime &to)
{
    Q_ASSERT(QThread::currentThread() == thread());
    m_endDate = to;
    if (!m_isFinished && m_endTimer)
        scheduleEndTimer();
}

QDateTime StreamRecorderWorker::wallClock() const
{
    return m_timing.now ? m_timing.now() : QDateTime::currentDateTimeUtc();
}

std::chrono::steady_clock::time_point StreamRecorderWorker::steadyClock() const
{
    return m_timing.steadyNow ? m_timing.steadyNow() : std::chrono::steady_clock::now();
}

void StreamRecorderWorker::scheduleEndTimer()
{
    m_endTimer->stop();
    const qint64 remaining = wallClock().msecsTo(m_endDate);
    m_endTimer->start(int(std::clamp<qint64>(remaining, 0, kLongestTimerStep)));
}

void StreamRecorderWorker::endTimerFired()
{
    // A far end date is reached in several steps; the monotonic timer may
    // also run a little ahead of the wall clock.
    if (wallClock() < m_endDate) {
        scheduleEndTimer();
        return;
    }
    finish(Outcome::finished());
}

void StreamRecorderWorker::startDataTask()
{
    if (m_isFinished)
        return;
    // A live stream is read in batches: the socket wakes this thread once a
    // batch has gathered, or soon after data stops coming in.
    const CaptureTransfer::Request request{m_sourceURL, headerSafeUserAgent(m_userAgent), m_timing.requestTimeout,
                                           std::nullopt, true};
    m_dataTask = m_session->get(
        request, {[this](const CaptureTransfer::Head &head) { responseReceived(head.status, head.contentType); },
                  [this](const char *data, qsizetype size) { dataReceived(data, size); },
                  [this](const QString &error) { taskCompleted(error); }});
}

void StreamRecorderWorker::startHLS()
{
    m_hlsTask = new HLSCapture(*this, *m_session, m_sourceURL, m_userAgent, m_timing, this);
    m_hlsTask->start();
}

bool StreamRecorderWorker::handleHLSError(const RecorderError &error)
{
    openGap();
    m_lastError = error.description();
    if (error.statusCode == RecorderMessages::kProviderFullStatus)
        return false; // a full provider is asked again until the end date, uncounted
    return countHLSFailure();
}

bool StreamRecorderWorker::handleHLSError(const QString &description)
{
    openGap();
    if (m_lastError.isEmpty())
        m_lastError = description;
    return countHLSFailure();
}

void StreamRecorderWorker::skipSegments(qint64 count)
{
    m_gaps.skippedSegments += count;
}

void StreamRecorderWorker::openGap()
{
    if (m_gapStart)
        return;
    m_gapStart = wallClock();
    ++m_gaps.reconnects;
}

qint64 StreamRecorderWorker::closeGap()
{
    if (!m_gapStart)
        return 0;
    // A clock set back during the gap must not subtract from the total.
    const qint64 milliseconds = std::max<qint64>(0, std::exchange(m_gapStart, std::nullopt)->msecsTo(wallClock()));
    m_gaps.missingMilliseconds += milliseconds;
    return milliseconds;
}

bool StreamRecorderWorker::countHLSFailure()
{
    ++m_consecutiveFailures;
    if (m_consecutiveFailures < m_timing.failureLimit)
        return false;
    finish(Outcome::failed(m_lastError.isEmpty() ? RecorderMessages::streamGone() : m_lastError));
    return true;
}

void StreamRecorderWorker::responseReceived(int status, const QByteArray &contentType)
{
    if (m_isFinished)
        return;
    if (status < 200 || status > 299) {
        refuse(RecorderMessages::refusal(status), status == RecorderMessages::kProviderFullStatus);
        return;
    }
    switch (streamContentOf(contentType)) {
    case StreamContent::Stream:
        m_providerFull = false;
        return;
    case StreamContent::Page:
        // An error page sent with a success status must not end up in the
        // file, nor let the recording end as if it had been recorded.
        refuse(RecorderMessages::pageInsteadOfStream(), false);
        return;
    case StreamContent::Playlist:
        // The address is a playlist after all: the same address is captured
        // as HLS from now on, with the failure count kept.
        m_providerFull = false;
        cancelDataTask();
        startHLS();
        return;
    }
}

void StreamRecorderWorker::refuse(const QString &message, bool providerFull)
{
    m_providerFull = providerFull;
    m_lastError = message;
    cancelDataTask();
    attemptEnded({});
}

void StreamRecorderWorker::dataReceived(const char *data, qsizetype size)
{
    if (!m_isFinished)
        append(data, size);
}

void StreamRecorderWorker::append(const char *data, qsizetype size)
{
    Q_ASSERT(QThread::currentThread() == thread());
    if (!m_handle || size == 0)
        return;
    // A write that runs into a full disk stores part of the chunk and
    // reports no error; writing the rest then fails with the reason. Every
    // byte that reached the file is counted, so the byte count always equals
    // the file's growth.
    qint64 written = 0;
    while (written < size) {
        const qint64 stored = m_handle->write(data + written, size - written);
        if (stored <= 0) {
            m_bytes += written;
            finish(Outcome::failed(RecorderMessages::writeFailure(m_handle->errorString())));
            return;
        }
        written += stored;
    }
    m_bytes += size;
    m_consecutiveFailures = 0;
    if (m_gapStart) {
        // The end of a gap is reported at once, with the totals it changed.
        emit gapClosed(closeGap());
        reportProgress();
        return;
    }
    reportProgressIfDue();
}

void StreamRecorderWorker::reportProgressIfDue()
{
    if (m_lastProgressReport && steadyClock() - *m_lastProgressReport < m_timing.progressInterval)
        return;
    reportProgress();
}

void StreamRecorderWorker::reportProgress()
{
    m_lastProgressReport = steadyClock();
    emit progressed(m_bytes, m_gaps);
}

void StreamRecorderWorker::taskCompleted(const QString &error)
{
    m_dataTask = nullptr; // it has ended
    attemptEnded(error);
}

void StreamRecorderWorker::attemptEnded(const QString &error)
{
    if (m_isFinished)
        return;
    if (wallClock() >= m_endDate) {
        finish(Outcome::finished());
        return;
    }
    if (!error.isEmpty() && m_lastError.isEmpty())
        m_lastError = error;
    openGap();
    scheduleRetry([this] { startDataTask(); });
}

void StreamRecorderWorker::scheduleRetry(const std::function<void()> &retry)
{
    if (m_providerFull) {
        // A full provider is asked again until the end date, uncounted.
        QTimer::singleShot(m_timing.providerFullRetryDelay, this, retry);
        return;
    }
    ++m_consecutiveFailures;
    if (m_consecutiveFailures >= m_timing.failureLimit) {
        finish(Outcome::failed(m_lastError.isEmpty() ? RecorderMessages::streamGone() : m_lastError));
        return;
    }
    QTimer::singleShot(m_timing.retryDelay, this, retry);
}

void StreamRecorderWorker::finish(Outcome outcome)
{
    Q_ASSERT(QThread::currentThread() == thread());
    if (m_isFinished)
        return;
    m_isFinished = true;
    if (m_endTimer)
        m_endTimer->stop();
    cancelDataTask();
    if (m_hlsTask)
        m_hlsTask->cancel();
    if (m_handle) {
        m_handle->close(); // a failure to close changes nothing already written
        m_handle.reset();
    }
    if (outcome.kind == Outcome::Kind::Finished && m_bytes == 0)
        outcome = Outcome::failed(m_lastError.isEmpty() ? RecorderMessages::noVideo() : m_lastError);
    // A gap still open at the end lasted until the end.
    closeGap();
    emit ended(outcome, m_bytes, m_gaps);
}

void StreamRecorderWorker::cancelDataTask()
{
    if (m_dataTask)
        m_session->cancel(std::exchange(m_dataTask, nullptr));
}
