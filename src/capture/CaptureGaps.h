#pragma once

#include <QtGlobal>

// What a capture missed so far: the times the stream was lost and the
// recorder went to reconnect, the time without data from each loss to the
// next byte written (or to the end of the capture), and the HLS segments
// that had left the playlist before they were fetched.
struct CaptureGaps
{
    int reconnects = 0;
    qint64 missingMilliseconds = 0;
    qint64 skippedSegments = 0;

    friend bool operator==(const CaptureGaps &, const CaptureGaps &) = default;
};
