#include "RecordingManager.h"

#include "FileNaming.h"
#include "ProviderConnections.h"
#include "RecordingIndex.h"
#include "RecordingsFolder.h"
#include "SleepInhibitor.h"
#include "SystemWakeNotifier.h"
#include "WakeScheduler.h"

#include <QDebug>
#include <QFile>
#include <QPointer>

namespace {

using Status = Recording::Status;

bool isPending(Status status)
{
    return status == Status::Scheduled || status == Status::Waiting;
}

bool isActive(Status status)
{
    return isPending(status) || status == Status::Recording;
}

// A stream address the recorder may fetch: a valid http or https address
// with a host. Anything else (a file: address would copy a local file into a
// recording that anyone on the network can download) counts as no link.
std::optional<QUrl> parseStreamURL(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (text.isEmpty() || !url.isValid() || url.host().isEmpty())
        return std::nullopt;
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return std::nullopt;
    return url;
}

RecordingManager::Environment &sharedEnvironment()
{
    static RecordingManager::Environment environment;
    return environment;
}

} // namespace

const QString RecordingManager::kSleepActivityReason =
    QStringLiteral("Recording or waiting for a scheduled TV recording");

RecordingManager::RecordingManager()
    : RecordingManager(Environment{})
{
}

RecordingManager::RecordingManager(Environment environment, QObject *parent)
    : QObject(parent)
    , m_environment(std::move(environment))
{
    if (!m_environment.provider)
        m_environment.provider = std::make_shared<ProviderConnections>();
    if (!m_environment.now)
        m_environment.now = [] { return QDateTime::currentDateTimeUtc(); };
    if (!m_environment.recorderTiming.now)
        m_environment.recorderTiming.now = m_environment.now;

    loadIndex();

    m_scheduleTimer = new QTimer(this);
    m_scheduleTimer->setInterval(m_environment.timing.schedulePeriod);
    connect(m_scheduleTimer, &QTimer::timeout, this, qOverload<>(&RecordingManager::checkSchedule));
    m_scheduleTimer->start();

    if (m_environment.wakeNotifier) {
        connect(m_environment.wakeNotifier, &SystemWakeNotifier::didWakeFromSleep, this,
                &RecordingManager::systemDidWake);
    }

    checkSchedule();
    syncWakes();
}

// Recorders still running are children of the manager, so they end with it
// even when no event loop runs after this to carry out their deleteLater.
RecordingManager::~RecordingManager() = default;

RecordingManager &RecordingManager::shared()
{
    // Created on first access and kept until the process ends.
    static RecordingManager *instance = new RecordingManager(sharedEnvironment());
    return *instance;
}

void RecordingManager::setSharedEnvironment(Environment environment)
{
    sharedEnvironment() = std::move(environment);
}

std::optional<Recording> RecordingManager::recording(const QUuid &id) const
{
    for (const Recording &r : m_recordings) {
        if (r.id == id)
            return r;
    }
    return std::nullopt;
}

Recording *RecordingManager::find(const QUuid &id)
{
    for (Recording &r : m_recordings) {
        if (r.id == id)
            return &r;
    }
    return nullptr;
}

void RecordingManager::removeAll(const QUuid &id)
{
    m_recordings.removeIf([&](const Recording &r) { return r.id == id; });
}

int RecordingManager::scheduledCount() const
{
    return int(std::count_if(m_recordings.cbegin(), m_recordings.cend(),
                             [](const Recording &r) { return r.status == Status::Scheduled; }));
}

std::variant<Recording, RecorderError> RecordingManager::schedule(const RecordingRequest &request)
{
    const QDateTime now = this->now();
    if (!parseStreamURL(request.streamURL))
        return RecorderError{QStringLiteral("The channel has no valid stream link."), std::nullopt};
    if (!(request.programEnd > now))
        return RecorderError{QStringLiteral("This programme has already ended."), std::nullopt};

    for (const Recording &existing : std::as_const(m_recordings)) {
        if (existing.channelID == request.channelID && existing.programStart == request.programStart
            && isActive(existing.status))
            return existing;
    }

    Recording r;
    r.id = QUuid::createUuid();
    r.title = request.title.isEmpty() ? request.channelName : request.title;
    r.channelName = request.channelName;
    r.channelID = request.channelID;
    r.accountID = request.accountID;
    r.streamURL = request.streamURL;
    r.userAgent = request.userAgent;
    r.programStart = request.programStart;
    r.programEnd = request.programEnd;
    r.startDate = std::max(now, request.programStart);
    r.endDate = request.programEnd.addSecs(kMarginAfterProgramme.count());
    // The margin can carry the end past the last date the index can hold;
    // storing it would make the whole index unreadable at the next start.
    if (!isStorableDate(r.endDate))
        return RecorderError{QStringLiteral("Invalid request."), std::nullopt};
    r.fileName = makeFileName(r.title, r.programStart, r.id);
    r.status = Status::Scheduled;
    r.bytes = 0;

    m_recordings.prepend(r);
    saveIndex();
    checkSchedule();
    if (auto current = recording(r.id))
        return *current;
    return r;
}

