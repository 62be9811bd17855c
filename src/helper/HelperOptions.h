#pragma once

#include "WakeService.h"

#include <QCommandLineOption>
#include <QHash>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <variant>

// How the helper runs. Installed, the service manager starts it without
// options and hands it its listening socket (socket activation). For tests
// and manual runs it serves a socket path of its own instead; only then may
// the allowed client be named and the client limits lowered, and none of
// these options is accepted when a socket is handed over. A test build of
// the helper may add options of its own to that test mode.
struct HelperOptions
{
    // The socket handed over by the service manager, or -1.
    int activatedDescriptor = -1;
    // The socket path of the test mode, or empty.
    QString socketPath;
    // The executable a client must run.
    QString allowedClient;
    // The values of the added test options that were given, by name.
    QHash<QString, QStringList> testValues;
    // The limits on every client; the test mode may lower them.
    WakeService::Timing serviceTiming;

    // The options, or the reason they cannot be used.
    static std::variant<HelperOptions, QString> parse(const QStringList &arguments,
                                                      const QProcessEnvironment &environment, qint64 processID,
                                                      const QString &installedClient,
                                                      const QList<QCommandLineOption> &testOptions = {});
};
