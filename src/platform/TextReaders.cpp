#include "TextReaders.h"

#include <QByteArray>
#include <QStringDecoder>
#include <limits>

namespace {

bool isBlankOrTab(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

} // namespace

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

QStringView trimBlanksAndTabs(QStringView text)
{
    while (!text.isEmpty() && isBlankOrTab(text.front()))
        text = text.mid(1);
    while (!text.isEmpty() && isBlankOrTab(text.back()))
        text.chop(1);
    return text;
}

std::optional<qint64> readSignedInteger(QStringView text)
{
    const bool negative = text.startsWith(QLatin1Char('-'));
    if (negative || text.startsWith(QLatin1Char('+')))
        text = text.mid(1);
    if (text.isEmpty())
        return std::nullopt;
    // Accumulating towards the sign keeps the most negative value readable.
    constexpr qint64 minimum = std::numeric_limits<qint64>::min();
    constexpr qint64 maximum = std::numeric_limits<qint64>::max();
    qint64 value = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        const int digit = c.unicode() - u'0';
        if (negative ? value < (minimum + digit) / 10 : value > (maximum - digit) / 10)
            return std::nullopt;
        value = negative ? value * 10 - digit : value * 10 + digit;
    }
    return value;
}

std::optional<qint64> readUnsignedInteger(QStringView text)
{
    if (text.startsWith(QLatin1Char('-')))
        return std::nullopt;
    return readSignedInteger(text);
}

std::optional<QString> percentDecoded(QStringView text)
{
    const QByteArray encoded = text.toUtf8();
    QByteArray decoded;
    decoded.reserve(encoded.size());
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        const char c = encoded.at(i);
        if (c != '%') {
            decoded.append(c);
            continue;
        }
        if (i + 2 >= encoded.size())
            return std::nullopt;
        const int high = hexDigitValue(encoded.at(i + 1));
        const int low = hexDigitValue(encoded.at(i + 2));
        if (high < 0 || low < 0)
            return std::nullopt;
        decoded.append(char(high * 16 + low));
        i += 2;
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString result = utf8.decode(decoded);
    if (utf8.hasError())
        return std::nullopt;
    return result;
}
