#include "SocketWakeHelperConnection.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

// No reply of the helper comes near this; more without a line end means the
// peer does not speak the protocol.
constexpr qsizetype kLongestReply = 1024;

QString reasonFor(const QLocalSocket &socket)
{
    switch (socket.error()) {
    case QLocalSocket::ServerNotFoundError:
        return QStringLiteral("nothing listens there");
    case QLocalSocket::ConnectionRefusedError:
        return QStringLiteral("the connection was refused");
    case QLocalSocket::SocketAccessError:
        return QStringLiteral("permission denied");
    case QLocalSocket::PeerClosedError:
        return QStringLiteral("the helper closed the connection");
    default:
        return socket.errorString();
    }
}

} // namespace

QString SocketWakeHelperConnection::defaultSocketPath()
{
    return QStringLiteral(TIVOLUX_HELPER_SOCKET);
}

SocketWakeHelperConnection::SocketWakeHelperConnection(const QString &socketPath, QObject *parent)
    : WakeHelperConnection(parent)
    , m_socketPath(socketPath)
{
}

void SocketWakeHelperConnection::scheduleWakeAt(const QDateTime &date, Reply reply, ErrorHandler onError)
{
    send(QStringLiteral("scheduleWakeAt"), date, std::move(reply), std::move(onError));
}

void SocketWakeHelperConnection::cancelWakeAt(const QDateTime &date, Reply reply, ErrorHandler onError)
{
    send(QStringLiteral("cancelWakeAt"), date, std::move(reply), std::move(onError));
}

void SocketWakeHelperConnection::send(const QString &method, const QDateTime &date, Reply reply,
                                      ErrorHandler onError)
{
    if (m_failed || m_closing) {
        if (onError)
            onError(m_failed ? m_failure : QStringLiteral("the connection to the helper was invalidated"));
        return;
    }
    const qint64 id = m_nextID++;
    const QJsonObject request{{QStringLiteral("id"), id},
                              {QStringLiteral("method"), method},
                              {QStringLiteral("date"), double(date.toMSecsSinceEpoch()) / 1000}};
    m_outgoing += QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n';
    m_pending.push_back(Pending{id, std::move(reply), std::move(onError)});
    if (!m_socket)
        open(); // may fail at once and so answer this message already
    else
        flush();
}

void SocketWakeHelperConnection::open()
{
    m_socket = new QLocalSocket(this);
    connect(m_socket, &QLocalSocket::connected, this, &SocketWakeHelperConnection::flush);
    connect(m_socket, &QLocalSocket::readyRead, this, &SocketWakeHelperConnection::readReplies);
    connect(m_socket, &QLocalSocket::errorOccurred, this, &SocketWakeHelperConnection::socketFailed);
    connect(m_socket, &QLocalSocket::disconnected, this, &SocketWakeHelperConnection::socketFailed);
    m_socket->connectToServer(m_socketPath);
}

void SocketWakeHelperConnection::flush()
{
    if (!m_socket || m_socket->state() != QLocalSocket::ConnectedState || m_outgoing.isEmpty())
        return;
    m_socket->write(m_outgoing);
    m_outgoing.clear();
    if (m_closing)
        m_socket->disconnectFromServer(); // after the written bytes have left
}

void SocketWakeHelperConnection::readReplies()
{
    if (m_closing) {
        m_socket->readAll(); // nobody waits for these answers any more
        return;
    }
    m_incoming += m_socket->readAll();
    qsizetype end;
    while (!m_failed && (end = m_incoming.indexOf('\n')) >= 0) {
        const QByteArray line = m_incoming.left(end);
        m_incoming.remove(0, end + 1);
        if (!handleReply(line)) {
            fail(QStringLiteral("the helper at %1 sent an unexpected reply").arg(m_socketPath));
            return;
        }
    }
    if (m_incoming.size() > kLongestReply)
        fail(QStringLiteral("the helper at %1 sent an unexpected reply").arg(m_socketPath));
}

bool SocketWakeHelperConnection::handleReply(const QByteArray &line)
{
    const QJsonObject reply = QJsonDocument::fromJson(line).object();
    const QJsonValue accepted = reply.value(QStringLiteral("reply"));
    if (m_pending.empty() || !accepted.isBool()
        || reply.value(QStringLiteral("id")).toInteger(-1) != m_pending.front().id)
        return false;
    Pending answered = std::move(m_pending.front());
    m_pending.pop_front();
    if (answered.reply)
        answered.reply(accepted.toBool());
    return true;
}

void SocketWakeHelperConnection::socketFailed()
{
    if (m_closing) {
        finishClosing();
        return;
    }
    if (m_failed)
        return;
    // Replies that arrived just before the helper closed still count.
    if (m_socket->bytesAvailable() > 0)
        readReplies();
    if (m_failed)
        return;
    fail(QStringLiteral("cannot talk to the helper at %1: %2").arg(m_socketPath, reasonFor(*m_socket)));
}

void SocketWakeHelperConnection::fail(const QString &description)
{
    m_failed = true;
    m_failure = description;
    m_outgoing.clear();
    if (m_socket)
        m_socket->abort();
    std::deque<Pending> unanswered;
    unanswered.swap(m_pending);
    for (const Pending &pending : unanswered) {
        if (pending.onError)
            pending.onError(description);
    }
    emit invalidated();
    deleteLater();
}

void SocketWakeHelperConnection::invalidate()
{
    if (m_closing || m_failed)
        return;
    m_closing = true;
    if (!m_socket) {
        finishClosing();
        return;
    }
    if (m_socket->state() == QLocalSocket::ConnectedState)
        flush();
    if (m_outgoing.isEmpty() && m_socket->state() == QLocalSocket::ConnectedState)
        m_socket->disconnectFromServer();
    // Still connecting: flush() sends the queued messages and then closes.
}

void SocketWakeHelperConnection::finishClosing()
{
    m_pending.clear();
    if (m_socket)
        m_socket->disconnect(this);
    deleteLater();
}
