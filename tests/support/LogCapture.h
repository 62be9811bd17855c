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
        QMutexLocker locker(&mutex());
        lines().clear();
    }
    ~LogCapture() { qInstallMessageHandler(m_previous); }

    QStringList all() const
    {
        QMutexLocker locker(&mutex());
        return lines();
    }

private:
    static QMutex &mutex()
    {
        static QMutex lock;
        return lock;
    }
    static QStringList &lines()
    {
        static QStringList collected;
        return collected;
    }
    static void handle(QtMsgType, const QMessageLogContext &, const QString &message)
    {
        QMutexLocker locker(&mutex());
        lines().append(message);
    }

    QtMessageHandler m_previous;
};
