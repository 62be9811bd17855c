#include "AppDelegate.h"
#include "BrokenPipes.h"
#include "LogindSleepInhibitor.h"
#include "LogindWakeNotifier.h"
#include "OpenFileLimit.h"
#include "RecorderClaim.h"
#include "RecordingManager.h"
#include "RecordingsFolder.h"
#include "SingleInstance.h"
#include "RecordingServer.h"
#include "SocketWakeHelperConnection.h"
#include "SystemdHelperRegistration.h"
#include "TerminationSignals.h"
#include "WakeScheduler.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <memory>

#ifdef TIVOLUX_DESKTOP
#include "DesktopAppDelegate.h"

#include <QApplication>
#include <QMessageBox>
#endif

namespace {

bool displayAvailable()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// The kind of application object depends on the mode, so the mode is read
// from the raw arguments before any application object exists.
bool headlessRequested(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--headless") == 0)
            return true;
    }
    return false;
}

std::unique_ptr<QCoreApplication> makeApplication([[maybe_unused]] bool headless, int &argc, char **argv)
{
#ifdef TIVOLUX_DESKTOP
    if (!headless)
        return std::make_unique<QApplication>(argc, argv);
#endif
    return std::make_unique<QCoreApplication>(argc, argv);
}

// Ends a launch that found another recorder: one line on standard error,
// and on the desktop, where nobody reads it, a message box as well.
int endLaunch(const LaunchRefusal &refusal, [[maybe_unused]] bool headless)
{
    if (!refusal.line.isEmpty())
        std::fprintf(stderr, "%s\n", refusal.line.toLocal8Bit().constData());
#ifdef TIVOLUX_DESKTOP
    if (!headless && !refusal.alert.isEmpty()) {
        QMessageBox alert(QMessageBox::Warning, QStringLiteral("Tivolux Recorder"), refusal.alert, QMessageBox::Ok);
        alert.setInformativeText(refusal.alertDetail);
        alert.exec();
    }
#endif
    return refusal.exitStatus;
}

#ifdef TIVOLUX_DESKTOP
int runDesktop(QCoreApplication &app, SingleInstance &instance)
{
    DesktopAppDelegate delegate;
    QObject::connect(&instance, &SingleInstance::showRequested, &delegate,
                     &DesktopAppDelegate::applicationShouldHandleReopen);
    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::terminationRequested, &delegate,
                     &DesktopAppDelegate::terminateWithoutAsking);
    QTimer::singleShot(0, &delegate, &DesktopAppDelegate::applicationDidFinishLaunching);
    return app.exec();
}
#endif

} // namespace

int main(int argc, char **argv)
{
    surviveBrokenPipes();
    bool headless = headlessRequested(argc, argv) || !displayAvailable();
#ifndef TIVOLUX_DESKTOP
    headless = true;
#endif
    const std::unique_ptr<QCoreApplication> application = makeApplication(headless, argc, argv);
    QCoreApplication &app = *application;
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

    // Nothing is loaded, saved or captured before this process owns the
    // user's recorder and its recordings folder.
    SingleInstance instance(headless ? SingleInstance::Mode::Headless : SingleInstance::Mode::Desktop);
    if (const auto refusal = claimRecorder(instance, headless, recordingsFolderPath()))
        return endLaunch(*refusal, headless);
    raiseOpenFileLimit();

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

#ifdef TIVOLUX_TEST_HOOKS
    // Test builds may listen on another port, so that tests of the whole
    // program run beside a recorder that uses the fixed one.
    if (const QByteArray port = qgetenv("TIVOLUX_RECORDER_TEST_PORT"); !port.isEmpty()) {
        RecordingServer::Configuration server;
        server.port = port.toUShort();
        RecordingServer::setSharedConfiguration(server);
    }
#endif

#ifdef TIVOLUX_DESKTOP
    if (!headless)
        return runDesktop(app, instance);
#endif
    AppDelegate delegate;
    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::terminationRequested, &delegate,
                     &AppDelegate::applicationShouldTerminate);
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    return app.exec();
}
