#include "HTTPServer.h"

#include "HTTPResponder.h"

#include <QMetaObject>

HTTPServer::HTTPServer(const QString &threadName, HTTPConnection::Timing timing, int maximumConnections,
                       Handler handler, QObject *parent)
    : QObject(parent)
    , m_handler(std::move(handler))
{
    m_thread.setObjectName(threadName);
    // Requests reach this object's thread first; the handler runs here.
    m_listener = new HTTPListener(
        timing, maximumConnections, this,
        [this](const HTTPRequest &request, const QStringList &segments, const HTTPResponder &responder) {
            m_handler(request, segments, responder);
        });
    m_listener->moveToThread(&m_thread);
    // The listener and its connections are deleted on their own thread as it
    // ends; nothing else posts to them once it has.
    connect(&m_thread, &QThread::finished, m_listener, &QObject::deleteLater);
    connect(m_listener, &HTTPListener::listenerFailed, this, &HTTPServer::listenerFailed,
            Qt::QueuedConnection);
}

HTTPServer::~HTTPServer()
{
    if (m_thread.isRunning()) {
        m_thread.quit();
        m_thread.wait();
    } else {
        delete m_listener;
    }
}

HTTPServer::ListenResult HTTPServer::listen(const QHostAddress &address, quint16 port)
{
    if (!m_thread.isRunning())
        m_thread.start();
    ListenResult result;
    HTTPListener *listener = m_listener;
    QMetaObject::invokeMethod(
        listener, [&result, listener, address, port] { result = listener->listen(address, port); },
        Qt::BlockingQueuedConnection);
    return result;
}

quint16 HTTPServer::serverPort() const
{
    if (!m_thread.isRunning())
        return 0;
    quint16 port = 0;
    HTTPListener *listener = m_listener;
    QMetaObject::invokeMethod(
        listener, [&port, listener] { port = listener->serverPort(); }, Qt::BlockingQueuedConnection);
    return port;
}

qsizetype HTTPServer::connectionCount() const
{
    if (!m_thread.isRunning())
        return 0;
    qsizetype count = 0;
    HTTPListener *listener = m_listener;
    QMetaObject::invokeMethod(
        listener, [&count, listener] { count = listener->connectionCount(); },
        Qt::BlockingQueuedConnection);
    return count;
}
