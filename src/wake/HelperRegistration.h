#pragma once

#include <QString>
#include <functional>
#include <optional>

// The operating system's registration of the privileged wake helper: whether
// the system will start the helper for the application, and the means to ask
// for it or withdraw it. The platform provides the real one.
class HelperRegistration
{
public:
    enum class Status {
        NotRegistered,    // installed, not enabled
        Enabled,          // the system starts the helper on demand
        RequiresApproval, // enabling needs an authorisation that was not given
        NotFound,         // the helper is not installed
    };

    // Called once when a request has ended: the failure's description, or
    // nothing on success. May be called before the request returns.
    using Completion = std::function<void(const std::optional<QString> &failure)>;

    virtual ~HelperRegistration() = default;

    // The status, waiting for the system's answer.
    virtual Status status() = 0;
    // The status without waiting: done receives it once, at once or later
    // on the calling thread.
    virtual void readStatus(std::function<void(Status)> done) { done(status()); }
    virtual void registerService(Completion completion) = 0;
    virtual void unregisterService(Completion completion) = 0;
    // Shows the user where the pending approval is given, where the system
    // has such a place.
    virtual void openApprovalSettings() = 0;
    // One sentence telling the user where to allow the helper.
    virtual QString approvalText() const = 0;
};
