#include "PlaylistText.h"

#include <charconv>

namespace {

bool isLineBreak(char16_t c)
{
    switch (c) {
    case u'\n': case u'\v': case u'\f': case u'\r':
    case u'\u0085': case u'\u2028': case u'\u2029':
        return true;
    default:
        return false;
    }
}

} // namespace

QList<QStringView> splitPlaylistLines(QStringView text)
{
    QList<QStringView> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !isLineBreak(text.at(i).unicode()))
            continue;
        // A carriage return and line feed pair yields an empty piece between
        // them, which is dropped like every other empty line.
        if (i > start)
            lines.append(text.mid(start, i - start));
        start = i + 1;
    }
    return lines;
}

std::optional<qint64> readPlaylistInteger(QStringView text)
{
    return readSignedInteger(text);
}

std::optional<double> readPlaylistDecimal(QStringView text)
{
    // from_chars takes no leading plus sign; one is allowed, but not before
    // another sign.
    if (text.startsWith(QLatin1Char('+'))) {
        text = text.mid(1);
        if (text.startsWith(QLatin1Char('+')) || text.startsWith(QLatin1Char('-')))
            return std::nullopt;
    }
    if (text.isEmpty())
        return std::nullopt;
    QByteArray ascii;
    ascii.reserve(text.size());
    for (QChar c : text) {
        // Only ASCII can belong to the number; blanks anywhere, like any
        // other stray character, make the whole text unreadable.
        if (c.unicode() > 0x7f || c.isSpace())
            return std::nullopt;
        ascii.append(char(c.unicode()));
    }
    double value = 0.0;
    const char *end = ascii.constData() + ascii.size();
    const auto result = std::from_chars(ascii.constData(), end, value, std::chars_format::general);
    if (result.ec != std::errc() || result.ptr != end)
        return std::nullopt;
    return value;
}

std::optional<QUrl> resolvePlaylistURI(QStringView uri, const QUrl &base)
{
    const QUrl reference(uri.toString(), QUrl::TolerantMode);
    if (!reference.isValid())
        return std::nullopt;
    const QUrl resolved = base.resolved(reference);
    if (!resolved.isValid() || resolved.isRelative())
        return std::nullopt;
    return resolved;
}
