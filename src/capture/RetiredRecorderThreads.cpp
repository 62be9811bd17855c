#include "RetiredRecorderThreads.h"

#include <QCoreApplication>
#include <QMutex>
#include <QThread>
#include <vector>

namespace {

struct Retired
{
    QMutex mutex;
    std::vector<std::unique_ptr<QThread>> threads;
    bool waitsAtExit = false;
};

Retired &retired()
{
    static Retired instance;
    return instance;
}

} // namespace

void RetiredRecorderThreads::retire(std::unique_ptr<QThread> thread)
{
    thread->quit();
    Retired &state = retired();
    const QMutexLocker locker(&state.mutex);
    // Threads that have ended meanwhile are let go, so the list stays as
    // short as the number of recorders still winding down.
    std::erase_if(state.threads, [](const std::unique_ptr<QThread> &t) { return t->wait(0); });
    state.threads.push_back(std::move(thread));
    if (!state.waitsAtExit) {
        state.waitsAtExit = true;
        qAddPostRoutine(&RetiredRecorderThreads::waitForAll);
    }
}

void RetiredRecorderThreads::waitForAll()
{
    Retired &state = retired();
    std::vector<std::unique_ptr<QThread>> threads;
    {
        const QMutexLocker locker(&state.mutex);
        threads.swap(state.threads);
    }
    for (const auto &thread : threads)
        thread->wait();
}
