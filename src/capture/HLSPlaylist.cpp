#include "HLSPlaylist.h"

#include "PlaylistText.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr QLatin1String kMediaSequenceTag("#EXT-X-MEDIA-SEQUENCE:");
constexpr QLatin1String kTargetDurationTag("#EXT-X-TARGETDURATION:");

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
    for (QStringView rawLine : splitPlaylistLines(text)) {
        const QStringView line = trimBlanksAndTabs(rawLine);
        if (line.startsWith(kMediaSequenceTag)) {
            playlist.mediaSequence = readPlaylistInteger(line.mid(kMediaSequenceTag.size())).value_or(0);
        } else if (line.startsWith(kTargetDurationTag)) {
            const auto seconds = readPlaylistDecimal(line.mid(kTargetDurationTag.size()));
            playlist.targetDuration =
                seconds && isUsableTargetDuration(*seconds) ? *seconds : kDefaultTargetDuration;
        } else if (line.startsWith(QLatin1Char('#')) || line.isEmpty()) {
            continue;
        } else if (const auto segment = resolvePlaylistURI(line, base)) {
            playlist.segments.append(*segment);
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
