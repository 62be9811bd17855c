#pragma once

#include "HelperRegistration.h"

#include <utility>

// A registration whose state the test sets and whose requests it watches.
class FakeRegistration : public HelperRegistration
{
public:
    Status status() override { return state; }

    void registerService(Completion completion) override
    {
        ++registerRequests;
        answer(std::move(completion), stateAfterRegister, registerFailure);
    }

    void unregisterService(Completion completion) override
    {
        ++unregisterRequests;
        if (onUnregister)
            onUnregister();
        answer(std::move(completion), Status::NotRegistered, std::nullopt);
    }

    void openApprovalSettings() override { ++settingsOpened; }
    QString approvalText() const override { return QStringLiteral("Allow it over there."); }

    // Answers a request held back by deferAnswers.
    void answerPending()
    {
        state = pendingState;
        std::exchange(pending, nullptr)(pendingFailure);
    }

    Status state = Status::NotRegistered;
    Status stateAfterRegister = Status::Enabled;
    std::optional<QString> registerFailure;
    bool deferAnswers = false;
    std::function<void()> onUnregister;

    int registerRequests = 0;
    int unregisterRequests = 0;
    int settingsOpened = 0;

private:
    // The system's answer changes the state, then the requester hears of it.
    void answer(Completion completion, Status newState, const std::optional<QString> &failure)
    {
        if (!deferAnswers) {
            state = newState;
            completion(failure);
            return;
        }
        pending = std::move(completion);
        pendingState = newState;
        pendingFailure = failure;
    }

    Completion pending;
    Status pendingState = Status::NotRegistered;
    std::optional<QString> pendingFailure;
};
