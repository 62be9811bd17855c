#include "HTTPRequestParser.h"

#include "TextReaders.h"

#include <QStringList>

namespace {

const QByteArray kHeaderEnd = QByteArrayLiteral("\r\n\r\n");

HTTPRequest parseHead(const QByteArray &block)
{
    HTTPRequest request;
    // Invalid UTF-8 becomes the replacement character.
    const QStringList lines = QString::fromUtf8(block).split(QStringLiteral("\r\n"));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QString &line = lines.at(i);
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon < 0)
            continue;
        // The name keeps any blanks before the colon: "Content-Length :" is
        // not the length header.
        request.headers.insert(line.left(colon).toLower(), trimBlanksAndTabs(line.mid(colon + 1)).toString());
    }
    const QStringList words = lines.first().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.size() < 2)
        return request;
    request.method = words.at(0).toUpper();
    const QString target = words.at(1);
    const qsizetype query = target.indexOf(QLatin1Char('?'));
    request.path = percentDecoded(query < 0 ? target : target.left(query)).value_or(QString());
    return request;
}

} // namespace

std::optional<HTTPRequest> HTTPRequestParser::append(const QByteArray &bytes)
{
    m_buffer.append(bytes);
    if (m_bodyStart < 0) {
        const qsizetype end = m_buffer.indexOf(kHeaderEnd, m_searchFrom);
        if (end < 0) {
            // The end marker may straddle this piece and the next one.
            m_searchFrom = qMax<qsizetype>(0, m_buffer.size() - (kHeaderEnd.size() - 1));
            return std::nullopt;
        }
        m_head = parseHead(m_buffer.left(end));
        m_bodyStart = end + kHeaderEnd.size();
        m_bodyLength = bodyLength(m_head.header(QStringLiteral("content-length")));
    }
    if (m_buffer.size() - m_bodyStart < m_bodyLength)
        return std::nullopt;
    HTTPRequest request = m_head;
    request.body = m_buffer.mid(m_bodyStart, m_bodyLength);
    return request;
}

std::optional<HTTPRequest> HTTPRequestParser::parse(const QByteArray &buffer)
{
    HTTPRequestParser parser;
    return parser.append(buffer);
}

qsizetype HTTPRequestParser::bodyLength(const std::optional<QString> &contentLength)
{
    if (!contentLength)
        return 0;
    // A negative or unreadable length counts as no body.
    const auto value = readUnsignedInteger(*contentLength);
    return value ? qsizetype(qMin<qint64>(*value, kMaximumBodyLength)) : 0;
}
