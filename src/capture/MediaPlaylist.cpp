#include "MediaPlaylist.h"

#include <QtNumeric>
#include <limits>

qint64 MediaPlaylist::sequenceNumber(qsizetype index) const
{
    qint64 number = 0;
    if (qAddOverflow(mediaSequence, qint64(index), &number))
        return std::numeric_limits<qint64>::max();
    return number;
}

qint64 MediaPlaylist::lastWrittenFor(qint64 lastWritten) const
{
    if (segments.isEmpty() || sequenceNumber(segments.size() - 1) >= lastWritten)
        return lastWritten;
    if (mediaSequence == std::numeric_limits<qint64>::min())
        return mediaSequence;
    return mediaSequence - 1;
}
