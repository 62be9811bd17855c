#pragma once

#include <QByteArray>
#include <QPointer>
#include <QString>
#include <functional>
#include <optional>

class HTTPConnection;
class HTTPListener;

// The way back to the connection a request came from, for code on another
// thread. Each answer travels to the server thread as a queued call carrying
// values; if the connection or the whole listener has gone in the meantime,
// the answer is dropped. Copies are cheap and may outlive the connection.
class HTTPResponder
{
public:
    HTTPResponder(QPointer<HTTPListener> listener, quint64 connectionID);

    void send(const QByteArray &status, const QByteArray &contentType,
              const std::optional<QByteArray> &body = std::nullopt, bool headOnly = false) const;
    void serveFile(const std::optional<QString> &path, const std::optional<QString> &range, bool headOnly) const;

private:
    void post(std::function<void(HTTPConnection &)> work) const;

    QPointer<HTTPListener> m_listener;
    quint64 m_connectionID;
};
