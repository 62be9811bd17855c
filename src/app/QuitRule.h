#pragma once

#include <QTimer>
#include <chrono>
#include <functional>

class RecordingManager;

// How long the process lives on after telling running recorders to stop, so
// that they can close their files and the index can record their end.
inline constexpr std::chrono::milliseconds kQuitDelay{1500};

// The quit rule of both front ends: with nothing recording the process ends
// at once; otherwise running recorders are told to stop and the process ends
// after the quit delay. Once stopping, further requests change nothing.
class QuitRule
{
public:
    // `terminate` ends the process; default: leaves the application's event loop.
    explicit QuitRule(std::function<void()> terminate = {}, std::chrono::milliseconds delay = kQuitDelay);

    // With recordings running, `confirm` (when given) is asked first with
    // their number; a no keeps everything running.
    void quit(RecordingManager &manager, const std::function<bool(int running)> &confirm = {});
    // For an end nobody can answer (logout, a termination signal on the
    // desktop): running recordings are also saved as stopped at once, in
    // case the process is ended before they report.
    void quitSavingAtOnce(RecordingManager &manager);

private:
    void apply(RecordingManager &manager, const std::function<bool(int)> &confirm, bool saveAtOnce);
    void terminate();

    std::function<void()> m_terminate;
    QTimer m_delay;
    bool m_stopping = false;
};
