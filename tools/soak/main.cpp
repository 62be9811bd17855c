#include "SoakRun.h"

#include <QCommandLineParser>
#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Soaks the headless recorder with recordings, viewers and API calls."));
    parser.addHelpOption();
    const QCommandLineOption seconds(QStringLiteral("seconds"), QStringLiteral("Length of the load."), QStringLiteral("n"), QStringLiteral("600"));
    const QCommandLineOption recordings(QStringLiteral("recordings"), QStringLiteral("Recordings at once."), QStringLiteral("n"), QStringLiteral("20"));
    const QCommandLineOption clients(QStringLiteral("clients"), QStringLiteral("Viewers seeking at once."), QStringLiteral("n"), QStringLiteral("50"));
    const QCommandLineOption recorder(QStringLiteral("recorder"), QStringLiteral("The tivolux-recorder program."), QStringLiteral("path"));
    parser.addOptions({seconds, recordings, clients, recorder});
    parser.process(app);
    if (!parser.isSet(recorder))
        parser.showHelp(2);

    SoakRun::Options options;
    options.recorderProgram = parser.value(recorder);
    options.seconds = parser.value(seconds).toInt();
    options.recordings = parser.value(recordings).toInt();
    options.clients = parser.value(clients).toInt();
    SoakRun run(options);
    return run.run();
}
