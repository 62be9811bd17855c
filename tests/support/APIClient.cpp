#include "APIClient.h"

#include "TestSupport.h"

#include <QHostAddress>
#include <QTcpSocket>

std::optional<APIResponse> apiRequest(quint16 port, const QByteArray &method, const QByteArray &path,
                                      const QByteArray &body, std::chrono::milliseconds timeout)
{
    QTcpSocket socket;
    QByteArray received;
    bool closed = false;
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { received += socket.readAll(); });
    QObject::connect(&socket, &QTcpSocket::disconnected, [&] { closed = true; });
    QObject::connect(&socket, &QTcpSocket::errorOccurred, [&] { closed = true; });
    QByteArray request = method + ' ' + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (!body.isEmpty())
        request += "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n";
    request += "\r\n" + body;
    QObject::connect(&socket, &QTcpSocket::connected, [&] { socket.write(request); });
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!testsupport::waitUntil([&] { return closed; }, timeout))
        return std::nullopt;
    if (socket.isOpen())
        received += socket.readAll();
    const qsizetype end = received.indexOf("\r\n\r\n");
    if (end < 0)
        return std::nullopt;
    APIResponse response;
    response.body = received.mid(end + 4);
    response.status = received.mid(9, 3).toInt();
    return response;
}

std::optional<QJsonObject> listedRecording(quint16 port, const QString &id)
{
    const auto response = apiRequest(port, "GET", "/api/recordings");
    if (!response || response->status != 200)
        return std::nullopt;
    for (const auto &entry : response->array()) {
        if (entry.toObject().value(QStringLiteral("id")).toString() == id)
            return entry.toObject();
    }
    return std::nullopt;
}
