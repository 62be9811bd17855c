#include "HelperOptions.h"

#include <QCommandLineParser>

namespace {

// The first descriptor the service manager hands over.
constexpr int kFirstActivatedDescriptor = 3;

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
                                                          qint64 processID, const QString &installedClient,
                                                          const QList<QCommandLineOption> &testOptions)
{
    QCommandLineParser parser;
    const QCommandLineOption socket(QStringLiteral("socket"),
                                    QStringLiteral("Serve a socket created at <path> (test mode)."),
                                    QStringLiteral("path"));
    const QCommandLineOption allowedClient(QStringLiteral("allowed-client"),
                                           QStringLiteral("Serve clients running <executable> (test mode)."),
                                           QStringLiteral("executable"));
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
    parser.addOptions({socket, allowedClient, mostHeld, mostRequests, rateWindow});
    parser.addOptions(testOptions);
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

    for (const QCommandLineOption &option : testOptions) {
        if (parser.isSet(option))
            options.testValues.insert(option.names().constFirst(), parser.values(option));
    }
    return options;
}
