#include "HLSPlaylist.h"

#include "PlaylistText.h"

namespace {

struct Variant
{
    qint64 bandwidth = 0;
    QUrl url;
};

// The BANDWIDTH value of a stream-information line. The first "BANDWIDTH="
// anywhere counts, even as the tail of AVERAGE-BANDWIDTH=; a missing, empty
// or unreadable value counts as 0.
qint64 bandwidthOf(QStringView line)
{
    const QLatin1String attribute("BANDWIDTH=");
    const qsizetype at = line.indexOf(attribute);
    if (at < 0)
        return 0;
    QStringView value = line.mid(at + attribute.size());
    const qsizetype comma = value.indexOf(QLatin1Char(','));
    if (comma >= 0)
        value = value.left(comma);
    while (value.startsWith(QLatin1Char('"')))
        value = value.mid(1);
    while (value.endsWith(QLatin1Char('"')))
        value.chop(1);
    return readPlaylistInteger(value).value_or(0);
}

} // namespace

std::optional<QUrl> bestVariant(const QString &masterText, const QUrl &base)
{
    std::optional<Variant> choice;
    // A plain flag rather than an optional: g++ 12 reports the optional's
    // value as possibly uninitialised here.
    bool hasPendingBandwidth = false;
    qint64 pendingBandwidth = 0;
    for (QStringView rawLine : splitPlaylistLines(masterText)) {
        const QStringView line = trimBlanksAndTabs(rawLine);
        if (line.startsWith(QLatin1String("#EXT-X-STREAM-INF"))) {
            pendingBandwidth = bandwidthOf(line);
            hasPendingBandwidth = true;
            continue;
        }
        if (!hasPendingBandwidth || line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qint64 bandwidth = pendingBandwidth;
        hasPendingBandwidth = false;
        const auto url = resolvePlaylistURI(line, base);
        if (!url)
            continue;
        // Without a choice yet any bandwidth from -1 up is taken; a variant
        // announcing a lower one is passed over.
        const qint64 toBeat = choice ? choice->bandwidth : -1;
        if (bandwidth >= toBeat)
            choice = Variant{bandwidth, *url};
    }
    if (!choice)
        return std::nullopt;
    return choice->url;
}
