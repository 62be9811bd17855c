// The recorder's own manager and HTTP server on 127.0.0.1 and a free port,
// for scripts/bench (the fixed port 8642 may be taken, and every interface
// is more than a benchmark should open).
//
//   serve-bench FOLDER [--file NAME]... [--fill N] [--capture N URL]
//
// Writes the index of FOLDER first: a finished recording for each existing
// file NAME, N finished recordings without files (--fill), and N recordings
// of URL that began a minute ago and run for an hour (--capture), which the
// manager starts capturing at once. Then prints "port=P" and one "id=ID" per
// file, and serves until it is killed. Run it with its own HOME and
// XDG_CONFIG_HOME: the folder is stored in the user's settings.

#include "ServedRecorder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace {

Recording finishedRecording(const QString &fileName, qint64 bytes)
{
    Recording r = servedRecording(QFileInfo(fileName).completeBaseName(), Recording::Status::Finished, bytes);
    r.fileName = fileName;
    return r;
}

Recording runningRecording(int number, const QString &url)
{
    Recording r = servedRecording(QStringLiteral("Live %1").arg(number), Recording::Status::Scheduled);
    r.streamURL = url + QStringLiteral("?n=%1").arg(number);
    r.programStart = QDateTime::currentDateTimeUtc().addSecs(-60);
    r.programEnd = r.programStart.addSecs(3600);
    r.startDate = r.programStart;
    r.endDate = r.programEnd.addSecs(300);
    return r;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Tivolux"));
    QCoreApplication::setApplicationName(QStringLiteral("TivoluxRecorder"));
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        fprintf(stderr, "usage: serve-bench FOLDER [--file NAME]... [--fill N] [--capture N URL]\n");
        return 2;
    }
    const QString folder = QFileInfo(args[1]).absoluteFilePath();
    QList<Recording> recordings;
    QStringList ids;
    for (int i = 2; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--file") && i + 1 < args.size()) {
            const QString name = args[++i];
            recordings.append(finishedRecording(name, QFileInfo(QDir(folder).filePath(name)).size()));
            ids.append(recordings.last().id.toString(QUuid::WithoutBraces).toUpper());
        } else if (args[i] == QLatin1String("--fill") && i + 1 < args.size()) {
            const int count = args[++i].toInt();
            for (int n = 0; n < count; ++n)
                recordings.append(finishedRecording(QStringLiteral("Programme %1.ts").arg(n), 0));
        } else if (args[i] == QLatin1String("--capture") && i + 2 < args.size()) {
            const int count = args[++i].toInt();
            const QString url = args[++i];
            for (int n = 0; n < count; ++n)
                recordings.append(runningRecording(n, url));
        } else {
            fprintf(stderr, "serve-bench: unknown argument %s\n", qPrintable(args[i]));
            return 2;
        }
    }
    ServedRecorder served;
    if (const auto error = served.start(folder, recordings)) {
        fprintf(stderr, "serve-bench: %s\n", qPrintable(*error));
        return 1;
    }
    printf("port=%u\n", unsigned(served.port()));
    for (const QString &id : ids)
        printf("id=%s\n", qPrintable(id));
    fflush(stdout);
    return QCoreApplication::exec();
}
