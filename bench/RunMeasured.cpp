// Runs a command and writes "cpu=S rss_kib=K wall=W" to REPORT: its CPU
// seconds (user + system, children included), peak resident size and wall
// seconds, from wait4(2).
//
//   run-measured REPORT COMMAND [ARGS...]

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace {

double seconds(const timeval &time)
{
    return double(time.tv_sec) + double(time.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: run-measured REPORT COMMAND [ARGS...]\n");
        return 2;
    }
    const auto startedAt = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[2], argv + 2);
        perror("run-measured");
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child) {
        perror("run-measured");
        return 1;
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - startedAt).count();
    FILE *report = fopen(argv[1], "w");
    if (!report) {
        perror("run-measured");
        return 1;
    }
    fprintf(report, "cpu=%.4f rss_kib=%ld wall=%.4f\n", seconds(usage.ru_utime) + seconds(usage.ru_stime),
            usage.ru_maxrss, wall);
    fclose(report);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
