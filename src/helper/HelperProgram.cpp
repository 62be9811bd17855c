#include "HelperProgram.h"

#include "HelperListener.h"
#include "WakeService.h"

#include <QCoreApplication>
#include <QProcessEnvironment>
#include <cstdio>

namespace {

int refuseToStart(const QString &reason)
{
    std::fprintf(stderr, "tivolux-recorder-helper: %s\n", qPrintable(reason));
    return 2;
}

} // namespace

int runHelper(int argc, char **argv, const QList<QCommandLineOption> &testOptions, const PowerChoice &choosePower)
{
    QCoreApplication app(argc, argv);

    const std::variant<HelperOptions, QString> parsed =
        HelperOptions::parse(app.arguments(), QProcessEnvironment::systemEnvironment(),
                             QCoreApplication::applicationPid(), QStringLiteral(TIVOLUX_INSTALLED_RECORDER),
                             testOptions);
    if (const QString *reason = std::get_if<QString>(&parsed))
        return refuseToStart(*reason);
    const HelperOptions &options = std::get<HelperOptions>(parsed);
    std::variant<HelperPower, QString> chosen = choosePower(options);
    if (const QString *reason = std::get_if<QString>(&chosen))
        return refuseToStart(*reason);
    HelperPower &power = std::get<HelperPower>(chosen);
    // Programs the helper might start must not see the handed-over socket.
    qunsetenv("LISTEN_PID");
    qunsetenv("LISTEN_FDS");
    qunsetenv("LISTEN_FDNAMES");

    WakeService service(*power.manager, power.now, options.serviceTiming);
    HelperListener listener(service, PeerCheck(options.allowedClient));
    const bool listening = options.activatedDescriptor >= 0 ? listener.listen(options.activatedDescriptor)
                                                            : listener.listen(options.socketPath);
    if (!listening)
        return refuseToStart(QStringLiteral("cannot listen: %1").arg(listener.errorString()));
    return app.exec();
}
