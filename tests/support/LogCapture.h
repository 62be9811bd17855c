#pragma once

#include <QMutex>
#include <QStringList>
#include <QtGlobal>

// Collects the messages logged while it exists, from any thread.
class LogCapture
{
public:
    LogCapture() : m_previous(qInstallMessageHandler(&LogCapture::handle))
    {
        QMutexLocker locker(&s_mutex);
        s_lines.clear();
    }
    ~LogCapture() { qInstallMessageHandler(m_previous); }

    QStringList all() const
    {
        QMutexLocker locker(&s_mutex);
        return s_lines;
    }

private:
    static void handle(QtMsgType, const QMessageLogContext &, const QString &message)
    {
        QMutexLocker locker(&s_mutex);
        s_lines.append(message);
    }

    static inline QMutex s_mutex;
    static inline QStringList s_lines;
    QtMessageHandler m_previous;
};
