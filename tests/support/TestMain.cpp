#include <QCoreApplication>
#include <QStandardPaths>
#include <ctime>
#include <gtest/gtest.h>

// Every test executable runs with a Qt application object so that timers,
// queued calls and sockets work, with Qt's test paths so that settings and
// standard folders never touch the real home, in Central European time so
// that local dates are known in advance, and with a settings file of its own
// so that programs run side by side never clear each other's settings.
int main(int argc, char **argv)
{
    qputenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    tzset();
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("TivoluxTests"));
    QCoreApplication::setApplicationName(QCoreApplication::applicationName() + QStringLiteral("-tests"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
