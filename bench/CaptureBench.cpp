// Captures a long stream served at full speed from 127.0.0.1 with a
// StreamRecorder, then the same bytes as an HLS playlist of 2-second segments
// (a finished playlist, fetched as fast as the server sends), then fetches the
// stream with curl, and prints the CPU time and memory of each per GiB.
//
//   capture-bench [GiB to capture, default 4] [folder for the files, default /tmp]
//
// The server runs in a child process, so that the recorder's figures (all
// threads of this process) and curl's (its own process) contain no server work.

#include "StreamRecorder.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr qint64 kGiB = 1024LL * 1024 * 1024;
// Two seconds of an 8 Mbit/s channel.
constexpr qint64 kSegmentBytes = 2'000'000;
constexpr double kMiB = 1024.0 * 1024.0;

struct Figures
{
    double cpuSeconds = 0;
    double wallSeconds = 0;
    double peakMiB = 0;
    qint64 bytes = 0;
};

double seconds(const timeval &time)
{
    return double(time.tv_sec) + double(time.tv_usec) / 1e6;
}

double cpuSeconds(const rusage &usage)
{
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

bool sendAll(int socket, const char *data, size_t length)
{
    while (length > 0) {
        const ssize_t sent = send(socket, data, length, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        data += sent;
        length -= size_t(sent);
    }
    return true;
}

// Sends `length` bytes of the endless repetition of the pattern, from `offset` on.
bool sendPattern(int socket, const std::vector<char> &pattern, qint64 offset, qint64 length)
{
    const qint64 size = qint64(pattern.size());
    while (length > 0) {
        const qint64 start = offset % size;
        const qint64 piece = std::min(length, size - start);
        if (!sendAll(socket, pattern.data() + start, size_t(piece)))
            return false;
        offset += piece;
        length -= piece;
    }
    return true;
}

// The finished playlist that lists the stream's `length` bytes as segments.
std::string hlsPlaylist(qint64 length)
{
    std::string text = "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXT-X-MEDIA-SEQUENCE:0\n";
    for (qint64 i = 0; i * kSegmentBytes < length; ++i)
        text += "#EXTINF:2.0,\nseg" + std::to_string(i) + ".ts\n";
    return text + "#EXT-X-ENDLIST\n";
}

// Answers "/hls/index.m3u8" with the playlist, "/hls/segN.ts" with the N-th
// segment of the stream, and any other path with `length` bytes of a live
// stream (no length header; the end of the body is the end of the
// connection), as fast as the client takes them.
[[noreturn]] void serve(int listener, qint64 length)
{
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    std::vector<char> pattern(4 << 20);
    for (size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = i % 188 == 0 ? char(0x47) : char((i * 2654435761U) >> 13);
    const std::string playlist = hlsPlaylist(length);
    for (;;) {
        const int client = accept(listener, nullptr, nullptr);
        if (client < 0)
            continue;
        std::string head;
        char buffer[4096];
        while (head.find("\r\n\r\n") == std::string::npos) {
            const ssize_t got = recv(client, buffer, sizeof buffer, 0);
            if (got <= 0)
                break;
            head.append(buffer, size_t(got));
        }
        const size_t pathStart = head.find(' ') + 1;
        const std::string path = head.substr(pathStart, head.find(' ', pathStart) - pathStart);
        const auto answer = [](const char *type, qint64 size) {
            return std::string("HTTP/1.1 200 OK\r\nContent-Type: ") + type + "\r\nContent-Length: "
                 + std::to_string(size) + "\r\nConnection: close\r\n\r\n";
        };
        if (path == "/hls/index.m3u8") {
            const std::string text = answer("application/vnd.apple.mpegurl", qint64(playlist.size())) + playlist;
            sendAll(client, text.data(), text.size());
        } else if (path.rfind("/hls/seg", 0) == 0) {
            const qint64 offset = std::atoll(path.c_str() + 8) * kSegmentBytes;
            const qint64 size = std::clamp<qint64>(length - offset, 0, kSegmentBytes);
            const std::string text = answer("video/mp2t", size);
            if (sendAll(client, text.data(), text.size()))
                sendPattern(client, pattern, offset, size);
        } else {
            const std::string text = "HTTP/1.1 200 OK\r\nContent-Type: video/mp2t\r\nConnection: close\r\n\r\n";
            if (sendAll(client, text.data(), text.size()))
                sendPattern(client, pattern, 0, length);
        }
        close(client);
    }
}

// Starts the server child; answers its port.
int startServer(qint64 length, pid_t *child)
{
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr *>(&address), size) != 0 || listen(listener, 16) != 0
        || getsockname(listener, reinterpret_cast<sockaddr *>(&address), &size) != 0) {
        perror("listen");
        return -1;
    }
    *child = fork();
    if (*child == 0)
        serve(listener, length);
    close(listener);
    return ntohs(address.sin_port);
}

// Resident and peak resident memory of this process, in MiB.
double statusMiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(strlen(field))).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

// Heap memory in use by this process (allocated and not yet freed), in MiB;
// unlike the resident size it leaves out what the allocator keeps in reserve.
double heapInUseMiB()
{
    const struct mallinfo2 info = mallinfo2();
    return double(info.uordblks + info.hblkhd) / kMiB;
}

struct MemorySamples
{
    QList<double> rssAtEighths;
    QList<double> heapAtEighths;
    double peakHeap = 0;
};

