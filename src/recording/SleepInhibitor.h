#pragma once

#include <QString>
#include <functional>
#include <memory>

// An activity that keeps the computer from idle sleep for as long as it
// exists and its hold is in place. Asking the system for the hold takes a
// moment and may fail.
class SleepActivity
{
public:
    enum class State {
        Pending, // the system has not answered yet
        Held,    // the computer is kept awake
        Failed,  // the system refused or did not answer in time
    };

    virtual ~SleepActivity() = default;
    virtual State state() const = 0;
    // Why the hold failed; empty unless Failed.
    virtual QString failure() const = 0;
};

// Begins sleep-preventing activities; the platform provides the real one.
class SleepInhibitor
{
public:
    // Called on the beginning thread once the activity's state has settled
    // (held or failed), never from within begin().
    using Settled = std::function<void()>;

    virtual ~SleepInhibitor() = default;
    virtual std::unique_ptr<SleepActivity> begin(const QString &reason, Settled settled) = 0;
};
