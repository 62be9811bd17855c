#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>
#include <functional>

// One request to the recorder on its own connection, read until the server
// closes it. Event driven; the callback runs once, after which the object
// deletes itself. With abortAfter set, the client hangs up once that many
// bytes have arrived (a viewer who stops watching).
class HTTPExchange : public QObject
{
    Q_OBJECT

public:
    struct Reply
    {
        bool complete = false; // the server answered and closed
        bool aborted = false;  // the client hung up on purpose
        int status = 0;
        QByteArray head;
        QByteArray body;
        qint64 milliseconds = 0;

        QByteArray header(const QByteArray &name) const;
    };

    using Done = std::function<void(const Reply &reply)>;

    static void send(quint16 port, const QByteArray &request, int timeoutMilliseconds, Done done,
                     qint64 abortAfter = -1);

private:
    HTTPExchange(quint16 port, const QByteArray &request, int timeoutMilliseconds, Done done, qint64 abortAfter);
    void received();
    void end(bool complete, bool aborted);

    QTcpSocket m_socket;
    QTimer m_timeout;
    QElapsedTimer m_clock;
    QByteArray m_bytes;
    Done m_done;
    qint64 m_abortAfter;
    bool m_ended = false;
};
