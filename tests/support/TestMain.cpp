#include <QCoreApplication>
#include <QStandardPaths>
#include <gtest/gtest.h>

// Every test executable runs with a Qt application object so that timers,
// queued calls and sockets work, and with Qt's test paths so that settings
// and standard folders never touch the real home.
int main(int argc, char **argv)
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("TivoluxTests"));
    // Each test program keeps its own settings file, so that programs run
    // side by side never clear each other's settings.
    QCoreApplication::setApplicationName(QCoreApplication::applicationName() + QStringLiteral("-tests"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
