#pragma once

#include <QByteArray>
#include <QLocalSocket>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <optional>

// The helper program serving a socket in a temporary folder (its test mode)
// with this test executable as its only allowed client: by default the test
// build with the fake power manager recording into that folder, otherwise
// the installed program.
class HelperProcess
{
public:
    ~HelperProcess();

    // Starts the helper with --socket and the given further options and
    // waits until it listens.
    bool start(const QStringList &options, bool fakePowerManager = true);
    void setEnvironment(const QProcessEnvironment &environment) { m_process.setProcessEnvironment(environment); }

    QString socketPath() const { return m_folder.filePath(QStringLiteral("helper.sock")); }
    // Lets every user of the computer reach the socket, as the installed
    // socket unit does.
    void openToEveryone();
    QString recordPath() const { return m_folder.filePath(QStringLiteral("power-manager.txt")); }
    // The fake power manager's record, one call per line.
    QStringList recordedCalls() const;
    // What the helper has written to standard error so far, line by line.
    QStringList logLines();

    // The installed program.
    static QString executable();

private:
    QTemporaryDir m_folder;
    QProcess m_process;
    QByteArray m_log;
};

// A client of the helper that waits for each answer (no event loop needed).
class HelperClient
{
public:
    explicit HelperClient(const QString &socketPath);

    // Sends raw bytes.
    void send(const QByteArray &bytes) { m_socket->write(bytes); m_socket->waitForBytesWritten(5000); }
    // Sends one request and answers the helper's verdict, or nothing when the
    // connection ended without a reply.
    std::optional<bool> request(const QString &method, qint64 seconds);
    // The next reply line, or nothing when the connection ended first.
    std::optional<QByteArray> nextLine();
    // Whether the helper closes the connection within the timeout.
    bool closedByHelper();

private:
    std::unique_ptr<QLocalSocket> m_socket;
    qint64 m_nextID = 1;
};
