#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// The real headless recorder under load: started in a home folder of its
// own with its recordings folder set, and watched through /proc.
class SoakRecorder
{
public:
    explicit SoakRecorder(const QString &program);
    ~SoakRecorder();

    bool start();
    void terminate();
    bool waitForExit(int milliseconds);
    QProcess &process() { return m_process; }
    QString folder() const { return m_folder; }

    // Open file descriptors, and how many of them are sockets.
    int openFiles() const;
    int openSockets() const;
    qint64 residentKiB() const;
    int threads() const;

private:
    QString statusField(const char *name) const;

    QTemporaryDir m_home;
    QString m_folder;
    QProcess m_process;
};
