#include "RecorderInfo.h"

#include <QFile>
#include <QSysInfo>

namespace {

// Undoes the quoting of one shell-style value: single quotes keep
// everything, double quotes and bare text honour backslash escapes.
QString unquoted(const QString &value)
{
    QString result;
    QChar quote;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (quote.isNull() && (c == QLatin1Char('"') || c == QLatin1Char('\''))) {
            quote = c;
        } else if (!quote.isNull() && c == quote) {
            quote = QChar();
        } else if (c == QLatin1Char('\\') && quote != QLatin1Char('\'') && i + 1 < value.size()) {
            result.append(value.at(++i));
        } else {
            result.append(c);
        }
    }
    return result;
}

} // namespace

RecorderInfo RecorderInfo::current()
{
    return {QStringLiteral("Tivolux Recorder"), buildVersion(), hostComputerName()};
}

QJsonObject RecorderInfo::toJSON() const
{
    QJsonObject object;
    object.insert(QStringLiteral("name"), name);
    object.insert(QStringLiteral("version"), version);
    object.insert(QStringLiteral("computerName"), computerName);
    return object;
}

QString RecorderInfo::buildVersion()
{
#ifdef TIVOLUX_VERSION
    const QString version = QStringLiteral(TIVOLUX_VERSION);
    if (!version.isEmpty())
        return version;
#endif
    return QStringLiteral("0");
}

QString RecorderInfo::hostComputerName(const QString &machineInfoPath)
{
    QFile machineInfo(machineInfoPath);
    if (machineInfo.open(QIODevice::ReadOnly)) {
        const QString pretty = prettyHostName(machineInfo.read(65536));
        if (!pretty.isEmpty())
            return pretty;
    }
    const QString hostName = QSysInfo::machineHostName();
    return hostName.isEmpty() ? QStringLiteral("Mac") : hostName;
}

QString RecorderInfo::prettyHostName(const QByteArray &machineInfo)
{
    const QString key = QStringLiteral("PRETTY_HOSTNAME=");
    QString found;
    for (const QString &line : QString::fromUtf8(machineInfo).split(QLatin1Char('\n'))) {
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(key))
            found = unquoted(trimmed.mid(key.size())).trimmed();
    }
    return found;
}
