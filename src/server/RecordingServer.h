#pragma once

#include "APIRouter.h"
#include "HTTPConnection.h"

#include <QAbstractSocket>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <memory>
#include <optional>

class HTTPServer;
class RecordingManager;

// The recorder's HTTP server: the API of APIRouter on TCP port 8642 of
// every interface, served by the thread "tivolux.recorder.http". Lives on
// the main thread, where startError is kept and read.
class RecordingServer : public QObject
{
    Q_OBJECT

public:
    static constexpr quint16 kPort = 8642;
    static constexpr char kThreadName[] = "tivolux.recorder.http";
    static constexpr int kMaximumConnections = 512;

    struct Configuration
    {
        QHostAddress address = QHostAddress(QHostAddress::Any);
        quint16 port = kPort; // 0 picks a free port
        HTTPConnection::Timing timing;
        // 0: connectionCap() of the open-file limit when the server starts.
        int maximumConnections = 0;
        RecordingManager *manager = nullptr; // none: the shared manager
    };

    RecordingServer();
    explicit RecordingServer(Configuration configuration, QObject *parent = nullptr);
    ~RecordingServer() override;

    // The process-wide server, created on first use on the main thread and
    // kept until the process ends, with the configuration set before.
    static RecordingServer &shared();
    static void setSharedConfiguration(Configuration configuration);

    // Listens unless a listener exists already. Failures are kept in
    // startError and logged; nothing is retried once a listener exists.
    void start();

    // Why the server is not listening, if it is not.
    const std::optional<QString> &startError() const { return m_startError; }
    // The port listened on, 0 when not listening.
    quint16 serverPort() const;

    // How many HTTP connections may be open at once: kMaximumConnections,
    // and never more than a quarter of the open-file limit. A connection
    // holds at most two descriptors (its socket and a recording's file), so
    // a flood of them leaves at least half the descriptors to recordings,
    // the index, the provider check and the helper.
    static int connectionCap(qint64 openFileLimit);

    // The computer's IPv4 address as the user types it into the TV app; at
    // most kLocalAddressLifetime old.
    static std::optional<QString> localIPv4Address();

signals:
    void startErrorChanged();

private:
    void listenerFailed(const QString &description);
    void couldNotStart(const QString &description);

    Configuration m_configuration;
    APIRouter m_router;
    std::unique_ptr<HTTPServer> m_http;
    bool m_hasListener = false;
    std::optional<QString> m_startError;
};
