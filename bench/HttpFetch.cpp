// One HTTP GET on one connection to 127.0.0.1, body read and dropped.
// Prints "status=S bytes=N seconds=T ttfb_ms=F": the status code, the body
// bytes received, the seconds from connecting to the last byte, and the
// milliseconds from connecting to the first body byte.
//
//   http-fetch PORT PATH [RANGE]      (RANGE as in "bytes=0-1048575")

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: http-fetch PORT PATH [RANGE]\n");
        return 2;
    }
    using Clock = std::chrono::steady_clock;
    const auto startedAt = Clock::now();
    const int sock = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(atoi(argv[1])));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(sock, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        perror("http-fetch: connect");
        return 1;
    }
    std::string request = std::string("GET ") + argv[2] + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (argc > 3)
        request += std::string("Range: ") + argv[3] + "\r\n";
    request += "Connection: close\r\n\r\n";
    if (send(sock, request.data(), request.size(), MSG_NOSIGNAL) != ssize_t(request.size())) {
        perror("http-fetch: send");
        return 1;
    }
    std::vector<char> buffer(4 << 20);
    std::string head;
    long long body = 0;
    Clock::time_point firstByte{};
    bool inBody = false;
    for (;;) {
        const ssize_t got = recv(sock, buffer.data(), buffer.size(), 0);
        if (got <= 0)
            break;
        if (inBody) {
            if (body == 0)
                firstByte = Clock::now();
            body += got;
            continue;
        }
        head.append(buffer.data(), size_t(got));
        const size_t end = head.find("\r\n\r\n");
        if (end == std::string::npos)
            continue;
        inBody = true;
        body = (long long)(head.size() - end - 4);
        head.resize(end);
        if (body > 0)
            firstByte = Clock::now();
    }
    const auto endedAt = Clock::now();
    close(sock);
    if (!inBody) {
        fprintf(stderr, "http-fetch: no response header\n");
        return 1;
    }
    if (firstByte == Clock::time_point{}) {
        fprintf(stderr, "http-fetch: empty body\n");
        return 1;
    }
    const int status = head.size() > 12 ? atoi(head.c_str() + 9) : 0;
    printf("status=%d bytes=%lld seconds=%.6f ttfb_ms=%.3f\n", status, body,
           std::chrono::duration<double>(endedAt - startedAt).count(),
           std::chrono::duration<double, std::milli>(firstByte - startedAt).count());
    return 0;
}
