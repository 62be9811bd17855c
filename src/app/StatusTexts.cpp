#include "StatusTexts.h"

namespace StatusTexts {

QString address(const std::optional<QString> &address)
{
    return address.value_or(QString::fromUtf16(kNoAddress));
}

QString toolTip(const std::optional<QString> &value)
{
    return QStringLiteral("Tivolux Recorder · ") + address(value);
}

QString statusLine(int running, int scheduled)
{
    QString line;
    if (running == 0)
        line = QStringLiteral("Not recording");
    else if (running == 1)
        line = QStringLiteral("Recording 1 programme");
    else
        line = QStringLiteral("Recording ") + QString::number(running) + QStringLiteral(" programmes");
    if (scheduled >= 1)
        line += QStringLiteral(" · ") + QString::number(scheduled) + QStringLiteral(" scheduled");
    return line;
}

QString quitMessage(int running)
{
    if (running == 1)
        return QStringLiteral("A recording is still running.");
    return QString::number(running) + QStringLiteral(" recordings are still running.");
}

QString quitInformativeText()
{
    return QStringLiteral("Quitting stops them. What has been recorded so far is kept.");
}

} // namespace StatusTexts
