#include "FileNaming.h"

#include <QLocale>
#include <QTextBoundaryFinder>

namespace {

constexpr int kMaximumTitleCharacters = 80;
// Linux file systems limit one name to 255 bytes, counted in UTF-8.
constexpr qsizetype kMaximumNameBytes = 255;

bool isForbidden(char32_t c)
{
    switch (c) {
    case U'/': case U'\\': case U':': case U'?': case U'%': case U'*':
    case U'|': case U'"': case U'<': case U'>':
        return true;
    default:
        return QChar::category(c) == QChar::Other_Control;
    }
}

// Every forbidden or control character becomes one space.
QString replaceForbidden(const QString &title)
{
    QString cleaned;
    cleaned.reserve(title.size());
    for (char32_t c : title.toUcs4()) {
        if (isForbidden(c))
            cleaned.append(QLatin1Char(' '));
        else
            cleaned.append(QString::fromUcs4(&c, 1));
    }
    return cleaned;
}

// Trims Unicode space separators (all of them lie in the basic plane).
QString trimSpaceSeparators(const QString &text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first).category() == QChar::Separator_Space)
        ++first;
    while (last > first && text.at(last - 1).category() == QChar::Separator_Space)
        --last;
    return text.mid(first, last - first);
}

// The longest run of whole grapheme clusters from the start of the text that
// has at most `count` clusters and at most `maxBytes` bytes in UTF-8.
QString leadingCharacters(const QString &text, int count, qsizetype maxBytes)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int seen = 0;
    qsizetype position = 0;
    qsizetype bytes = 0;
    while (seen < count) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0)
            break;
        const qsizetype clusterBytes = QStringView(text).mid(position, next - position).toUtf8().size();
        if (bytes + clusterBytes > maxBytes)
            break;
        bytes += clusterBytes;
        position = next;
        ++seen;
    }
    return text.left(position);
}

} // namespace

QString makeFileName(const QString &title, const QDateTime &programStart, const QUuid &id)
{
    const QString when = QLocale::c().toString(programStart.toLocalTime(), QStringLiteral("yyyy-MM-dd HH.mm"));
    const QString idFragment = id.toString(QUuid::WithoutBraces).toUpper().left(6);
    const QString tail = QLatin1Char(' ') + when + QLatin1Char(' ') + idFragment + QStringLiteral(".ts");
    // The title gets what the rest of the name leaves of the byte limit, so a
    // long title in a script of several bytes per character still fits.
    const QString cleaned = leadingCharacters(trimSpaceSeparators(replaceForbidden(title)),
                                              kMaximumTitleCharacters, kMaximumNameBytes - tail.toUtf8().size());
    return cleaned + tail;
}
