#pragma once

#include "WakeHelperConnection.h"

#include <QByteArray>
#include <QLocalSocket>
#include <deque>

// A connection to the wake helper over its Unix stream socket. Requests and
// replies are single lines of JSON:
//   {"id":1,"method":"scheduleWakeAt","date":1767225600}
//   {"id":1,"reply":true}
// with the date in seconds since 1970-01-01 00:00:00 UTC. The helper answers
// the requests of a connection in order. The socket is opened with the first
// message; a refused or broken connection fails every message waiting for an
// answer and every later one, and ends in invalidated().
class SocketWakeHelperConnection : public WakeHelperConnection
{
    Q_OBJECT

public:
    // The socket that the system's service manager opens for the helper.
    static QString defaultSocketPath();

    explicit SocketWakeHelperConnection(const QString &socketPath, QObject *parent = nullptr);

    void scheduleWakeAt(const QDateTime &date, Reply reply, ErrorHandler onError) override;
    void cancelWakeAt(const QDateTime &date, Reply reply, ErrorHandler onError) override;
    void invalidate() override;

private:
    struct Pending
    {
        qint64 id;
        Reply reply;
        ErrorHandler onError;
    };

    void send(const QString &method, const QDateTime &date, Reply reply, ErrorHandler onError);
    void open();
    void flush();
    void readReplies();
    bool handleReply(const QByteArray &line);
    void socketFailed();
    void fail(const QString &description);
    void finishClosing();

    QString m_socketPath;
    QLocalSocket *m_socket = nullptr;
    QByteArray m_outgoing; // written once connected
    QByteArray m_incoming;
    std::deque<Pending> m_pending;
    qint64 m_nextID = 1;
    bool m_failed = false;
    bool m_closing = false;
    QString m_failure;
};
