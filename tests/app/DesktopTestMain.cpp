#include <QApplication>
#include <QLocale>
#include <QStandardPaths>
#include <cstdio>
#include <ctime>
#include <gtest/gtest.h>

// Widget tests run with a QApplication on the offscreen platform, Qt's test
// paths, and a fixed locale and time zone (Central European) for the date
// and size texts.
int main(int argc, char **argv)
{
    qputenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    tzset();
    QStandardPaths::setTestModeEnabled(true);
    // The offscreen platform reports every window operation it lacks.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &message) {
        if (!message.startsWith(QLatin1String("This plugin does not support"))
            && !message.contains(QLatin1String("systemTrayWindowChanged")))
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("TivoluxTests"));
    QCoreApplication::setApplicationName(QStringLiteral("tivolux-desktop-tests"));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
