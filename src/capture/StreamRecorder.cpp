#include "StreamRecorder.h"

#include "RetiredRecorderThreads.h"
#include "StreamRecorderWorker.h"

#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <filesystem>
#include <system_error>

const QString StreamRecorder::defaultUserAgent = QStringLiteral("VLC/3.0 LibVLC/3.0");

StreamRecorder::Outcome StreamRecorder::Outcome::failed(const QString &message)
{
    return {Kind::Failed, message};
}

StreamRecorder::Outcome StreamRecorder::Outcome::finished()
{
    return {Kind::Finished, {}};
}

StreamRecorder::Outcome StreamRecorder::Outcome::stopped()
{
    return {Kind::Stopped, {}};
}

StreamRecorder::StreamRecorder(const QUrl &sourceURL, const QString &filePath, const QDateTime &endDate,
                               const std::optional<QString> &userAgent, const Timing &timing,
                               QObject *parent)
    : QObject(parent),
      m_sourceURL(sourceURL),
      m_filePath(filePath),
      m_userAgent(userAgent && !userAgent->isEmpty() ? *userAgent : defaultUserAgent),
      m_thread(std::make_unique<QThread>())
{
    m_thread->setObjectName(QStringLiteral("tivolux.recorder.stream"));
    m_worker = new StreamRecorderWorker(m_sourceURL, endDate, m_userAgent, timing);
    m_worker->moveToThread(m_thread.get());
    // The worker is deleted on its own thread once that thread's loop ends.
    connect(m_thread.get(), &QThread::finished, m_worker, &QObject::deleteLater);

    // Queued: the worker's thread never calls into this object, and a
    // recorder destroyed in the meantime is disconnected and drops what was
    // already posted with its events.
    connect(m_worker, &StreamRecorderWorker::progressed, this, &StreamRecorder::deliverProgress,
            Qt::QueuedConnection);
    connect(m_worker, &StreamRecorderWorker::ended, this, &StreamRecorder::deliverFinish, Qt::QueuedConnection);
    connect(m_worker, &StreamRecorderWorker::gapClosed, this, &StreamRecorder::deliverGapClosed,
            Qt::QueuedConnection);
}

StreamRecorder::~StreamRecorder()
{
    if (m_started) {
        // Ending the loop deletes the worker there, which aborts its transfer
        // and closes the file; nothing it posts reaches a callback any more.
        // The thread winds down on its own, without holding up this one.
        RetiredRecorderThreads::retire(std::move(m_thread));
    } else {
        delete m_worker;
    }
}

bool StreamRecorder::start(QString *errorDescription)
{
    const auto fail = [errorDescription](const QString &description) {
        if (errorDescription)
            *errorDescription = description;
        return false;
    };
    if (m_started)
        return fail(QStringLiteral("The recording has already been started."));

    std::error_code error;
    const QString folder = QFileInfo(m_filePath).absolutePath();
    std::filesystem::create_directories(std::filesystem::path(QFile::encodeName(folder).toStdString()), error);
    if (error)
        return fail(QString::fromLocal8Bit(error.message()));

    // Append mode creates a missing file, positions at its end (failing when
    // it cannot) and keeps every write at the end: an existing file is
    // continued, never truncated. Unbuffered: each chunk is one write call,
    // visible to readers of the file at once.
    auto handle = std::make_unique<QFile>(m_filePath);
    if (!handle->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return fail(handle->errorString());

    m_started = true;
    handle->moveToThread(m_thread.get());
    m_thread->start();
    StreamRecorderWorker *worker = m_worker;
    QFile *opened = handle.release();
    QMetaObject::invokeMethod(
        worker, [worker, opened] { worker->begin(std::unique_ptr<QFile>(opened)); },
        Qt::BlockingQueuedConnection);
    return true;
}

void StreamRecorder::stop()
{
    StreamRecorderWorker *worker = m_worker;
    QMetaObject::invokeMethod(worker, [worker] { worker->finish(Outcome::stopped()); }, Qt::QueuedConnection);
}

void StreamRecorder::extend(const QDateTime &to)
{
    StreamRecorderWorker *worker = m_worker;
    QMetaObject::invokeMethod(worker, [worker, to] { worker->extend(to); }, Qt::QueuedConnection);
}

bool StreamRecorder::isHLS() const
{
    return isHLSAddress(m_sourceURL);
}

bool StreamRecorder::isHLSAddress(const QUrl &url)
{
    QString path = url.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const QString lastComponent = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = lastComponent.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0 && lastComponent.mid(dot + 1).toLower() == QLatin1String("m3u8"))
        return true;
    return url.toString(QUrl::FullyEncoded).toLower().contains(QLatin1String(".m3u8?"));
}

void StreamRecorder::deliverProgress(qint64 bytes, const CaptureGaps &gaps)
{
    m_gaps = gaps;
    const auto callback = onProgress; // the callback may delete this recorder
    if (callback)
        callback(bytes);
}

void StreamRecorder::deliverFinish(const Outcome &outcome, qint64 bytes, const CaptureGaps &gaps)
{
    m_gaps = gaps;
    const auto callback = onFinish;
    if (callback)
        callback(outcome, bytes);
}

void StreamRecorder::deliverGapClosed(qint64 milliseconds)
{
    const auto callback = onGapClosed;
    if (callback)
        callback(milliseconds);
}
