#include "AppDelegate.h"
#include "LogindSleepInhibitor.h"
#include "LogindWakeNotifier.h"
#include "RecordingManager.h"
#include "SocketWakeHelperConnection.h"
#include "SystemdHelperRegistration.h"
#include "TerminationSignals.h"
#include "WakeScheduler.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>

namespace {

bool displayAvailable()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Tivolux"));
    QCoreApplication::setApplicationName(QStringLiteral("TivoluxRecorder"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TIVOLUX_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Records IPTV programmes for the Tivolux TV app."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption headlessOption(QStringLiteral("headless"),
                                            QStringLiteral("Run without tray icon and window."));
    parser.addOption(headlessOption);
    parser.process(app);
    const bool headless = parser.isSet(headlessOption) || !displayAvailable();

    // The platform's pieces for the shared manager, created on first access
    // during the launch.
    RecordingManager::Environment environment;
    environment.sleepInhibitor = std::make_shared<LogindSleepInhibitor>();
    environment.wakeNotifier = new LogindWakeNotifier(&app);
    RecordingManager::setSharedEnvironment(std::move(environment));

    // The wake helper is registered with systemd and reached on its socket.
    WakeScheduler::Environment wakeEnvironment;
    wakeEnvironment.registration = std::make_shared<SystemdHelperRegistration>();
    wakeEnvironment.connectToHelper = [](QObject *parent) -> WakeHelperConnection * {
        return new SocketWakeHelperConnection(SocketWakeHelperConnection::defaultSocketPath(), parent);
    };
    WakeScheduler::setSharedEnvironment(std::move(wakeEnvironment));

    AppDelegate delegate(headless);
    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::terminationRequested, &delegate,
                     &AppDelegate::applicationShouldTerminate);
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    return app.exec();
}
