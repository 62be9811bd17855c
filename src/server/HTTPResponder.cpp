#include "HTTPResponder.h"

#include "HTTPConnection.h"
#include "HTTPListener.h"

#include <QMetaObject>

HTTPResponder::HTTPResponder(QPointer<HTTPListener> listener, quint64 connectionID)
    : m_listener(std::move(listener))
    , m_connectionID(connectionID)
{
}

void HTTPResponder::send(const QByteArray &status, const QByteArray &contentType,
                         const std::optional<QByteArray> &body, bool headOnly) const
{
    post([status, contentType, body, headOnly](HTTPConnection &connection) {
        connection.send(status, contentType, body, headOnly);
    });
}

void HTTPResponder::serveFile(const std::optional<QString> &path, const std::optional<QString> &range,
                              bool headOnly) const
{
    post([path, range, headOnly](HTTPConnection &connection) {
        connection.serveFile(path, range, headOnly);
    });
}

void HTTPResponder::post(std::function<void(HTTPConnection &)> work) const
{
    // The listener is only destroyed while the thread that answers through
    // it waits for the server thread to end, so it cannot vanish between
    // this check and the call being queued.
    HTTPListener *listener = m_listener.data();
    if (!listener)
        return;
    const quint64 id = m_connectionID;
    QMetaObject::invokeMethod(
        listener,
        [listener, id, work = std::move(work)] {
            if (HTTPConnection *connection = listener->connection(id))
                work(*connection);
        },
        Qt::QueuedConnection);
}
