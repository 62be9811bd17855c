#include "SystemdHelperRegistration.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QStringList>

namespace {

const QString kSystemdService = QStringLiteral("org.freedesktop.systemd1");
const QString kSystemdPath = QStringLiteral("/org/freedesktop/systemd1");
const QString kManagerInterface = QStringLiteral("org.freedesktop.systemd1.Manager");

bool isAuthorisationRefusal(const QDBusError &error)
{
    return error.type() == QDBusError::AccessDenied
        || error.name() == QLatin1String("org.freedesktop.DBus.Error.InteractiveAuthorizationRequired");
}

// No unit file, or no systemd to ask: the helper cannot be found.
bool meansNotFound(const QDBusError &error)
{
    return error.name() == QLatin1String("org.freedesktop.systemd1.NoSuchUnit")
        || error.name() == QLatin1String("org.freedesktop.DBus.Error.FileNotFound")
        || error.type() == QDBusError::ServiceUnknown
        || error.type() == QDBusError::NoServer || error.type() == QDBusError::Disconnected;
}

} // namespace

SystemdHelperRegistration::SystemdHelperRegistration()
    : SystemdHelperRegistration(QDBusConnection::systemBus())
{
}

SystemdHelperRegistration::SystemdHelperRegistration(const QDBusConnection &bus)
    : SystemdHelperRegistration(bus, Timing{})
{
}

SystemdHelperRegistration::SystemdHelperRegistration(const QDBusConnection &bus, Timing timing)
    : m_bus(bus)
    , m_timing(timing)
{
}

QDBusMessage SystemdHelperRegistration::managerCall(const QString &method) const
{
    return QDBusMessage::createMethodCall(kSystemdService, kSystemdPath, kManagerInterface, method);
}

QDBusMessage SystemdHelperRegistration::stateQuery() const
{
    QDBusMessage call = managerCall(QStringLiteral("GetUnitFileState"));
    call << QString::fromLatin1(kSocketUnit);
    return call;
}

HelperRegistration::Status SystemdHelperRegistration::status()
{
    if (!m_bus.isConnected())
        return Status::NotFound;
    const QDBusReply<QString> reply = m_bus.call(stateQuery(), QDBus::Block, int(m_timing.queryTimeout.count()));
    return reply.isValid() ? statusOf(reply.value()) : statusOf(reply.error());
}

void SystemdHelperRegistration::readStatus(std::function<void(Status)> done)
{
    if (!m_bus.isConnected())
        return done(Status::NotFound);
    auto *watcher =
        new QDBusPendingCallWatcher(m_bus.asyncCall(stateQuery(), int(m_timing.queryTimeout.count())), &m_calls);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [this, watcher, done = std::move(done)] {
        watcher->deleteLater();
        const QDBusPendingReply<QString> reply = *watcher;
        done(reply.isError() ? statusOf(reply.error()) : statusOf(reply.value()));
    });
}

HelperRegistration::Status SystemdHelperRegistration::statusOf(const QString &unitFileState)
{
    if (unitFileState == QLatin1String("enabled") || unitFileState == QLatin1String("enabled-runtime")) {
        m_awaitingApproval = false;
        return Status::Enabled;
    }
    return m_awaitingApproval ? Status::RequiresApproval : Status::NotRegistered;
}

HelperRegistration::Status SystemdHelperRegistration::statusOf(const QDBusError &error) const
{
    if (meansNotFound(error))
        return Status::NotFound;
    return m_awaitingApproval ? Status::RequiresApproval : Status::NotRegistered;
}

QString SystemdHelperRegistration::approvalText() const
{
    // Short enough for the window's row; "Open Settings" explains the rest.
    return QStringLiteral("Allow “Tivolux Recorder” when asked for an administrator’s password.");
}

QString SystemdHelperRegistration::approvalCommand()
{
    return QStringLiteral("sudo systemctl enable --now %1").arg(QString::fromLatin1(kSocketUnit));
}

void SystemdHelperRegistration::callAuthorised(const QDBusMessage &call,
                                               std::function<void(const QDBusError &error)> done)
{
    if (!m_bus.isConnected()) {
        // Without a bus a call would never answer: fail at once instead.
        const QDBusError busError = m_bus.lastError();
        done(busError.isValid() ? busError
                                : QDBusError(QDBusError::Disconnected, QStringLiteral("The system bus is not reachable.")));
        return;
    }
    QDBusMessage message = call;
    message.setInteractiveAuthorizationAllowed(true);
    auto *watcher = new QDBusPendingCallWatcher(
        m_bus.asyncCall(message, int(m_timing.authorisationTimeout.count())), &m_calls);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [watcher, done = std::move(done)] {
                         watcher->deleteLater();
                         done(watcher->isError() ? watcher->error() : QDBusError());
                     });
}

void SystemdHelperRegistration::registerService(Completion completion)
{
    QDBusMessage enable = managerCall(QStringLiteral("EnableUnitFiles"));
    enable << QStringList{QString::fromLatin1(kSocketUnit)} << false << false;
    callAuthorised(enable, [this, completion = std::move(completion)](const QDBusError &error) {
        if (error.isValid()) {
            if (isAuthorisationRefusal(error))
                m_awaitingApproval = true;
            completion(error.message());
            return;
        }
        m_awaitingApproval = false;
        startSocket(completion);
    });
}

void SystemdHelperRegistration::startSocket(Completion completion)
{
    QDBusMessage start = managerCall(QStringLiteral("StartUnit"));
    start << QString::fromLatin1(kSocketUnit) << QStringLiteral("replace");
    callAuthorised(start, [completion = std::move(completion)](const QDBusError &error) {
        completion(error.isValid() ? std::optional<QString>(error.message()) : std::nullopt);
    });
}

void SystemdHelperRegistration::unregisterService(Completion completion)
{
    m_awaitingApproval = false;
    QDBusMessage disable = managerCall(QStringLiteral("DisableUnitFiles"));
    disable << QStringList{QString::fromLatin1(kSocketUnit)} << false;
    callAuthorised(disable, [this, completion = std::move(completion)](const QDBusError &error) {
        // Still enabled: stopping now would leave it dead until the next boot.
        if (error.isValid()) {
            completion(error.message());
            return;
        }
        stopUnits(completion);
    });
}

void SystemdHelperRegistration::stopUnits(Completion completion)
{
    QDBusMessage stopSocket = managerCall(QStringLiteral("StopUnit"));
    stopSocket << QString::fromLatin1(kSocketUnit) << QStringLiteral("replace");
    callAuthorised(stopSocket, [this, completion = std::move(completion)](const QDBusError &) {
        QDBusMessage stopService = managerCall(QStringLiteral("StopUnit"));
        stopService << QString::fromLatin1(kServiceUnit) << QStringLiteral("replace");
        // Stopping failures change nothing about the registration.
        callAuthorised(stopService, [completion](const QDBusError &) { completion(std::nullopt); });
    });
}
