#include "SoakRun.h"

#include "SoakContent.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

// How far the recorder's resident memory may stay above its base once the
// load is over (heap kept by the allocator for reuse, not a leak).
constexpr qint64 kResidentAllowanceKiB = 32 * 1024;
// How long the recorder may take to catch up, end and release things.
constexpr int kCatchUpMilliseconds = 120000;
constexpr int kSettleMilliseconds = 30000;

// A field of the process's /proc status, such as "VmRSS:".
QString statusField(qint64 pid, const char *name)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    const QByteArray status = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    for (const QByteArray &line : status.split('\n')) {
        if (line.startsWith(name))
            return QString::fromLatin1(line.mid(qstrlen(name))).trimmed();
    }
    return {};
}

// Open descriptors and how many of them are sockets, which the raw link text
// names as "socket:[inode]".
std::pair<int, int> openFilesAndSockets(qint64 pid)
{
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    const QFileInfoList entries = fds.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    int sockets = 0;
    for (const QFileInfo &fd : entries) {
        char target[256] = {};
        const ssize_t length = ::readlink(QFile::encodeName(fd.filePath()).constData(), target, sizeof target - 1);
        sockets += length > 0 && QByteArray(target, int(length)).startsWith("socket:");
    }
    return {int(entries.size()), sockets};
}

void say(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

QString mebibytes(qint64 bytes)
{
    return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 1) + QStringLiteral(" MiB");
}

} // namespace

SoakRun::SoakRun(Options options, QObject *parent)
    : QObject(parent), m_options(std::move(options)), m_random(QRandomGenerator::securelySeeded())
{
}

SoakRun::~SoakRun()
{
    qDeleteAll(m_clients);
}

void SoakRun::check(bool condition, const QString &failure)
{
    if (!condition) {
        m_failures.append(failure);
        say(QStringLiteral("FAILED: ") + failure);
    }
}

bool SoakRun::runUntil(const std::function<bool()> &done, int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

std::optional<HTTPExchange::Reply> SoakRun::call(const QByteArray &method, const QByteArray &path,
                                                 const QByteArray &body, int timeoutMilliseconds)
{
    std::optional<HTTPExchange::Reply> answer;
    QByteArray request = method + ' ' + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (!body.isEmpty())
        request += "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n";
    bool done = false;
    HTTPExchange::send(kPort, request + "\r\n" + body, timeoutMilliseconds, [&](const HTTPExchange::Reply &reply) {
        if (reply.complete)
            answer = reply;
        done = true;
    });
    runUntil([&] { return done; }, timeoutMilliseconds + 1000);
    return answer;
}

SoakRun::Sample SoakRun::sample() const
{
    const qint64 pid = m_recorder->process().processId();
    const auto [files, sockets] = openFilesAndSockets(pid);
    return {files, sockets, statusField(pid, "VmRSS:").split(QLatin1Char(' ')).value(0).toLongLong(),
            statusField(pid, "Threads:").toInt()};
}

bool SoakRun::scheduleAll()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QString start = now.addSecs(-60).toString(Qt::ISODate);
    const QString end = now.addSecs(m_options.seconds + 3600).toString(Qt::ISODate);
    for (int n = 0; n < m_options.recordings; ++n) {
        const QJsonObject request{
            {QStringLiteral("title"), QStringLiteral("Soak %1").arg(n)},
            {QStringLiteral("channelName"), QStringLiteral("Soak Channel %1").arg(n)},
            {QStringLiteral("channelID"), QStringLiteral("soak-%1").arg(n)},
            {QStringLiteral("streamURL"), m_provider->url(n).toString()},
            {QStringLiteral("programStart"), start},
            {QStringLiteral("programEnd"), end},
        };
        const auto reply = call("POST", "/api/recordings", QJsonDocument(request).toJson(QJsonDocument::Compact));
        if (!reply || reply->status != 201) {
            check(false, QStringLiteral("scheduling recording %1 answered %2").arg(n).arg(reply ? reply->status : 0));
            return false;
        }
        const QJsonObject created = QJsonDocument::fromJson(reply->body).object();
        SoakTarget target;
        target.id = created.value(QStringLiteral("id")).toString();
        target.stream = n;
        target.status = created.value(QStringLiteral("status")).toString();
        check(target.status == QLatin1String("recording"),
              QStringLiteral("recording %1 started as %2").arg(n).arg(target.status));
        m_targets.append(target);
    }
    return true;
}

