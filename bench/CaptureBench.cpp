// Captures with the real StreamRecorder, for scripts/bench.
//
//   capture-bench once URL FILE BYTES
//     Captures URL into FILE until the file holds BYTES bytes, or until the
//     recorder ends by itself (a finished HLS playlist), then stops and
//     prints "bytes=N rss_kib=R1,...,R8": the bytes captured and the
//     resident size after each eighth of BYTES.
//   capture-bench many N URL FOLDER
//     Captures N streams of URL (told apart by a query) into FOLDER and
//     prints "ready" once all have started; runs until it is killed.

#include "StreamRecorder.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

// A capture that stops growing for this long has failed.
constexpr std::chrono::seconds kLongestStall{20};

// Resident size of this process in KiB.
long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

StreamRecorder::Timing benchTiming()
{
    StreamRecorder::Timing timing;
    // The end of a served file is the end of the run, not a reason to retry.
    timing.retryDelay = std::chrono::minutes(10);
    return timing;
}

int captureOnce(const QUrl &source, const QString &path, qint64 length)
{
    StreamRecorder recorder(source, path, QDateTime::currentDateTimeUtc().addDays(1), std::nullopt, benchTiming());
    qint64 captured = -1;
    recorder.onFinish = [&](const StreamRecorder::Outcome &, qint64 bytes) {
        captured = bytes;
        QCoreApplication::quit();
    };
    QString error;
    if (!recorder.start(&error)) {
        fprintf(stderr, "capture-bench: could not start: %s\n", qPrintable(error));
        return 1;
    }
    std::vector<long> rss;
    QTimer watch;
    qint64 lastSize = -1;
    auto lastGrowth = std::chrono::steady_clock::now();
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const qint64 size = QFileInfo(path).size();
        const auto now = std::chrono::steady_clock::now();
        if (size != lastSize) {
            lastSize = size;
            lastGrowth = now;
        } else if (now - lastGrowth > kLongestStall) {
            fprintf(stderr, "capture-bench: no data for %lld s\n", static_cast<long long>(kLongestStall.count()));
            watch.stop();
            recorder.stop();
            return;
        }
        while (rss.size() < 8 && size >= length * qint64(rss.size() + 1) / 8)
            rss.push_back(residentKiB());
        if (size >= length) {
            watch.stop();
            recorder.stop();
        }
    });
    watch.start(10);
    QCoreApplication::exec();
    printf("bytes=%lld rss_kib=", static_cast<long long>(captured));
    for (size_t i = 0; i < rss.size(); ++i)
        printf("%s%ld", i ? "," : "", rss[i]);
    printf("\n");
    return captured > 0 && lastSize >= length ? 0 : 1;
}

int captureMany(int count, const QUrl &source, const QString &folder)
{
    std::vector<std::unique_ptr<StreamRecorder>> recorders;
    for (int i = 0; i < count; ++i) {
        QUrl url = source;
        QUrlQuery query(url);
        query.addQueryItem(QStringLiteral("n"), QString::number(i));
        url.setQuery(query);
        const QString path = QDir(folder).filePath(QStringLiteral("stream-%1.ts").arg(i));
        auto recorder = std::make_unique<StreamRecorder>(url, path, QDateTime::currentDateTimeUtc().addDays(1),
                                                         std::nullopt, benchTiming());
        QString error;
        if (!recorder->start(&error)) {
            fprintf(stderr, "capture-bench: could not start: %s\n", qPrintable(error));
            return 1;
        }
        recorders.push_back(std::move(recorder));
    }
    printf("ready\n");
    fflush(stdout);
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == QLatin1String("once"))
        return captureOnce(QUrl(args[2]), args[3], args[4].toLongLong());
    if (args.size() == 5 && args[1] == QLatin1String("many"))
        return captureMany(args[2].toInt(), QUrl(args[3]), args[4]);
    fprintf(stderr, "usage: capture-bench once URL FILE BYTES | capture-bench many N URL FOLDER\n");
    return 2;
}
