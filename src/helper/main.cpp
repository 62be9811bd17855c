#include "FakePowerManager.h"
#include "HelperListener.h"
#include "HelperOptions.h"
#include "SystemdPowerManager.h"
#include "WakeService.h"

#include <QCoreApplication>
#include <QProcessEnvironment>
#include <cstdio>
#include <memory>

namespace {

int refuseToStart(const QString &reason)
{
    std::fprintf(stderr, "tivolux-recorder-helper: %s\n", qPrintable(reason));
    return 2;
}

} // namespace

// The privileged wake helper: schedules and cancels wakes of the computer
// for the application, and for nothing else.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);

    const std::variant<HelperOptions, QString> parsed =
        HelperOptions::parse(app.arguments(), QProcessEnvironment::systemEnvironment(),
                             QCoreApplication::applicationPid(), QStringLiteral(TIVOLUX_INSTALLED_RECORDER));
    if (const QString *reason = std::get_if<QString>(&parsed))
        return refuseToStart(*reason);
    const HelperOptions &options = std::get<HelperOptions>(parsed);
    // Programs the helper might start must not see the handed-over socket.
    qunsetenv("LISTEN_PID");
    qunsetenv("LISTEN_FDS");
    qunsetenv("LISTEN_FDNAMES");

    std::unique_ptr<PowerManager> powerManager;
    if (options.fakeRecordPath.isEmpty())
        powerManager = std::make_unique<SystemdPowerManager>();
    else
        powerManager = std::make_unique<FakePowerManager>(options.fakeRecordPath, options.fakeRefusedMsecs,
                                                          options.fakeHeldMsecs);
    const std::optional<QDateTime> fakeNow = options.fakeNow;
    WakeService service(*powerManager,
                        [fakeNow] { return fakeNow ? *fakeNow : QDateTime::currentDateTimeUtc(); },
                        options.serviceTiming);

    HelperListener listener(service, PeerCheck(options.allowedClient));
    const bool listening = options.activatedDescriptor >= 0 ? listener.listen(options.activatedDescriptor)
                                                            : listener.listen(options.socketPath);
    if (!listening)
        return refuseToStart(QStringLiteral("cannot listen: %1").arg(listener.errorString()));
    return app.exec();
}