void SoakRun::noteListing(const QJsonArray &list)
{
    int recording = 0;
    for (const auto &entry : list) {
        const QJsonObject o = entry.toObject();
        const QString id = o.value(QStringLiteral("id")).toString();
        for (SoakTarget &target : m_targets) {
            if (target.id == id) {
                target.bytes = o.value(QStringLiteral("bytes")).toInteger();
                target.status = o.value(QStringLiteral("status")).toString();
            }
        }
        if (o.value(QStringLiteral("status")).toString() == QLatin1String("recording"))
            ++recording;
    }
    m_mostRecordingAtOnce = std::max(m_mostRecordingAtOnce, recording);
}

std::optional<SoakTarget> SoakRun::pick()
{
    if (m_targets.isEmpty())
        return std::nullopt;
    return m_targets.at(int(m_random.bounded(quint32(m_targets.size()))));
}

void SoakRun::progress(qint64 elapsedSeconds)
{
    qint64 sent = 0;
    for (const SoakTarget &target : m_targets)
        sent += m_provider->figures(target.stream).sent;
    const Sample now = sample();
    say(QStringLiteral("%1 s: streamed %2, %3 ranges checked, %4 API calls (slowest %5 ms), "
                       "%6 descriptors, %7 threads, resident %8")
            .arg(elapsedSeconds).arg(mebibytes(sent)).arg(m_rangeFigures.verified).arg(m_apiFigures.calls)
            .arg(m_apiFigures.slowestMilliseconds).arg(now.files).arg(now.threads)
            .arg(mebibytes(now.residentKiB * 1024)));
}

bool SoakRun::stopAll()
{
    for (const SoakTarget &target : m_targets) {
        const auto reply = call("POST", "/api/recordings/" + target.id.toLatin1() + "/stop");
        check(reply && reply->status == 204, QStringLiteral("stopping %1 answered %2").arg(target.id).arg(reply ? reply->status : 0));
    }
    return runUntil([&] {
        const auto reply = call("GET", "/api/recordings");
        if (!reply || reply->status != 200)
            return false;
        noteListing(QJsonDocument::fromJson(reply->body).array());
        return std::all_of(m_targets.cbegin(), m_targets.cend(),
                           [](const SoakTarget &t) { return t.status == QLatin1String("stopped"); });
    }, kCatchUpMilliseconds);
}

bool SoakRun::verifyFiles()
{
    QFile indexFile(QDir(m_recorder->folder()).filePath(QStringLiteral("recordings.json")));
    if (!indexFile.open(QIODevice::ReadOnly)) {
        check(false, QStringLiteral("the index cannot be read"));
        return false;
    }
    const QJsonArray index = QJsonDocument::fromJson(indexFile.readAll()).array();
    check(index.size() == m_targets.size(), QStringLiteral("the index holds %1 recordings").arg(index.size()));
    bool allExact = true;
    qint64 total = 0;
    for (const SoakTarget &target : m_targets) {
        QString fileName;
        for (const auto &entry : index) {
            if (entry.toObject().value(QStringLiteral("id")).toString() == target.id)
                fileName = entry.toObject().value(QStringLiteral("fileName")).toString();
        }
        const SoakProvider::StreamFigures sent = m_provider->figures(target.stream);
        QFile file(QDir(m_recorder->folder()).filePath(fileName));
        if (fileName.isEmpty() || !file.open(QIODevice::ReadOnly)) {
            check(false, QStringLiteral("recording %1 has no readable file").arg(target.stream));
            allExact = false;
            continue;
        }
        bool exact = file.size() == sent.sent && target.bytes == file.size();
        qint64 offset = 0;
        while (exact && offset < file.size()) {
            const QByteArray block = file.read(1024 * 1024);
            exact = !block.isEmpty() && block == soakContent(target.stream, offset, block.size());
            offset += block.size();
        }
        total += file.size();
        check(exact, QStringLiteral("recording %1: file of %2 bytes (index says %3), provider sent %4, content %5")
                         .arg(target.stream).arg(file.size()).arg(target.bytes).arg(sent.sent)
                         .arg(offset == file.size() ? QStringLiteral("checked") : QStringLiteral("differs near byte %1").arg(offset)));
        allExact = allExact && exact;
    }
    say(QStringLiteral("files: %1 recordings, %2 in all, %3").arg(m_targets.size()).arg(mebibytes(total))
            .arg(allExact ? QStringLiteral("every one byte-exact") : QStringLiteral("NOT all byte-exact")));
    return allExact;
}