std::variant<Recording, RecorderError> RecordingManager::extend(const QUuid &id, qint64 minutes)
{
    if (minutes < kMinimumExtensionMinutes || minutes > kMaximumExtensionMinutes)
        return RecorderError{QStringLiteral("Invalid extension."), std::nullopt};
    const auto found = recording(id);
    if (!found || !isActive(found->status))
        return RecorderError{QStringLiteral("This recording has already ended."), std::nullopt};

    const QDateTime now = this->now();
    const QDateTime newEnd = std::max(now, found->endDate).addSecs(minutes * 60);
    if (!isStorableDate(newEnd))
        return RecorderError{QStringLiteral("Invalid extension."), std::nullopt};
    if (Recording *entry = find(id))
        entry->endDate = newEnd;
    postChange();
    if (auto it = m_recorders.find(id); it != m_recorders.end())
        it->second->extend(newEnd);
    saveIndex();
    if (auto current = recording(id))
        return *current;
    return *found;
}

void RecordingManager::stop(const QUuid &id)
{
    if (auto it = m_recorders.find(id); it != m_recorders.end()) {
        it->second->stop();
        return;
    }
    const auto found = recording(id);
    if (found && isPending(found->status)) {
        removeAll(id);
        saveIndex();
    }
}

void RecordingManager::deleteRecording(const QUuid &id)
{
    const auto found = recording(id);
    if (!found)
        return;
    releaseRecorder(id);
    if (const auto path = recordingFilePath(recordingsFolderURL(), found->fileName))
        QFile::remove(*path);
    removeAll(id);
    updateSleepHold();
    saveIndex();
}

void RecordingManager::releaseRecorder(const QUuid &id)
{
    const auto it = m_recorders.find(id);
    if (it == m_recorders.end())
        return;
    RecorderPointer recorder = std::move(it->second);
    m_recorders.erase(it);
    recorder->onProgress = nullptr;
    recorder->onFinish = nullptr;
    recorder->onGapClosed = nullptr;
    recorder->stop();
}

void RecordingManager::stopAll()
{
    for (auto &[id, recorder] : m_recorders)
        recorder->stop();
}

void RecordingManager::stopAllAndSave()
{
    if (m_recorders.empty())
        return;
    const QDateTime now = this->now();
    for (auto &[id, recorder] : m_recorders) {
        recorder->stop();
        if (Recording *entry = find(id)) {
            entry->status = Status::Stopped;
            entry->endDate = now;
        }
    }
    saveIndex();
}

void RecordingManager::dropRecorders()
{
    while (!m_recorders.empty())
        releaseRecorder(m_recorders.begin()->first);
}

void RecordingManager::checkSchedule()
{
    checkSchedule(now());
}

QDateTime RecordingManager::now() const
{
    return m_environment.now();
}

void RecordingManager::checkSchedule(const QDateTime &now)
{
    const QList<Recording> snapshot = m_recordings;
    for (const Recording &r : snapshot) {
        if (!isPending(r.status) || r.startDate > now || m_connectionChecks.contains(r.id))
            continue;
        if (r.endDate > now)
            beginOrWait(r, now);
        else
            expire(r);
    }
    updateSleepHold();
}

void RecordingManager::expire(const Recording &recording)
{
    if (Recording *entry = find(recording.id)) {
        entry->errorMessage = recording.status == Status::Waiting
            ? QStringLiteral("No provider connection became free during the programme.")
            : QStringLiteral("The computer was asleep or the recorder was not running at the scheduled time.");
        entry->status = Status::Failed;
        postChange();
    }
    saveIndex();
}

void RecordingManager::beginOrWait(const Recording &recording, const QDateTime &now)
{
    const auto url = parseStreamURL(recording.streamURL);
    const auto account = url ? ProviderConnections::account(*url) : std::nullopt;
    if (!account) {
        startRecorder(recording);
        return;
    }
    const QString key = ProviderConnections::accountKey(*account);
    const QDateTime windowStart = now.addMSecs(-m_environment.timing.recentStartWindow.count());
    const auto &starts = m_recentStarts.value(key);
    const int recent = int(std::count_if(starts.cbegin(), starts.cend(),
                                         [&](const QDateTime &t) { return t > windowStart; }));

    m_connectionChecks.insert(recording.id);
    const QUuid id = recording.id;
    m_environment.provider->checkLimit(
        *account, recording.userAgent.value_or(StreamRecorder::defaultUserAgent), recent, this,
        [this, id, key](const ProviderConnections::LimitAnswer &answer) {
            finishConnectionCheck(id, key, answer.full, answer.inUse, answer.limit);
        });
}

