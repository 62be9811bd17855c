#pragma once

#include <memory>

class QThread;

// Threads of recorders that have gone away but may still be winding down.
// Tearing down a capture's HTTP client can take seconds when a provider
// misbehaves (Qt waits up to 5 s for its own HTTP thread), and the thread
// that owns the recorders also runs the manager and the API, so it never
// waits for them. They are waited for when the application object goes
// away, so no capture thread outlives the process's orderly end.
namespace RetiredRecorderThreads {

// Ends the thread's event loop and keeps the thread until it has finished.
void retire(std::unique_ptr<QThread> thread);

// Waits for every retired thread to finish and deletes it.
void waitForAll();

} // namespace RetiredRecorderThreads
