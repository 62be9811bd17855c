#include "RangeClient.h"

#include "HTTPExchange.h"
#include "SoakContent.h"

#include <QTimer>

namespace {

constexpr qint64 kLongestRange = 2 * 1024 * 1024;
constexpr double kHangUpChance = 0.1;
constexpr int kRequestTimeout = 30000;
constexpr int kKeptProblems = 10;

} // namespace

RangeClient::RangeClient(quint16 port, Pick pick, Figures &figures, QObject *parent)
    : QObject(parent), m_port(port), m_pick(std::move(pick)), m_figures(figures),
      m_random(QRandomGenerator::securelySeeded())
{
}

void RangeClient::start()
{
    QTimer::singleShot(int(m_random.bounded(500)), this, &RangeClient::next);
}

void RangeClient::problem(const QString &text)
{
    ++m_figures.failures;
    if (m_figures.problems.size() < kKeptProblems)
        m_figures.problems.append(text);
}

void RangeClient::next()
{
    m_busy = false;
    if (m_stopping)
        return;
    const auto target = m_pick();
    if (!target || target->bytes < 2) {
        QTimer::singleShot(200, this, &RangeClient::next);
        return;
    }
    // A range inside what the API reported, which the file already holds.
    const qint64 first = qint64(m_random.bounded(double(target->bytes - 1)));
    const qint64 length = 1 + qint64(m_random.bounded(double(std::min(kLongestRange, target->bytes - first))));
    const qint64 last = first + length - 1;
    const bool hangUp = m_random.generateDouble() < kHangUpChance;
    const QByteArray request = "GET /recordings/" + target->id.toLatin1() + ".ts HTTP/1.1\r\nHost: 127.0.0.1\r\nRange: bytes="
        + QByteArray::number(first) + '-' + QByteArray::number(last) + "\r\n\r\n";

    m_busy = true;
    ++m_figures.requests;
    const int stream = target->stream;
    const QString id = target->id;
    HTTPExchange::send(
        m_port, request, kRequestTimeout,
        [this, stream, id, first, length, last](const HTTPExchange::Reply &reply) {
            if (reply.aborted) {
                ++m_figures.hungUp;
            } else if (!reply.complete) {
                problem(QStringLiteral("%1 bytes %2-%3: no complete answer").arg(id).arg(first).arg(last));
            } else if (reply.status != 206) {
                problem(QStringLiteral("%1 bytes %2-%3: status %4").arg(id).arg(first).arg(last).arg(reply.status));
            } else if (!reply.header("Content-Range").startsWith("bytes " + QByteArray::number(first) + '-'
                                                                 + QByteArray::number(last) + '/')) {
                problem(QStringLiteral("%1 bytes %2-%3: Content-Range %4")
                            .arg(id).arg(first).arg(last).arg(QString::fromLatin1(reply.header("Content-Range"))));
            } else if (reply.body != soakContent(stream, first, length)) {
                problem(QStringLiteral("%1 bytes %2-%3: %4 bytes received, not the recorded ones")
                            .arg(id).arg(first).arg(last).arg(reply.body.size()));
            } else {
                ++m_figures.verified;
                m_figures.bytes += reply.body.size();
            }
            QTimer::singleShot(20 + int(m_random.bounded(180)), this, &RangeClient::next);
        },
        hangUp ? 1 + qint64(m_random.bounded(double(length))) : -1);
}
