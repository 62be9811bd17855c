#pragma once

#include <QtGlobal>

// The part of a larger resource that one segment of a media playlist is:
// length bytes from offset on. A length of 0 names no bytes at all.
struct SegmentByteRange
{
    qint64 offset = 0;
    qint64 length = 0;

    // One past the last byte; playlists never give values for which this
    // overflows.
    qint64 end() const { return offset + length; }
    friend bool operator==(const SegmentByteRange &, const SegmentByteRange &) = default;
};
