#pragma once

#include "SleepInhibitor.h"

#include <QDBusConnection>
#include <chrono>

// Keeps the computer from idle sleep with a logind inhibitor lock
// ("sleep:idle", mode "block"), held while its descriptor is open. The lock
// is asked for asynchronously, with a bounded wait, so a slow or missing
// logind never holds up the caller; without logind the hold fails.
class LogindSleepInhibitor : public SleepInhibitor
{
public:
    // Longest wait for logind's answer.
    static constexpr std::chrono::milliseconds kDefaultAnswerWait{5000};

    explicit LogindSleepInhibitor(const QDBusConnection &bus = QDBusConnection::systemBus(),
                                  std::chrono::milliseconds answerWait = kDefaultAnswerWait);

    std::unique_ptr<SleepActivity> begin(const QString &reason, Settled settled) override;

private:
    QDBusConnection m_bus;
    std::chrono::milliseconds m_answerWait;
};