void RecordingManager::finishConnectionCheck(const QUuid &id, const QString &accountKey, bool full,
                                             qint64 inUse, qint64 limit)
{
    m_connectionChecks.remove(id);
    const auto current = recording(id);
    if (!current || !isPending(current->status))
        return;

    if (full) {
        qWarning().noquote() << QStringLiteral("[TivoluxRecorder] provider %1/%2 connections in use, %3 waits")
                                    .arg(inUse)
                                    .arg(limit)
                                    .arg(current->title);
        if (current->status == Status::Waiting)
            return;
        find(id)->status = Status::Waiting;
        postChange();
        saveIndex();
        return;
    }

    const QDateTime now = this->now();
    const QDateTime windowStart = now.addMSecs(-m_environment.timing.recentStartWindow.count());
    QList<QDateTime> &starts = m_recentStarts[accountKey];
    starts.append(now);
    starts.removeIf([&](const QDateTime &t) { return t <= windowStart; });
    startRecorder(*current);
}

void RecordingManager::startRecorder(const Recording &recording)
{
    const auto url = parseStreamURL(recording.streamURL);
    if (!url)
        return;

    const QString folder = recordingsFolderURL();
    const auto filePath = recordingFilePath(folder, recording.fileName);
    QString error;
    RecorderPointer recorder;
    if (filePath) {
        recorder.reset(new StreamRecorder(*url, *filePath, recording.endDate, recording.userAgent,
                                          m_environment.recorderTiming, this));
        const QUuid id = recording.id;
        QPointer<RecordingManager> self(this);
        // The callbacks come from the recorder itself, so it is alive there.
        StreamRecorder *reporter = recorder.get();
        recorder->onProgress = [self, id, reporter](qint64 bytes) {
            if (self)
                self->handleProgress(id, bytes, reporter->gaps());
        };
        recorder->onFinish = [self, id, reporter](const StreamRecorder::Outcome &outcome, qint64 bytes) {
            if (self)
                self->handleFinish(id, outcome, bytes, reporter->gaps());
        };
        recorder->onGapClosed = [self, id](qint64 milliseconds) {
            if (self)
                self->logGapClosed(id, milliseconds);
        };
        if (!recorder->start(&error))
            recorder.reset();
    } else {
        error = QStringLiteral("\"%1\" is not a plain file name.").arg(recording.fileName);
    }

    Recording *entry = find(recording.id);
    if (recorder) {
        m_recorders[recording.id] = std::move(recorder);
        if (entry) {
            entry->status = Status::Recording;
            entry->startDate = now();
            postChange();
        }
    } else if (entry) {
        entry->status = Status::Failed;
        entry->errorMessage = QStringLiteral("Could not write to the recordings folder: ") + error;
        postChange();
    }
    saveIndex();
}

namespace {

qint64 roundedSeconds(qint64 milliseconds)
{
    return (milliseconds + 500) / 1000;
}

void keepGaps(Recording &entry, const CaptureGaps &gaps)
{
    entry.reconnects = gaps.reconnects;
    entry.secondsMissing = roundedSeconds(gaps.missingMilliseconds);
    entry.skippedSegments = gaps.skippedSegments;
}

} // namespace

void RecordingManager::handleProgress(const QUuid &id, qint64 bytes, const CaptureGaps &gaps)
{
    if (Recording *entry = find(id)) {
        entry->bytes = bytes;
        keepGaps(*entry, gaps);
        postChange();
    }
}

void RecordingManager::logGapClosed(const QUuid &id, qint64 milliseconds)
{
    if (const Recording *entry = find(id))
        // One pass over both values, and the title on one line, so that no
        // title can add text or lines to the log.
        qInfo().noquote() << QStringLiteral("[TivoluxRecorder] gap closed in %1: %2 s without data")
                                 .arg(entry->title.simplified(), QString::number(roundedSeconds(milliseconds)));
}

