#include "StreamRecorderWorker.h"

#include "CaptureRequest.h"
#include "HLSCapture.h"
#include "RecorderError.h"
#include "RecorderMessages.h"
#include "StreamContentType.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <utility>

namespace {

// How much response data the HTTP client may hold before it stops reading
// from the socket until this thread has written what it has. Bounds memory
// when the disk is slower than the network.
constexpr qint64 kReadBufferSize = 1024 * 1024;

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
    // The loop is ended before the members it calls into go away.
    if (m_hlsTask)
        m_hlsTask->cancel();
    releaseClient();
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

void StreamRecorderWorker::scheduleEndTimer()
{
    m_endTimer->stop();
    const qint64 remaining = QDateTime::currentDateTimeUtc().msecsTo(m_endDate);
    m_endTimer->start(int(std::clamp<qint64>(remaining, 0, kLongestTimerStep)));
}

void StreamRecorderWorker::endTimerFired()
{
    // A far end date is reached in several steps; the monotonic timer may
    // also run a little ahead of the wall clock.
    if (QDateTime::currentDateTimeUtc() < m_endDate) {
        scheduleEndTimer();
        return;
    }
    finish(Outcome::finished());
}

void StreamRecorderWorker::startDataTask()
{
    if (m_isFinished)
        return;
    if (!m_session) {
        // One client per recorder: its own connections (so recordings from
        // the same host never queue behind each other), and cookies that
        // live only as long as this recorder.
        m_session = new QNetworkAccessManager(this);
        m_session->setRedirectPolicy(QNetworkRequest::UserVerifiedRedirectPolicy);
    }
    QNetworkReply *reply = m_session->get(captureRequest(m_sourceURL, m_userAgent, m_timing.requestTimeout));
    reply->setReadBufferSize(kReadBufferSize);
    m_dataTask = reply;
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] { responseReceived(reply); });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { dataReceived(reply); });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { taskCompleted(reply); });
    connect(reply, &QNetworkReply::redirected, this,
            [this, reply](const QUrl &target) { redirected(reply, target); });
}

void StreamRecorderWorker::startHLS()
{
    m_hlsTask = new HLSCapture(*this, m_sourceURL, m_userAgent, m_timing, this);
    m_hlsTask->start();
}

bool StreamRecorderWorker::handleHLSError(const RecorderError &error)
{
    m_lastError = error.description();
    if (error.statusCode == RecorderMessages::kProviderFullStatus)
        return false; // a full provider is asked again until the end date, uncounted
    return countHLSFailure();
}

bool StreamRecorderWorker::handleHLSError(const QString &description)
{
    if (m_lastError.isEmpty())
        m_lastError = description;
    return countHLSFailure();
}

bool StreamRecorderWorker::countHLSFailure()
{
    ++m_consecutiveFailures;
    if (m_consecutiveFailures < m_timing.failureLimit)
        return false;
    finish(Outcome::failed(m_lastError.isEmpty() ? RecorderMessages::streamGone() : m_lastError));
    return true;
}

void StreamRecorderWorker::redirected(QNetworkReply *reply, const QUrl &target)
{
    // Follow the provider wherever it sends the stream, as long as it stays
    // on http or https (a downgrade from https included).
    if (isFetchableAddress(target)) {
        emit reply->redirectAllowed();
        return;
    }
    cancelDataTask();
    attemptEnded(RecorderMessages::unsupportedAddress());
}

void StreamRecorderWorker::responseReceived(QNetworkReply *reply)
{
    if (reply != m_dataTask || m_isFinished)
        return;
    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!statusAttribute.isValid()) {
        m_providerFull = false; // not an HTTP answer: take the body as it comes
        return;
    }
    const int status = statusAttribute.toInt();
    if (isFollowedRedirect(status, *reply))
        return; // the client goes on to the new address, or fails the task itself
    if (status < 200 || status > 299) {
        refuse(RecorderMessages::refusal(status), status == RecorderMessages::kProviderFullStatus);
        return;
    }
    switch (streamContentOf(reply->rawHeader(QByteArrayLiteral("Content-Type")))) {
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
        releaseClient();
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

void StreamRecorderWorker::dataReceived(QNetworkReply *reply)
{
    const QByteArray chunk = reply->readAll();
    if (reply != m_dataTask || m_isFinished)
        return;
    append(chunk);
}

void StreamRecorderWorker::append(const QByteArray &chunk)
{
    Q_ASSERT(QThread::currentThread() == thread());
    if (!m_handle || chunk.isEmpty())
        return;
    // A write that runs into a full disk stores part of the chunk and
    // reports no error; writing the rest then fails with the reason. Every
    // byte that reached the file is counted, so the byte count always equals
    // the file's growth.
    qint64 written = 0;
    while (written < chunk.size()) {
        const qint64 stored = m_handle->write(chunk.constData() + written, chunk.size() - written);
        if (stored <= 0) {
            m_bytes += written;
            finish(Outcome::failed(RecorderMessages::writeFailure(m_handle->errorString())));
            return;
        }
        written += stored;
    }
    m_bytes += chunk.size();
    m_consecutiveFailures = 0;
    reportProgressIfDue();
}

void StreamRecorderWorker::reportProgressIfDue()
{
    const auto now = std::chrono::steady_clock::now();
    if (m_lastProgressReport && now - *m_lastProgressReport < m_timing.progressInterval)
        return;
    m_lastProgressReport = now;
    emit progressed(m_bytes);
}

void StreamRecorderWorker::taskCompleted(QNetworkReply *reply)
{
    reply->deleteLater();
    if (reply != m_dataTask)
        return;
    m_dataTask = nullptr;
    attemptEnded(requestErrorDescription(*reply));
}

void StreamRecorderWorker::attemptEnded(const QString &error)
{
    if (m_isFinished)
        return;
    if (QDateTime::currentDateTimeUtc() >= m_endDate) {
        finish(Outcome::finished());
        return;
    }
    if (!error.isEmpty() && m_lastError.isEmpty())
        m_lastError = error;
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
    releaseClient();
    if (m_hlsTask)
        m_hlsTask->cancel();
    if (m_handle) {
        m_handle->close(); // a failure to close changes nothing already written
        m_handle.reset();
    }
    if (outcome.kind == Outcome::Kind::Finished && m_bytes == 0)
        outcome = Outcome::failed(m_lastError.isEmpty() ? RecorderMessages::noVideo() : m_lastError);
    emit ended(outcome, m_bytes);
}

void StreamRecorderWorker::cancelDataTask()
{
    if (!m_dataTask)
        return;
    // Deleting a reply cancels its transfer. It is cut loose first and
    // deleted later, since this may run inside one of its own signals.
    QNetworkReply *reply = std::exchange(m_dataTask, nullptr);
    disconnect(reply, nullptr, this, nullptr);
    reply->deleteLater();
}

void StreamRecorderWorker::releaseClient()
{
    cancelDataTask();
    if (m_session)
        std::exchange(m_session, nullptr)->deleteLater();
}
