#pragma once

#include "Recording.h"

#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <optional>
#include <utility>

// The real program in a home folder of its own, with its recordings folder
// set in its settings, watched through /proc. Used by the tests of the whole
// program and by the soak tool.
class RecorderProcess
{
public:
    // Headless, on the fixed API port unless useTestPort() says otherwise.
    explicit RecorderProcess(const QString &program);
    ~RecorderProcess();

    // Another launch of the program by the same user: the same home,
    // settings, runtime folder, recordings folder and port.
    std::unique_ptr<RecorderProcess> sameUser() const;
    // Records into another launch's folder (a different user's program on a
    // shared folder).
    void useFolder(const QString &folder);
    // Runs the desktop program on the given X display, or on Qt's offscreen
    // platform when none is given.
    void runOnDesktop(const QString &display = {});
    // Listens on the given port (a free one when 0) instead of the fixed one;
    // only the program's test build honours it.
    void useTestPort(quint16 port = 0);

    bool isValid() const { return m_home->isValid(); }
    quint16 port() const { return m_port; }
    QString folder() const { return m_folder; }
    QString filePath(const QString &fileName) const;

    // Writes the index the program finds at its next start.
    void writeIndex(const QList<Recording> &recordings) const;
    std::optional<QList<Recording>> readIndex() const;

    // Limits the size of every file the program writes (a full disk for the
    // program, nobody else).
    void limitFileSize(qint64 bytes) { m_fileSizeLimit = bytes; }
    // Limits open descriptors; with the hard limit at the soft one, the
    // program cannot raise it.
    void limitOpenFiles(qint64 soft, qint64 hard) { m_openFileLimit = {soft, hard}; }

    // Starts the program and waits until it handles termination signals,
    // which it sets up after its services. With waitForAPI, also until its
    // API port takes connections.
    bool start(bool waitForAPI = false);
    // Starts the program and waits until it ends by itself; answers its
    // exit status, or nothing when it did not end within the time.
    std::optional<int> runToExit(int milliseconds = 10000);
    void kill(int signal);
    bool waitForExit(int milliseconds = 10000);
    // Sends the signal and answers whether the program ended by itself with
    // status 0 in time.
    bool endsCleanlyOn(int signal);
    QProcess &process() { return m_process; }
    const QProcess &process() const { return m_process; }
    // What the program wrote to standard error so far.
    QByteArray output() { return m_output += m_process.readAllStandardError(); }

    // Open file descriptors, how many of them are sockets, resident memory,
    // threads.
    int openFiles() const;
    int openSockets() const;
    qint64 residentKiB() const;
    int threads() const;

    static constexpr quint16 kPort = 8642;
    static bool portIsFree(quint16 port);

private:
    explicit RecorderProcess(std::shared_ptr<QTemporaryDir> home, const QString &program);
    QString statusField(const char *name) const;
    void setEnvironment(const QString &name, const QString &value);
    void launch();

    std::shared_ptr<QTemporaryDir> m_home;
    QString m_folder;
    QProcess m_process;
    QByteArray m_output;
    qint64 m_fileSizeLimit = -1;
    std::pair<qint64, qint64> m_openFileLimit{-1, -1};
    quint16 m_port = kPort;
};

// A stored recording of a programme that is on air now.
Recording onAirRecording(const QString &streamURL, const QString &fileName, qint64 secondsToEnd = 3600);