void RecordingManager::handleFinish(const QUuid &id, const StreamRecorder::Outcome &outcome, qint64 bytes,
                                    const CaptureGaps &gaps)
{
    // Erasing defers the recorder's deletion: this runs within its report.
    m_recorders.erase(id);
    if (Recording *entry = find(id)) {
        entry->bytes = bytes;
        keepGaps(*entry, gaps);
        switch (outcome.kind) {
        case StreamRecorder::Outcome::Kind::Finished:
            entry->status = Status::Finished;
            break;
        case StreamRecorder::Outcome::Kind::Stopped:
            entry->status = Status::Stopped;
            entry->endDate = now();
            break;
        case StreamRecorder::Outcome::Kind::Failed:
            entry->status = Status::Failed;
            entry->errorMessage = outcome.message;
            if (bytes >= 1)
                entry->endDate = now();
            break;
        }
        postChange();
    }
    updateSleepHold();
    saveIndex();
}

void RecordingManager::updateSleepHold()
{
    const QDateTime horizon =
        now().addMSecs(m_environment.timing.sleepLookAhead.count());
    const bool wakeOn = wakeScheduler().isOn();
    const bool needed = !m_recorders.empty()
        || std::any_of(m_recordings.cbegin(), m_recordings.cend(), [&](const Recording &r) {
               return r.status == Status::Waiting
                   || (r.status == Status::Scheduled && (!wakeOn || r.startDate <= horizon));
           });

    if (!needed) {
        if (m_sleepActivity) {
            m_sleepActivity.reset();
            emit sleepHoldDidChange();
        }
        return;
    }
    // A hold that failed is no hold: it is asked for again at every check
    // for as long as it is needed.
    if (m_sleepActivity && m_sleepActivity->state() == SleepActivity::State::Failed)
        m_sleepActivity.reset();
    if (!m_sleepActivity && m_environment.sleepInhibitor) {
        QPointer<RecordingManager> self(this);
        m_sleepActivity = m_environment.sleepInhibitor->begin(kSleepActivityReason, [self] {
            if (self)
                self->sleepHoldSettled();
        });
    }
}

void RecordingManager::sleepHoldSettled()
{
    if (!m_sleepActivity)
        return;
    if (m_sleepActivity->state() == SleepActivity::State::Held) {
        if (m_sleepHoldFailure)
            qWarning().noquote() << QStringLiteral("[TivoluxRecorder] the computer is kept awake again");
        m_sleepHoldFailure.reset();
    } else if (m_sleepActivity->state() == SleepActivity::State::Failed) {
        if (!m_sleepHoldFailure)
            qWarning().noquote() << QStringLiteral("[TivoluxRecorder] cannot keep the computer awake: ")
                    + m_sleepActivity->failure();
        m_sleepHoldFailure = m_sleepActivity->failure();
    }
    emit sleepHoldDidChange();
}

bool RecordingManager::isHoldingSleep() const
{
    return m_sleepActivity && m_sleepActivity->state() == SleepActivity::State::Held;
}

std::optional<QString> RecordingManager::sleepHoldFailure() const
{
    if (!m_sleepActivity || m_sleepActivity->state() == SleepActivity::State::Held)
        return std::nullopt;
    return m_sleepHoldFailure;
}

void RecordingManager::systemDidWake()
{
    // End timers run on a monotonic clock that stood still while the
    // computer slept: measure each recording's end against the wall clock
    // again, so that one whose end has passed finishes at once and the
    // others end on time.
    for (const auto &[id, recorder] : m_recorders) {
        if (const Recording *entry = find(id))
            recorder->extend(entry->endDate);
    }
    checkSchedule();
}

void RecordingManager::syncWakes()
{
    QList<QDateTime> starts;
    for (const Recording &r : std::as_const(m_recordings)) {
        if (r.status == Status::Scheduled)
            starts.append(r.startDate);
    }
    wakeScheduler().sync(starts);
}

WakeScheduler &RecordingManager::wakeScheduler() const
{
    return m_environment.wakeScheduler ? *m_environment.wakeScheduler : WakeScheduler::shared();
}

QString RecordingManager::recordingsFolderURL() const
{
    return recordingsFolderPath();
}

QString RecordingManager::makeFileName(const QString &title, const QDateTime &programStart, const QUuid &id)
{
    return ::makeFileName(title, programStart, id);
}

void RecordingManager::loadIndex()
{
    m_recordings = readIndex(recordingsFolderURL());
    postChange();
}

void RecordingManager::saveIndex()
{
    // The index first: it is what a user would lose if the process ended
    // in what follows (as it may when it saves on the way out).
    if (const auto error = writeIndex(recordingsFolderURL(), m_recordings))
        qWarning().noquote() << QStringLiteral("[TivoluxRecorder] could not save recordings index: ") + *error;
    syncWakes();
    postChange();
}

void RecordingManager::postChange()
{
    emit recordingsDidChange();
}
