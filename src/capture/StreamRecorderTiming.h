#pragma once

#include "HLSPlaylist.h"

#include <QDateTime>
#include <QtGlobal>
#include <chrono>
#include <functional>

// How long a stream recorder waits in its various situations, and the limits
// it keeps, reached as StreamRecorder::Timing. The defaults are the real
// values; tests pass short ones.
struct StreamRecorderTiming
{
    // Before reconnecting after a failed or ended attempt, and before the
    // next pass of the HLS loop after a failed one.
    std::chrono::milliseconds retryDelay{2000};
    // Before asking again a provider whose connections were all in use (the
    // direct path; the HLS loop asks again after retryDelay).
    std::chrono::milliseconds providerFullRetryDelay{5000};
    // Least time between two progress reports.
    std::chrono::milliseconds progressInterval{1000};
    // Longest wait for data on a request before it fails.
    std::chrono::milliseconds requestTimeout{30000};
    // Least time between two polls of a live HLS playlist.
    std::chrono::milliseconds minimumPollDelay = kMinimumPollDelay;
    // Attempts in a row without data after which the recording fails.
    int failureLimit = 30;
    // Largest HLS playlist or segment body held in memory before it is used.
    qint64 maximumBodySize = 256LL * 1024 * 1024;
    // The wall clock against which the end date and the gaps are measured,
    // called on the recorder's thread; empty means the system's.
    std::function<QDateTime()> now;
    // The monotonic clock that paces the progress reports, called on the
    // recorder's thread; empty means std::chrono::steady_clock.
    std::function<std::chrono::steady_clock::time_point()> steadyNow;
};
