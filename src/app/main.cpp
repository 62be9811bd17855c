#include "AppDelegate.h"
#include "TerminationSignals.h"

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

    AppDelegate delegate(headless);
    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::terminationRequested, &delegate,
                     &AppDelegate::applicationShouldTerminate);
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    return app.exec();
}
