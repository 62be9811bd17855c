#pragma once

#include "SegmentByteRange.h"

#include <QList>
#include <QUrl>
#include <optional>

inline constexpr double kDefaultTargetDuration = 6.0;

// What one read of an HLS media playlist yields. The segment at index i has
// the media sequence number mediaSequence + i.
struct MediaPlaylist
{
    qint64 mediaSequence = 0;
    double targetDuration = kDefaultTargetDuration;
    QList<QUrl> segments;
    // One entry per segment: the part of its resource that the segment is,
    // or none when it is the whole resource.
    QList<std::optional<SegmentByteRange>> byteRanges;
    bool endList = false;

    // The sequence number of the segment at the index. Playlists read by
    // parseMediaPlaylist never exceed the integer range here; for any other
    // value the number is held at the largest integer instead of wrapping.
    qint64 sequenceNumber(qsizetype index) const;

    // The number of the last segment already written, as the next pass must
    // see it: when the playlist ends below lastWritten the provider restarted
    // its numbering, and every segment of this playlist counts as new.
    qint64 lastWrittenFor(qint64 lastWritten) const;
};
