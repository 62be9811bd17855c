#pragma once

#include <QStringList>
#include <QtGlobal>

// Collects the messages logged while it exists (main thread only).
class LogCapture
{
public:
    LogCapture() : m_previous(qInstallMessageHandler(&LogCapture::handle)) { lines().clear(); }
    ~LogCapture() { qInstallMessageHandler(m_previous); }

    QStringList all() const { return lines(); }

private:
    static QStringList &lines()
    {
        static QStringList collected;
        return collected;
    }
    static void handle(QtMsgType, const QMessageLogContext &, const QString &message) { lines().append(message); }

    QtMessageHandler m_previous;
};
