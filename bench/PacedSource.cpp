// A live relay as IPTV providers run them, for scripts/bench: every client
// gets "200 OK" and then a steady trickle of small writes, one per tick, with
// no length (the body ends only when the connection does). One thread, one
// epoll loop, one timer, so that it costs little next to what it feeds.
//
//   paced-source serve [--rate BYTES_PER_S] [--tick MS] [--file TS_FILE]
//     Listens on 127.0.0.1 and a free port and prints "port=N". Sends the
//     file's bytes, looped (so FFmpeg sees a real transport stream), or
//     without --file packets whose first bytes carry the monotonic time of
//     their write (for "latency"). Defaults: 1000000 bytes/s, 10 ms ticks.
//     On SIGTERM or SIGINT prints "cpu_s=C wall_s=W clients=N" and ends.
//   paced-source latency FILE SECONDS
//     Watches FILE, a capture of the stamped stream, and prints for each
//     stamped packet that appeared in it the time from the source's write to
//     the file's growth: "latency_ms_median=A latency_ms_p99=B
//     latency_ms_max=C samples=N".

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr size_t kPacketSize = 188;
// A stamped packet: the sync byte, a marker and the write time in ns.
constexpr unsigned char kStampMarker[3] = {'T', 'S', 'Q'};
constexpr size_t kStampSize = 1 + sizeof(kStampMarker) + sizeof(int64_t);
// A client may fall this far behind before it is dropped, like a relay does.
constexpr size_t kLongestBacklog = 8 * 1024 * 1024;

volatile sig_atomic_t g_stop = 0;

int64_t monotonicNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
         + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Client
{
    std::string request;
    bool streaming = false;
    uint64_t sent = 0;       // stream bytes handed to the socket
    std::string backlog;     // bytes the socket did not take yet
};

class Source
{
public:
    Source(size_t chunk, std::vector<char> file) : m_chunk(chunk), m_file(std::move(file)) {}

    // The next chunk of the stream for a client that has had `sent` bytes.
    std::string chunkAt(uint64_t sent) const
    {
        std::string bytes(m_chunk, '\0');
        if (!m_file.empty()) {
            for (size_t i = 0; i < m_chunk; ++i)
                bytes[i] = m_file[(sent + i) % m_file.size()];
            return bytes;
        }
        const int64_t now = monotonicNanoseconds();
        for (size_t i = 0; i < m_chunk; ++i) {
            const uint64_t position = sent + i;
            bytes[i] = position % kPacketSize == 0 ? char(0x47) : char((position * 2654435761u) >> 24);
        }
        // Every packet that starts in this chunk carries the write time.
        const uint64_t firstPacket = (sent + kPacketSize - 1) / kPacketSize * kPacketSize;
        for (uint64_t start = firstPacket; start + kStampSize <= sent + m_chunk; start += kPacketSize) {
            char *p = bytes.data() + (start - sent) + 1;
            memcpy(p, kStampMarker, sizeof(kStampMarker));
            memcpy(p + sizeof(kStampMarker), &now, sizeof(now));
        }
        return bytes;
    }

private:
    size_t m_chunk;
    std::vector<char> m_file;
};

const char kHead[] = "HTTP/1.1 200 OK\r\nContent-Type: video/mp2t\r\nConnection: close\r\n\r\n";

// Hands bytes to the socket; answers false when the client is gone or too
// far behind.
bool push(int fd, Client &client, const std::string &bytes)
{
    client.backlog += bytes;
    while (!client.backlog.empty()) {
        const ssize_t n = send(fd, client.backlog.data(), client.backlog.size(), MSG_NOSIGNAL);
        if (n < 0)
            return errno == EAGAIN && client.backlog.size() <= kLongestBacklog;
        client.backlog.erase(0, size_t(n));
    }
    return true;
}

void onSignal(int)
{
    g_stop = 1;
}