int SoakRun::run()
{
    if (QTcpServer probe; !probe.listen(QHostAddress::Any, kPort)) {
        say(QStringLiteral("FAILED: port %1 is in use; the recorder under test needs it").arg(kPort));
        return 2;
    }
    m_provider = std::make_unique<SoakProvider>(SoakProvider::Settings{});
    m_recorder = std::make_unique<RecorderProcess>(m_options.recorderProgram);
    // The recorder's own lines go straight to the terminal.
    m_recorder->process().setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (!m_recorder->start()) {
        say(QStringLiteral("FAILED: the recorder did not start: ") + m_options.recorderProgram);
        return 2;
    }
    say(QStringLiteral("recorder pid %1, %2 recordings, %3 viewers, %4 s")
            .arg(m_recorder->process().processId()).arg(m_options.recordings).arg(m_options.clients).arg(m_options.seconds));
    if (!runUntil([&] { return call("GET", "/api/info", {}, 1000).has_value(); }, 15000)) {
        say(QStringLiteral("FAILED: the recorder's API did not answer"));
        return 2;
    }
    // Let the start-up finish before taking the base figures.
    runUntil([] { return false; }, 2000);
    const Sample base = sample();
    say(QStringLiteral("base: %1 descriptors (%2 sockets), %3 threads, resident %4")
            .arg(base.files).arg(base.sockets).arg(base.threads).arg(mebibytes(base.residentKiB * 1024)));

    if (!scheduleAll())
        return 1;
    m_poller = std::make_unique<APIPoller>(kPort, [this](const QJsonArray &list) { noteListing(list); }, m_apiFigures);
    m_poller->start();
    for (int i = 0; i < m_options.clients; ++i) {
        m_clients.append(new RangeClient(kPort, [this] { return pick(); }, m_rangeFigures));
        m_clients.last()->start();
    }

    Sample peak = base;
    QElapsedTimer clock;
    clock.start();
    qint64 lastReport = 0;
    while (clock.elapsed() < qint64(m_options.seconds) * 1000) {
        runUntil([] { return false; }, 1000);
        const Sample now = sample();
        peak = {std::max(peak.files, now.files), std::max(peak.sockets, now.sockets),
                std::max(peak.residentKiB, now.residentKiB), std::max(peak.threads, now.threads)};
        if (m_recorder->process().state() != QProcess::Running) {
            check(false, QStringLiteral("the recorder ended during the load"));
            return 1;
        }
        if (clock.elapsed() / 10000 > lastReport) {
            lastReport = clock.elapsed() / 10000;
            progress(clock.elapsed() / 1000);
        }
    }

    // Wind down: viewers and the API first, then the provider goes quiet and
    // the recorder catches up with what was sent before it is stopped.
    m_poller->stop();
    for (RangeClient *client : m_clients)
        client->stop();
    check(runUntil([&] {
              return !m_poller->busy()
                  && std::none_of(m_clients.cbegin(), m_clients.cend(), [](RangeClient *c) { return c->busy(); });
          }, 40000),
          QStringLiteral("viewers did not finish their last requests"));
    m_provider->goQuiet();
    const bool caughtUp = runUntil([&] {
        const QJsonArray index = QJsonDocument::fromJson([&] {
            QFile f(QDir(m_recorder->folder()).filePath(QStringLiteral("recordings.json")));
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }()).array();
        for (const auto &entry : index) {
            const QJsonObject o = entry.toObject();
            const QString id = o.value(QStringLiteral("id")).toString();
            const auto target = std::find_if(m_targets.cbegin(), m_targets.cend(), [&](const SoakTarget &t) { return t.id == id; });
            if (target == m_targets.cend())
                return false;
            const QFileInfo file(QDir(m_recorder->folder()).filePath(o.value(QStringLiteral("fileName")).toString()));
            if (file.size() != m_provider->figures(target->stream).sent)
                return false;
        }
        return index.size() == m_targets.size();
    }, kCatchUpMilliseconds);
    check(caughtUp, QStringLiteral("the files did not catch up with what the provider sent"));
    check(stopAll(), QStringLiteral("not every recording ended as stopped"));
    const bool exact = verifyFiles();

    // Descriptors and memory once the recorder has released everything.
    Sample after = sample();
    runUntil([&] {
        after = sample();
        return after.files <= base.files && after.sockets <= base.sockets;
    }, kSettleMilliseconds);
    runUntil([] { return false; }, 2000);
    after = sample();

    SoakProvider::StreamFigures streams;
    for (const SoakTarget &target : m_targets) {
        const auto f = m_provider->figures(target.stream);
        streams.sent += f.sent;
        streams.pieces += f.pieces;
        streams.refusals += f.refusals;
        streams.drops += f.drops;
    }
    say(QStringLiteral("provider: %1 sent in %2 pieces ended by a close, %3 answers 509, %4 connections dropped unanswered")
            .arg(mebibytes(streams.sent)).arg(streams.pieces).arg(streams.refusals).arg(streams.drops));
    say(QStringLiteral("recordings at once: %1 of %2").arg(m_mostRecordingAtOnce).arg(m_options.recordings));
    say(QStringLiteral("viewers: %1 range requests, %2 verified (%3), %4 hung up on purpose, %5 failed")
            .arg(m_rangeFigures.requests).arg(m_rangeFigures.verified).arg(mebibytes(m_rangeFigures.bytes))
            .arg(m_rangeFigures.hungUp).arg(m_rangeFigures.failures));
    for (const QString &problem : m_rangeFigures.problems)
        say(QStringLiteral("  viewer problem: ") + problem);
    const qint64 answered = m_apiFigures.calls - m_apiFigures.failures;
    say(QStringLiteral("API: %1 calls, %2 failed, mean %3 ms, slowest %4 ms")
            .arg(m_apiFigures.calls).arg(m_apiFigures.failures)
            .arg(answered ? QString::number(double(m_apiFigures.totalMilliseconds) / double(answered), 'f', 1) : QStringLiteral("-"))
            .arg(m_apiFigures.slowestMilliseconds));
    say(QStringLiteral("descriptors: base %1 (%2 sockets), peak %3 (%4 sockets), after %5 (%6 sockets)")
            .arg(base.files).arg(base.sockets).arg(peak.files).arg(peak.sockets).arg(after.files).arg(after.sockets));
    say(QStringLiteral("threads: base %1, peak %2, after %3").arg(base.threads).arg(peak.threads).arg(after.threads));
    say(QStringLiteral("resident memory: base %1, peak %2, after %3")
            .arg(mebibytes(base.residentKiB * 1024), mebibytes(peak.residentKiB * 1024), mebibytes(after.residentKiB * 1024)));

    check(m_mostRecordingAtOnce == m_options.recordings, QStringLiteral("not every recording ran at the same time"));
    check(m_rangeFigures.failures == 0 && m_rangeFigures.verified > 0, QStringLiteral("viewers saw wrong or missing bytes"));
    check(m_apiFigures.failures == 0, QStringLiteral("API calls failed"));
    check(after.files <= base.files && after.sockets <= base.sockets, QStringLiteral("descriptors leaked"));
    check(after.threads <= base.threads, QStringLiteral("threads were left behind"));
    check(after.residentKiB <= base.residentKiB + kResidentAllowanceKiB,
          QStringLiteral("resident memory stayed %1 above its base").arg(mebibytes((after.residentKiB - base.residentKiB) * 1024)));
    check(exact, QStringLiteral("recorded files differ from the streams"));

    check(m_recorder->endsCleanlyOn(SIGTERM), QStringLiteral("the recorder did not end cleanly on SIGTERM"));
    check(m_provider->openConnections() == 0, QStringLiteral("provider connections still open"));

    say(m_failures.isEmpty() ? QStringLiteral("soak passed") : QStringLiteral("soak FAILED (%1 checks)").arg(m_failures.size()));
    return m_failures.isEmpty() ? 0 : 1;
}