Figures runRecorder(const QUrl &source, const QString &path, qint64 length, MemorySamples *memory)
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (clearRefs.open(QIODevice::WriteOnly))
        clearRefs.write("5"); // restart the peak at the current size

    StreamRecorder::Timing timing;
    timing.retryDelay = std::chrono::minutes(10); // the stream's end is not retried during the run
    StreamRecorder recorder(source, path, QDateTime::currentDateTimeUtc().addDays(1), std::nullopt, timing);
    Figures figures;
    bool done = false;
    recorder.onFinish = [&](const StreamRecorder::Outcome &, qint64 bytes) {
        figures.bytes = bytes;
        done = true;
    };

    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const auto startedAt = std::chrono::steady_clock::now();
    QString error;
    if (!recorder.start(&error)) {
        fprintf(stderr, "recorder could not start: %s\n", qPrintable(error));
        return figures;
    }
    QTimer watch;
    int eighth = 1;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const qint64 size = QFileInfo(path).size();
        const double heap = heapInUseMiB();
        memory->peakHeap = std::max(memory->peakHeap, heap);
        while (eighth <= 8 && size >= length * eighth / 8) {
            memory->rssAtEighths.append(statusMiB("VmRSS:"));
            memory->heapAtEighths.append(heap);
            ++eighth;
        }
        if (size >= length) {
            watch.stop();
            recorder.stop();
        }
    });
    watch.start(20);
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);

    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    figures.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - startedAt).count();
    figures.cpuSeconds = cpuSeconds(after) - cpuSeconds(before);
    figures.peakMiB = statusMiB("VmHWM:");
    return figures;
}

Figures runCurl(const QUrl &source, const QString &path)
{
    Figures figures;
    const auto startedAt = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        const QByteArray output = QFile::encodeName(path);
        const QByteArray url = source.toEncoded();
        execl("/usr/bin/curl", "curl", "-s", "-o", output.constData(), url.constData(), nullptr);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    figures.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - startedAt).count();
    figures.cpuSeconds = cpuSeconds(usage);
    figures.peakMiB = double(usage.ru_maxrss) / 1024.0;
    figures.bytes = QFileInfo(path).size();
    return figures;
}

bool sameContent(const QString &first, const QString &second)
{
    QFile a(first);
    QFile b(second);
    if (!a.open(QIODevice::ReadOnly) || !b.open(QIODevice::ReadOnly) || a.size() != b.size())
        return false;
    while (!a.atEnd()) {
        if (a.read(8 << 20) != b.read(8 << 20))
            return false;
    }
    return true;
}

void print(const char *name, const Figures &figures)
{
    const double gib = double(figures.bytes) / double(kGiB);
    printf("%-9s %6.2f GiB in %6.2f s (%7.1f MiB/s)  CPU %6.2f s = %5.3f s/GiB  peak RSS %6.1f MiB\n", name, gib,
           figures.wallSeconds, double(figures.bytes) / kMiB / figures.wallSeconds, figures.cpuSeconds,
           figures.cpuSeconds / gib, figures.peakMiB);
}

} // namespace

int main(int argc, char **argv)
{
    const double gib = argc > 1 ? atof(argv[1]) : 4.0;
    const qint64 length = qint64(gib * double(kGiB));
    pid_t server = 0;
    const int port = startServer(length, &server); // before any thread exists
    if (port < 0)
        return 1;

    QCoreApplication app(argc, argv);
    QTemporaryDir folder(QString::fromLocal8Bit(argc > 2 ? argv[2] : "/tmp") + QStringLiteral("/capture-bench-XXXXXX"));
    const QUrl source(QStringLiteral("http://127.0.0.1:%1/live/bench/1.ts").arg(port));
    const QUrl playlist(QStringLiteral("http://127.0.0.1:%1/hls/index.m3u8").arg(port));
    const QString recorded = folder.filePath(QStringLiteral("recorder.ts"));
    const QString recordedHLS = folder.filePath(QStringLiteral("recorder-hls.ts"));
    const QString fetched = folder.filePath(QStringLiteral("curl.ts"));

    printf("baseline RSS before capture: %.1f MiB\n", statusMiB("VmRSS:"));
    MemorySamples memory;
    const double heapBefore = heapInUseMiB();
    const Figures recorder = runRecorder(source, recorded, length, &memory);
    MemorySamples hlsMemory;
    const Figures hls = runRecorder(playlist, recordedHLS, length, &hlsMemory);
    const Figures curl = runCurl(source, fetched);
    const bool identical = recorder.bytes == length && sameContent(recorded, fetched);
    const bool identicalHLS = hls.bytes == length && sameContent(recordedHLS, fetched);

    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);

    print("recorder", recorder);
    print("hls", hls);
    print("curl", curl);
    printf("recorder RSS after each eighth of the stream:");
    for (double rss : memory.rssAtEighths)
        printf(" %.1f", rss);
    printf(" MiB\n");
    printf("recorder heap in use before: %.1f MiB; after each eighth:", heapBefore);
    for (double heap : memory.heapAtEighths)
        printf(" %.1f", heap);
    printf(" MiB; highest sample %.1f MiB\n", memory.peakHeap);
    printf("CPU per GiB, recorder / curl: %.2f\n",
           (recorder.cpuSeconds / double(recorder.bytes)) / (curl.cpuSeconds / double(curl.bytes)));
    printf("CPU per GiB, HLS (%.1f MB segments) / direct: %.2f; HLS highest heap sample %.1f MiB\n",
           double(kSegmentBytes) / 1e6, (hls.cpuSeconds / double(hls.bytes)) / (recorder.cpuSeconds / double(recorder.bytes)),
           hlsMemory.peakHeap);
    printf("files identical: direct %s, HLS %s\n", identical ? "yes" : "NO", identicalHLS ? "yes" : "NO");
    return identical && identicalHLS ? 0 : 1;
}