int serve(long rate, long tickMs, const char *filePath)
{
    std::vector<char> file;
    if (filePath) {
        FILE *in = fopen(filePath, "rb");
        if (!in) {
            perror(filePath);
            return 1;
        }
        char buffer[65536];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, in)) > 0)
            file.insert(file.end(), buffer, buffer + n);
        fclose(in);
    }
    const size_t chunk = size_t(std::max<long>(1, rate * tickMs / 1000));
    const Source source(chunk, std::move(file));

    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    const int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || listen(listener, 512) != 0
        || getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        perror("paced-source");
        return 1;
    }
    printf("port=%d\n", ntohs(address.sin_port));
    fflush(stdout);

    const int timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK);
    itimerspec interval{};
    interval.it_interval.tv_sec = tickMs / 1000;
    interval.it_interval.tv_nsec = (tickMs % 1000) * 1000000;
    interval.it_value = interval.it_interval;
    timerfd_settime(timer, 0, &interval, nullptr);

    const int poller = epoll_create1(0);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = listener;
    epoll_ctl(poller, EPOLL_CTL_ADD, listener, &event);
    event.data.fd = timer;
    epoll_ctl(poller, EPOLL_CTL_ADD, timer, &event);

    signal(SIGTERM, onSignal);
    signal(SIGINT, onSignal);
    signal(SIGPIPE, SIG_IGN);
    const double cpuAtStart = cpuSeconds();
    const int64_t startedAt = monotonicNanoseconds();
    std::map<int, Client> clients;
    int served = 0;
    const auto drop = [&](int fd) {
        clients.erase(fd);
        close(fd);
    };

    epoll_event events[64];
    while (!g_stop) {
        const int ready = epoll_wait(poller, events, 64, 500);
        for (int i = 0; i < ready; ++i) {
            const int fd = events[i].data.fd;
            if (fd == listener) {
                int accepted;
                while ((accepted = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK)) >= 0) {
                    clients[accepted] = Client{};
                    event.events = EPOLLIN | EPOLLRDHUP;
                    event.data.fd = accepted;
                    epoll_ctl(poller, EPOLL_CTL_ADD, accepted, &event);
                }
            } else if (fd == timer) {
                uint64_t expirations = 0;
                if (read(timer, &expirations, sizeof expirations) < 0)
                    continue;
                std::vector<int> gone;
                for (auto &[clientFd, client] : clients) {
                    if (!client.streaming)
                        continue;
                    const std::string bytes = source.chunkAt(client.sent);
                    client.sent += bytes.size();
                    if (!push(clientFd, client, bytes))
                        gone.push_back(clientFd);
                }
                for (const int clientFd : gone)
                    drop(clientFd);
            } else {
                auto found = clients.find(fd);
                if (found == clients.end())
                    continue;
                char buffer[4096];
                const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    if (n == 0 || errno != EAGAIN)
                        drop(fd);
                    continue;
                }
                Client &client = found->second;
                if (client.streaming)
                    continue; // a client says nothing more after its request
                client.request.append(buffer, size_t(n));
                if (client.request.find("\r\n\r\n") != std::string::npos) {
                    client.streaming = true;
                    ++served;
                    if (!push(fd, client, kHead))
                        drop(fd);
                } else if (client.request.size() > 65536) {
                    drop(fd);
                }
            }
        }
    }
    const double wall = double(monotonicNanoseconds() - startedAt) / 1e9;
    printf("cpu_s=%.3f wall_s=%.3f clients=%d\n", cpuSeconds() - cpuAtStart, wall, served);
    return 0;
}

// Finds the stamps in bytes that begin at file offset `offset`.
void collectStamps(const std::vector<char> &bytes, int64_t now, std::vector<double> &latencies)
{
    for (size_t i = 0; i + kStampSize <= bytes.size(); ++i) {
        if (bytes[i] != char(0x47) || memcmp(&bytes[i + 1], kStampMarker, sizeof(kStampMarker)) != 0)
            continue;
        int64_t writtenAt = 0;
        memcpy(&writtenAt, &bytes[i + 1 + sizeof(kStampMarker)], sizeof(writtenAt));
        latencies.push_back(double(now - writtenAt) / 1e6);
    }
}

int latency(const char *path, double seconds)
{
    const int64_t endAt = monotonicNanoseconds() + int64_t(seconds * 1e9);
    std::vector<double> latencies;
    off_t seen = -1;
    std::vector<char> carry; // a stamp cut by the end of the last read
    while (monotonicNanoseconds() < endAt) {
        struct stat status{};
        if (stat(path, &status) == 0 && status.st_size > seen) {
            const int64_t now = monotonicNanoseconds();
            if (seen < 0) {
                seen = status.st_size; // only data that arrives while watching counts
                continue;
            }
            const int fd = open(path, O_RDONLY);
            std::vector<char> bytes(size_t(status.st_size - seen));
            const ssize_t n = fd >= 0 ? pread(fd, bytes.data(), bytes.size(), seen) : -1;
            if (fd >= 0)
                close(fd);
            if (n > 0) {
                bytes.resize(size_t(n));
                bytes.insert(bytes.begin(), carry.begin(), carry.end());
                collectStamps(bytes, now, latencies);
                const size_t keep = std::min(bytes.size(), kStampSize - 1);
                carry.assign(bytes.end() - long(keep), bytes.end());
                seen += n;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (latencies.empty()) {
        printf("samples=0\n");
        return 1;
    }
    std::sort(latencies.begin(), latencies.end());
    const auto at = [&](double q) {
        return latencies[std::min(latencies.size() - 1, size_t(q * double(latencies.size())))];
    };
    printf("latency_ms_median=%.1f latency_ms_p99=%.1f latency_ms_max=%.1f samples=%zu\n", at(0.5), at(0.99),
           latencies.back(), latencies.size());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 2 && strcmp(argv[1], "serve") == 0) {
        long rate = 1000000;
        long tick = 10;
        const char *file = nullptr;
        for (int i = 2; i + 1 < argc; i += 2) {
            if (strcmp(argv[i], "--rate") == 0)
                rate = atol(argv[i + 1]);
            else if (strcmp(argv[i], "--tick") == 0)
                tick = atol(argv[i + 1]);
            else if (strcmp(argv[i], "--file") == 0)
                file = argv[i + 1];
        }
        if (rate > 0 && tick > 0)
            return serve(rate, tick, file);
    }
    if (argc == 4 && strcmp(argv[1], "latency") == 0)
        return latency(argv[2], atof(argv[3]));
    fprintf(stderr, "usage: paced-source serve [--rate B/S] [--tick MS] [--file TS] | paced-source latency FILE S\n");
    return 2;
}
