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
    QCoreApplication::setApplicationName(QStringLiteral("tivolux-tests"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
