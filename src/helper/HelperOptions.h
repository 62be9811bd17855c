#pragma once

#include "WakeService.h"

#include <QDateTime>
#include <QProcessEnvironment>
#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>
#include <variant>

// How the helper runs. Installed, the service manager starts it without
// options and hands it its listening socket (socket activation). For tests
// and manual runs it serves a socket path of its own instead; only then may
// the allowed client be named, the client limits lowered and a fake power
// manager be chosen, and none of these options is accepted when a socket is
// handed over.
struct HelperOptions
{
    // The socket handed over by the service manager, or -1.
    int activatedDescriptor = -1;
    // The socket path of the test mode, or empty.
    QString socketPath;
    // The executable a client must run.
    QString allowedClient;
    // The fake power manager's record file, or empty for the real one.
    QString fakeRecordPath;
    QSet<qint64> fakeRefusedMsecs;
    QSet<qint64> fakeHeldMsecs;
    // The fake clock of the test mode.
    std::optional<QDateTime> fakeNow;
    // The limits on every client; the test mode may lower them.
    WakeService::Timing serviceTiming;

    // The options, or the reason they cannot be used.
    static std::variant<HelperOptions, QString> parse(const QStringList &arguments,
                                                      const QProcessEnvironment &environment, qint64 processID,
                                                      const QString &installedClient);
};
