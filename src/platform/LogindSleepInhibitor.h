#pragma once

#include "SleepInhibitor.h"

// Keeps the computer from idle sleep with a logind inhibitor lock
// ("sleep:idle", mode "block"), held while its descriptor is open. Without
// logind on the system bus the hold is simply unavailable.
class LogindSleepInhibitor : public SleepInhibitor
{
public:
    std::unique_ptr<SleepActivity> begin(const QString &reason) override;
};
