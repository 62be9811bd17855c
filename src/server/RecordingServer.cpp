#include "RecordingServer.h"

#include "HTTPServer.h"
#include "LocalAddress.h"
#include "OpenFileLimit.h"

#include <QDebug>

#include <algorithm>

RecordingServer::RecordingServer()
    : RecordingServer(Configuration())
{
}

RecordingServer::RecordingServer(Configuration configuration, QObject *parent)
    : QObject(parent)
    , m_configuration(std::move(configuration))
    , m_router(m_configuration.manager)
{
}

// The HTTP thread is stopped before the router goes, so no request can
// reach a destroyed router.
RecordingServer::~RecordingServer()
{
    m_http.reset();
}

namespace {

RecordingServer::Configuration &sharedConfiguration()
{
    static RecordingServer::Configuration configuration;
    return configuration;
}

} // namespace

void RecordingServer::setSharedConfiguration(Configuration configuration)
{
    sharedConfiguration() = std::move(configuration);
}

RecordingServer &RecordingServer::shared()
{
    static RecordingServer *const instance = new RecordingServer(sharedConfiguration());
    return *instance;
}

void RecordingServer::start()
{
    if (m_hasListener)
        return;
    if (!m_http) {
        m_http = std::make_unique<HTTPServer>(
            QString::fromLatin1(kThreadName), m_configuration.timing,
            m_configuration.maximumConnections > 0 ? m_configuration.maximumConnections
                                                   : connectionCap(openFileLimit()),
            [this](const HTTPRequest &request, const QStringList &segments, const HTTPResponder &responder) {
                m_router.route(request, segments, responder);
            });
        connect(m_http.get(), &HTTPServer::listenerFailed, this,
                [this](QAbstractSocket::SocketError, const QString &description) { listenerFailed(description); });
    }
    const HTTPServer::ListenResult result = m_http->listen(m_configuration.address, m_configuration.port);
    if (result.listening) {
        m_hasListener = true;
        return;
    }
    switch (result.error) {
    case QAbstractSocket::AddressInUseError:
    case QAbstractSocket::SocketAccessError:
        // The port cannot be had: the listener exists but has failed, as
        // when it fails later; it is not retried.
        m_hasListener = true;
        listenerFailed(result.errorString);
        break;
    default:
        couldNotStart(result.errorString);
        break;
    }
}

int RecordingServer::connectionCap(qint64 openFileLimit)
{
    return int(std::clamp<qint64>(openFileLimit / 4, 1, kMaximumConnections));
}

quint16 RecordingServer::serverPort() const
{
    return m_http ? m_http->serverPort() : 0;
}

void RecordingServer::listenerFailed(const QString &description)
{
    m_startError = QStringLiteral("Port %1 is not available: ").arg(m_configuration.port) + description;
    qWarning().noquote() << QStringLiteral("[TivoluxRecorder] server failed: ") + description;
    emit startErrorChanged();
}

void RecordingServer::couldNotStart(const QString &description)
{
    m_startError = description;
    qWarning().noquote() << QStringLiteral("[TivoluxRecorder] server could not start: ") + description;
    emit startErrorChanged();
}

std::optional<QString> RecordingServer::localIPv4Address()
{
    static LocalAddressCache cache;
    return cache.address();
}
