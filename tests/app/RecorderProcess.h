#pragma once

#include "Recording.h"

#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <optional>
#include <utility>

// The real headless program in a home folder of its own, with its recordings
// folder set in its settings. Its API listens on the fixed port; tests that
// talk to it check first that the port is free.
class RecorderProcess
{
public:
    RecorderProcess();
    ~RecorderProcess();

    // Another launch of the program by the same user: the same home,
    // settings, runtime folder and recordings folder.
    std::unique_ptr<RecorderProcess> sameUser() const;
    // Records into another launch's folder (a different user's program on a
    // shared folder).
    void useFolder(const QString &folder);
    // Runs the desktop program on Qt's offscreen platform instead.
    void runOnDesktop();

    bool isValid() const { return m_home->isValid(); }
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
    // Listens on the given port instead of the fixed one (test builds only).
    void useTestPort(quint16 port);
    // The command line, "--headless" unless set here.
    void setArguments(const QStringList &arguments) { m_process.setArguments(arguments); }
    // The display the program finds; none unless set here.
    void setDisplay(const QString &display);

    // Starts the program and waits until it handles termination signals,
    // which it sets up after its services. With waitForAPI, also until its
    // API answers.
    bool start(bool waitForAPI = false);
    // Starts the program and waits until it ends by itself; answers its
    // exit status, or nothing when it did not end within the time.
    std::optional<int> runToExit(int milliseconds = 10000);
    void kill(int signal);
    bool waitForExit(int milliseconds = 10000);
    const QProcess &process() const { return m_process; }
    QByteArray output() { return m_output += m_process.readAllStandardError(); }

    static constexpr quint16 kPort = 8642;
    // Whether nothing on this computer listens on the API port.
    static bool apiPortIsFree();

private:
    explicit RecorderProcess(std::shared_ptr<QTemporaryDir> home);
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
