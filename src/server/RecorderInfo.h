#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// What GET /api/info tells the TV app about this recorder.
struct RecorderInfo
{
    QString name;
    QString version;
    QString computerName;

    // The running application's document.
    static RecorderInfo current();

    QJsonObject toJSON() const;

    // The build's version, "0" when the build did not give one.
    static QString buildVersion();
    // The user-visible name of this computer: the pretty host name set for
    // the machine, else the host name, else "Mac".
    static QString hostComputerName(const QString &machineInfoPath = QStringLiteral("/etc/machine-info"));
    // The PRETTY_HOSTNAME value of a machine-info file (shell-style
    // assignments), empty when there is none.
    static QString prettyHostName(const QByteArray &machineInfo);
};
