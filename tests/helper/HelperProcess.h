#pragma once

#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <optional>

// The helper serving a socket in a temporary folder that every user may
// reach, for this test executable unless the options name another client:
// the test build with the fake power manager recording into that folder or,
// given a system bus, the installed program talking to it.
class HelperProcess
{
public:
    ~HelperProcess();

    // Starts the helper and waits until it listens.
    bool start(const QStringList &options, const QString &systemBus = {});
    QString socketPath() const { return m_folder.filePath(QStringLiteral("helper.sock")); }
    // The fake power manager's record, one call per line.
    QStringList recordedCalls() const;
    // What the helper has written to standard error so far, line by line.
    QStringList logLines();

    static QString executable() { return QStringLiteral(TIVOLUX_HELPER_EXE); }

private:
    QString recordPath() const { return m_folder.filePath(QStringLiteral("power-manager.txt")); }

    QTemporaryDir m_folder;
    QProcess m_process;
    QByteArray m_log;
};

// A client of the helper that waits for each answer (no event loop needed).
class HelperClient
{
public:
    explicit HelperClient(const QString &socketPath);

    void send(const QByteArray &bytes);
    // Sends one request and answers the helper's verdict, or nothing when the
    // connection ended without a reply.
    std::optional<bool> request(const QString &method, qint64 seconds);
    // The next reply line, or nothing when the connection ended first.
    std::optional<QByteArray> nextLine();
    bool closedByHelper() { return !nextLine() && m_socket.state() == QLocalSocket::UnconnectedState; }

private:
    QLocalSocket m_socket;
    qint64 m_nextID = 1;
};
