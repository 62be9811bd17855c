#pragma once

#include "HelperRegistration.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <chrono>

class QDBusError;
class QDBusMessage;

// The wake helper's registration with systemd over D-Bus
// (org.freedesktop.systemd1). The helper is registered when its socket unit
// is enabled; registering enables and starts that unit, unregistering
// disables it and stops the socket and the service. systemd asks polkit
// whether the user may do so, and polkit may ask for an administrator's
// password; a refusal leaves the registration awaiting approval, which
// registering again (another prompt) or an administrator's systemctl gives.
class SystemdHelperRegistration : public HelperRegistration
{
public:
    static constexpr char kSocketUnit[] = "tivolux-recorder-helper.socket";
    static constexpr char kServiceUnit[] = "tivolux-recorder-helper.service";

    struct Timing
    {
        // A state query answers at once; nobody is asked.
        std::chrono::milliseconds queryTimeout{5000};
        // Enabling and disabling may wait for a person to authenticate.
        std::chrono::milliseconds authorisationTimeout{120000};
    };

    SystemdHelperRegistration();
    explicit SystemdHelperRegistration(const QDBusConnection &bus);
    SystemdHelperRegistration(const QDBusConnection &bus, Timing timing);

    Status status() override;
    void readStatus(std::function<void(Status)> done) override;
    void registerService(Completion completion) override;
    void unregisterService(Completion completion) override;
    // There is no settings page to open: the approval is given in the
    // authorisation prompt that registering raises, or by an administrator.
    void openApprovalSettings() override {}
    QString approvalText() const override;
    // What an administrator runs to allow the helper without a prompt.
    static QString approvalCommand();

private:
    QDBusMessage managerCall(const QString &method) const;
    QDBusMessage stateQuery() const;
    // The status the answer to the state query gives.
    Status statusOf(const QString &unitFileState);
    Status statusOf(const QDBusError &error) const;
    // Sends the call asynchronously, allowing polkit to ask the user, and
    // hands its error (if any) to done on the main thread.
    void callAuthorised(const QDBusMessage &call, std::function<void(const QDBusError &error)> done);
    void startSocket(Completion completion);
    void stopUnits(Completion completion);

    QDBusConnection m_bus;
    Timing m_timing;
    bool m_awaitingApproval = false;
    // Owns the calls in flight, so that none answers after destruction.
    QObject m_calls;
};
