#pragma once

#include <QHash>
#include <QObject>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QUrl>
#include <chrono>
#include <memory>

class QTcpSocket;

// A misbehaving IPTV provider on 127.0.0.1: stream number N lives at
// /live/N.ts and is one endless byte sequence (soakContent). Each request
// gets, at random, a refusal with 509, a connection closed before any answer,
// or a piece of the stream of random length at a steady rate that then ends
// with an orderly close, so that every byte sent reaches the client and a
// reconnect continues where the last piece stopped.
class SoakProvider : public QObject
{
    Q_OBJECT

public:
    struct Settings
    {
        double fullChance = 0.15;        // answer 509
        double dropChance = 0.05;        // close without answering
        qint64 shortestPiece = 32 * 1024;
        qint64 longestPiece = 1536 * 1024;
        qint64 chunkSize = 4096;
        std::chrono::milliseconds chunkInterval{40};
    };

    struct StreamFigures
    {
        qint64 sent = 0;
        int pieces = 0;
        int refusals = 0;
        int drops = 0;
    };

    explicit SoakProvider(Settings settings, QObject *parent = nullptr);
    ~SoakProvider() override;

    QUrl url(int stream) const;
    StreamFigures figures(int stream) const { return m_streams.value(stream); }
    int openConnections() const { return int(m_connections.size()); }

    // From now on every request is refused with 509 and every piece ends at
    // its next chunk: the streams go quiet so that clients can catch up.
    void goQuiet();

private:
    struct Connection;

    void accept();
    void readRequest(const std::shared_ptr<Connection> &connection);
    void writeChunk(const std::shared_ptr<Connection> &connection);
    void forget(QTcpSocket *socket);

    Settings m_settings;
    QTcpServer m_server;
    QRandomGenerator m_random;
    bool m_quiet = false;
    QHash<int, StreamFigures> m_streams;
    QHash<QTcpSocket *, std::shared_ptr<Connection>> m_connections;
};
