#pragma once

#include <QDateTime>

// The system's keeper of wake events. Both calls answer a return code:
// 0 on success, otherwise a negative error number.
class PowerManager
{
public:
    virtual ~PowerManager() = default;

    // Arms a wake of the computer at the date.
    virtual int scheduleWake(const QDateTime &date) = 0;
    // Removes the wake armed at the date by this helper.
    virtual int cancelWake(const QDateTime &date) = 0;
};
