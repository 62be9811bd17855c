#pragma once

#include <QDateTime>
#include <sys/types.h>

// The system's keeper of wake events. Every wake belongs to the user id of
// the client that asked for it: a user reaches only the wakes of its own.
// Both calls answer a return code: 0 on success, otherwise a negative error
// number.
class PowerManager
{
public:
    virtual ~PowerManager() = default;

    // Arms a wake of the computer at the date; 0 only when it is armed.
    virtual int scheduleWake(const QDateTime &date, uid_t owner) = 0;
    // Removes the owner's wake armed at the date.
    virtual int cancelWake(const QDateTime &date, uid_t owner) = 0;
};
