#include "APIPoller.h"

#include "HTTPExchange.h"

#include <QJsonDocument>

namespace {
constexpr int kPeriod = 100;
constexpr int kCallTimeout = 10000;
} // namespace

APIPoller::APIPoller(quint16 port, std::function<void(const QJsonArray &)> listed, Figures &figures, QObject *parent)
    : QObject(parent), m_port(port), m_listed(std::move(listed)), m_figures(figures)
{
    m_timer.setInterval(kPeriod);
    connect(&m_timer, &QTimer::timeout, this, &APIPoller::call);
}

void APIPoller::call()
{
    const bool info = ++m_count % 10 == 0;
    const QByteArray path = info ? "/api/info" : "/api/recordings";
    ++m_pending;
    ++m_figures.calls;
    HTTPExchange::send(m_port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", kCallTimeout,
                       [this, info](const HTTPExchange::Reply &reply) {
                           --m_pending;
                           QJsonParseError error{};
                           const QJsonDocument document = QJsonDocument::fromJson(reply.body, &error);
                           const bool valid = reply.complete && reply.status == 200
                               && error.error == QJsonParseError::NoError
                               && (info ? document.isObject() : document.isArray());
                           if (!valid) {
                               ++m_figures.failures;
                               return;
                           }
                           m_figures.slowestMilliseconds = std::max(m_figures.slowestMilliseconds, reply.milliseconds);
                           m_figures.totalMilliseconds += reply.milliseconds;
                           if (!info && m_listed)
                               m_listed(document.array());
                       });
}
