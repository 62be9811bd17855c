#pragma once

#include <QString>
#include <memory>

// An activity that keeps the computer from idle sleep for as long as it
// exists.
class SleepActivity
{
public:
    virtual ~SleepActivity() = default;
};

// Begins sleep-preventing activities; the platform provides the real one.
class SleepInhibitor
{
public:
    virtual ~SleepInhibitor() = default;
    virtual std::unique_ptr<SleepActivity> begin(const QString &reason) = 0;
};
