#include "HelperConnection.h"

#include "WakeRequest.h"
#include "WakeService.h"

#include <QLocalSocket>

HelperConnection::HelperConnection(QLocalSocket *socket, uid_t client, WakeService &service, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
    , m_client(client)
    , m_service(service)
{
    m_socket->setParent(this);
    connect(m_socket, &QLocalSocket::readyRead, this, &HelperConnection::readRequests);
    connect(m_socket, &QLocalSocket::disconnected, this, [this] {
        readRequests(); // what the client sent before it hung up still runs
        close();
    });
    readRequests(); // bytes that came with the connection
}

void HelperConnection::readRequests()
{
    if (m_closed)
        return;
    m_buffer += m_socket->readAll();
    qsizetype end;
    while ((end = m_buffer.indexOf('\n')) >= 0) {
        if (end > kLongestRequest) {
            close();
            return;
        }
        const std::optional<WakeRequest> request = WakeRequest::parse(m_buffer.left(end));
        m_buffer.remove(0, end + 1);
        if (!request) {
            close();
            return;
        }
        const bool accepted = request->method == WakeRequest::Method::ScheduleWakeAt
            ? m_service.scheduleWakeAt(request->date, m_client)
            : m_service.cancelWakeAt(request->date, m_client);
        m_socket->write(WakeRequest::reply(request->id, accepted));
    }
    if (m_buffer.size() > kLongestRequest)
        close();
}

void HelperConnection::close()
{
    if (m_closed)
        return;
    m_closed = true;
    m_socket->disconnect(this);
    m_socket->abort();
    deleteLater();
}
