#include "HelperOptions.h"

#include <QCommandLineParser>

namespace {

// The first descriptor the service manager hands over.
constexpr int kFirstActivatedDescriptor = 3;

std::optional<qint64> msecsOf(const QString &seconds)
{
    bool ok = false;
    const qint64 value = seconds.toLongLong(&ok);
    if (!ok || value > 1000000000000LL || value < -1000000000000LL)
        return std::nullopt;
    return value * 1000;
}

std::optional<QSet<qint64>> msecsOf(const QStringList &values)
{
    QSet<qint64> set;
    for (const QString &value : values) {
        const std::optional<qint64> msecs = msecsOf(value);
        if (!msecs)
            return std::nullopt;
        set.insert(*msecs);
    }
    return set;
}

// The socket the service manager handed to this very process, as its
// LISTEN_PID and LISTEN_FDS tell.
int handedOverDescriptor(const QProcessEnvironment &environment, qint64 processID)
{
    bool ok = false;
    const qint64 pid = environment.value(QStringLiteral("LISTEN_PID")).toLongLong(&ok);
    if (!ok || pid != processID)
        return -1;
    return environment.value(QStringLiteral("LISTEN_FDS")).toInt() == 1 ? kFirstActivatedDescriptor : -1;
}

} // namespace

std::variant<HelperOptions, QString> HelperOptions::parse(const QStringList &arguments,
                                                          const QProcessEnvironment &environment,
                                                          qint64 processID, const QString &installedClient)
{
    QCommandLineParser parser;
    const QCommandLineOption socket(QStringLiteral("socket"),
                                    QStringLiteral("Serve a socket created at <path> (test mode)."),
                                    QStringLiteral("path"));
    const QCommandLineOption allowedClient(QStringLiteral("allowed-client"),
                                           QStringLiteral("Serve clients running <executable> (test mode)."),
                                           QStringLiteral("executable"));
    const QCommandLineOption fake(QStringLiteral("fake-power-manager"),
                                  QStringLiteral("Arm nothing; record every call in <file> (test mode)."),
                                  QStringLiteral("file"));
    const QCommandLineOption refuse(QStringLiteral("fake-refuse"),
                                    QStringLiteral("The fake refuses a wake at <seconds>."), QStringLiteral("seconds"));
    const QCommandLineOption held(QStringLiteral("fake-held"),
                                  QStringLiteral("The fake holds a wake at <seconds> from the start."),
                                  QStringLiteral("seconds"));
    const QCommandLineOption now(QStringLiteral("fake-now"),
                                 QStringLiteral("Take <seconds> as the current time."), QStringLiteral("seconds"));
    const QCommandLineOption mostHeld(QStringLiteral("most-held"),
                                      QStringLiteral("Let a user hold at most <count> wakes (test mode)."),
                                      QStringLiteral("count"));
    const QCommandLineOption mostRequests(QStringLiteral("most-requests"),
                                          QStringLiteral("Serve a user at most <count> requests per rate window "
                                                         "(test mode)."),
                                          QStringLiteral("count"));
    const QCommandLineOption rateWindow(QStringLiteral("rate-window"),
                                        QStringLiteral("The rate window in <milliseconds> (test mode)."),
                                        QStringLiteral("milliseconds"));
    parser.addOptions({socket, allowedClient, fake, refuse, held, now, mostHeld, mostRequests, rateWindow});
    if (!parser.parse(arguments))
        return parser.errorText();
    if (!parser.positionalArguments().isEmpty())
        return QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().constFirst());

    HelperOptions options;
    options.allowedClient = installedClient;
    if (environment.contains(QStringLiteral("LISTEN_FDS"))) {
        // Started by the service manager: the installed configuration only.
        if (!parser.optionNames().isEmpty())
            return QStringLiteral("options are not accepted when the socket is handed over");
        options.activatedDescriptor = handedOverDescriptor(environment, processID);
        if (options.activatedDescriptor < 0)
            return QStringLiteral("the handed-over socket is not for this process");
        return options;
    }
    if (!parser.isSet(socket))
        return QStringLiteral("no socket: start through tivolux-recorder-helper.socket, or give --socket");
    options.socketPath = parser.value(socket);
    if (parser.isSet(allowedClient))
        options.allowedClient = parser.value(allowedClient);
    const struct { const QCommandLineOption &option; int &value; } limits[] = {
        {mostHeld, options.serviceTiming.mostHeldPerUser},
        {mostRequests, options.serviceTiming.mostRequestsPerWindow},
    };
    for (const auto &limit : limits) {
        if (!parser.isSet(limit.option))
            continue;
        bool ok = false;
        limit.value = parser.value(limit.option).toInt(&ok);
        if (!ok || limit.value < 0)
            return QStringLiteral("--%1 takes a count").arg(limit.option.names().constFirst());
    }
    if (parser.isSet(rateWindow)) {
        bool ok = false;
        const int milliseconds = parser.value(rateWindow).toInt(&ok);
        if (!ok || milliseconds <= 0)
            return QStringLiteral("--rate-window takes milliseconds");
        options.serviceTiming.rateWindow = std::chrono::milliseconds(milliseconds);
    }

    if (!parser.isSet(fake)) {
        if (parser.isSet(refuse) || parser.isSet(held) || parser.isSet(now))
            return QStringLiteral("--fake-refuse, --fake-held and --fake-now need --fake-power-manager");
        return options;
    }
    options.fakeRecordPath = parser.value(fake);
    const std::optional<QSet<qint64>> refused = msecsOf(parser.values(refuse));
    const std::optional<QSet<qint64>> heldWakes = msecsOf(parser.values(held));
    if (!refused || !heldWakes)
        return QStringLiteral("--fake-refuse and --fake-held take whole seconds");
    options.fakeRefusedMsecs = *refused;
    options.fakeHeldMsecs = *heldWakes;
    if (parser.isSet(now)) {
        const std::optional<qint64> msecs = msecsOf(parser.value(now));
        if (!msecs)
            return QStringLiteral("--fake-now takes whole seconds");
        options.fakeNow = QDateTime::fromMSecsSinceEpoch(*msecs, Qt::UTC);
    }
    return options;
}
