#pragma once

#include "JSONCoding.h"
#include "Recording.h"
#include "RecordingIndex.h"
#include "TestSupport.h"

#include <QDir>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <optional>
#include <utility>

#include <csignal>

// The real program in a home folder of its own, with its recordings folder
// set in its settings, for the tests of the whole program and the soak tool.
class RecorderProcess
{
public:
    // Headless, on the fixed API port unless useTestPort() says otherwise.
    explicit RecorderProcess(const QString &program);
    ~RecorderProcess();

    // Another launch by the same user: the same home, folders and port.
    std::unique_ptr<RecorderProcess> sameUser() const;
    void useFolder(const QString &folder);
    // On the given X display, or on Qt's offscreen platform when none is given.
    void runOnDesktop(const QString &display = {});
    // A free port instead of the fixed one; only the test build honours it.
    void useTestPort();

    bool isValid() const { return m_home->isValid(); }
    quint16 port() const { return m_port; }
    QString folder() const { return m_folder; }
    QString filePath(const QString &fileName) const { return QDir(m_folder).filePath(fileName); }
    void writeIndex(const QList<Recording> &recordings) const { ::writeIndex(m_folder, recordings); }
    std::optional<QList<Recording>> readIndex() const
    {
        return sharedJSONDecoder().decodeRecordings(testsupport::readFile(filePath(QStringLiteral("recordings.json"))));
    }

    // Limits on every file the program writes (a full disk for it alone) and
    // on open descriptors (soft, hard), applied at the next start.
    qint64 fileSizeLimit = -1;
    std::pair<qint64, qint64> openFileLimit{-1, -1};

    // Starts the program and waits until it handles termination signals,
    // which it sets up after its services; with waitForAPI, also until its
    // API port takes connections.
    bool start(bool waitForAPI = false);
    std::optional<int> runToExit();
    void kill(int signal) { ::kill(pid_t(m_process.processId()), signal); }
    bool waitForExit() { return testsupport::waitUntil([this] { return m_process.state() == QProcess::NotRunning; }); }
    bool endsCleanlyOn(int signal);
    QProcess &process() { return m_process; }
    QByteArray output() { return m_output += m_process.readAllStandardError(); }

private:
    RecorderProcess(std::shared_ptr<QTemporaryDir> home, const QString &program);
    void setEnvironment(const QString &name, const QString &value);
    bool launch();

    std::shared_ptr<QTemporaryDir> m_home;
    QString m_folder;
    QProcess m_process;
    QByteArray m_output;
    quint16 m_port = 8642;
};

// A stored recording of a programme that is on air now.
Recording onAirRecording(const QString &streamURL, const QString &fileName, qint64 secondsToEnd = 3600);
