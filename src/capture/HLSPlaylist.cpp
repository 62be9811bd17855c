#include "HLSPlaylist.h"

#include "PlaylistText.h"

#include <QHash>
#include <QtNumeric>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr QLatin1String kMediaSequenceTag("#EXT-X-MEDIA-SEQUENCE:");
constexpr QLatin1String kTargetDurationTag("#EXT-X-TARGETDURATION:");
constexpr QLatin1String kByteRangeTag("#EXT-X-BYTERANGE:");

// The value of a byte-range tag, "length" or "length@offset", before the
// segment line it belongs to is known.
struct ByteRangeTag
{
    bool readable = false;
    qint64 length = 0;
    std::optional<qint64> offset; // none: right after the previous range of the same resource
};

ByteRangeTag readByteRangeTag(QStringView value)
{
    ByteRangeTag tag;
    const qsizetype at = value.indexOf(QLatin1Char('@'));
    const auto length = readPlaylistInteger(at < 0 ? value : value.left(at));
    const auto offset = at < 0 ? std::optional<qint64>() : readPlaylistInteger(value.mid(at + 1));
    if (!length || *length < 0 || (at >= 0 && (!offset || *offset < 0)))
        return tag;
    tag.readable = true;
    tag.length = *length;
    tag.offset = offset;
    return tag;
}

// The byte range of the segment at the address. An unreadable tag yields an
// empty range: fetching the whole resource in its place would write bytes of
// the neighbouring ranges a second time. Keeps where each resource's last
// range ended, for a following range without an offset.
SegmentByteRange placeByteRange(const ByteRangeTag &tag, const QUrl &resource, QHash<QUrl, qint64> *rangeEnds)
{
    if (!tag.readable)
        return {};
    SegmentByteRange range{tag.offset.value_or(rangeEnds->value(resource, 0)), tag.length};
    qint64 end = 0;
    if (qAddOverflow(range.offset, range.length, &end))
        return {};
    rangeEnds->insert(resource, end);
    return range;
}

bool isUsableTargetDuration(double seconds)
{
    return std::isfinite(seconds) && seconds >= 0.0 && seconds <= kMaximumTargetDuration;
}

// Moves the first sequence number just far enough that the numbers of all
// segments and the number before the first one stay inside the integer range.
qint64 clampedMediaSequence(qint64 mediaSequence, qsizetype segmentCount)
{
    constexpr qint64 lowest = std::numeric_limits<qint64>::min() + 1;
    const qint64 highest = std::numeric_limits<qint64>::max() - std::max<qint64>(segmentCount - 1, 0);
    return std::clamp(mediaSequence, lowest, highest);
}

} // namespace

bool isMasterPlaylist(const QString &text)
{
    return text.contains(QLatin1String("#EXT-X-STREAM-INF"));
}

std::optional<QString> unsupportedReason(const QString &text)
{
    // Key lines are recognised after trimming, as the media playlist reader
    // trims every line: a key tag indented by a blank must not slip through as
    // an ignored tag and leave encrypted segments to be written.
    for (QStringView rawLine : splitPlaylistLines(text)) {
        const QStringView line = trimBlanksAndTabs(rawLine);
        if (line.startsWith(QLatin1String("#EXT-X-KEY")) && !line.contains(QLatin1String("METHOD=NONE")))
            return QString::fromLatin1(kEncryptedPlaylistMessage);
    }
    if (text.contains(QLatin1String("#EXT-X-MAP")))
        return QString::fromLatin1(kInitialisationSectionMessage);
    return std::nullopt;
}

MediaPlaylist parseMediaPlaylist(const QString &text, const QUrl &base)
{
    MediaPlaylist playlist;
    // A byte-range tag applies to the next segment line only.
    std::optional<ByteRangeTag> pendingRange;
    QHash<QUrl, qint64> rangeEnds;
    for (QStringView rawLine : splitPlaylistLines(text)) {
        const QStringView line = trimBlanksAndTabs(rawLine);
        if (line.startsWith(kMediaSequenceTag)) {
            playlist.mediaSequence = readPlaylistInteger(line.mid(kMediaSequenceTag.size())).value_or(0);
        } else if (line.startsWith(kTargetDurationTag)) {
            const auto seconds = readPlaylistDecimal(line.mid(kTargetDurationTag.size()));
            playlist.targetDuration =
                seconds && isUsableTargetDuration(*seconds) ? *seconds : kDefaultTargetDuration;
        } else if (line.startsWith(kByteRangeTag)) {
            pendingRange = readByteRangeTag(line.mid(kByteRangeTag.size()));
        } else if (line.startsWith(QLatin1Char('#')) || line.isEmpty()) {
            continue;
        } else {
            const auto segment = resolvePlaylistURI(line, base);
            const auto tag = std::exchange(pendingRange, std::nullopt);
            if (!segment)
                continue;
            playlist.segments.append(*segment);
            playlist.byteRanges.append(tag ? std::optional(placeByteRange(*tag, *segment, &rangeEnds))
                                           : std::nullopt);
        }
    }
    playlist.mediaSequence = clampedMediaSequence(playlist.mediaSequence, playlist.segments.size());
    playlist.endList = text.contains(QLatin1String("#EXT-X-ENDLIST"));
    return playlist;
}

std::chrono::milliseconds hlsPollDelay(double targetDuration, std::chrono::milliseconds minimum)
{
    const double seconds = isUsableTargetDuration(targetDuration) ? targetDuration : kDefaultTargetDuration;
    const std::chrono::milliseconds half{std::llround(seconds * 500.0)};
    return std::max(half, minimum);
}
