#pragma once

#include <chrono>

// How long a stream recorder waits in its various situations, reached as
// StreamRecorder::Timing. The defaults are the real values; tests pass short
// ones.
struct StreamRecorderTiming
{
    // Before reconnecting after a failed or ended attempt.
    std::chrono::milliseconds retryDelay{2000};
    // Before asking again a provider whose connections were all in use.
    std::chrono::milliseconds providerFullRetryDelay{5000};
    // Least time between two progress reports.
    std::chrono::milliseconds progressInterval{1000};
    // Longest wait for data on a request before it fails.
    std::chrono::milliseconds requestTimeout{30000};
    // Attempts in a row without data after which the recording fails.
    int failureLimit = 30;
};
