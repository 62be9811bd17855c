#include "HLSPlaylist.h"

#include <QUrl>
#include <cstdint>

// Any playlist text a provider serves goes through the three readers; the
// segment numbering and the poll delay must stay usable.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const QUrl base(QStringLiteral("http://provider.test/live/channel/index.m3u8"));
    bestVariant(text, base);
    unsupportedReason(text);
    const MediaPlaylist playlist = parseMediaPlaylist(text, base);
    if (hlsPollDelay(playlist.targetDuration).count() < 0)
        __builtin_trap();
    if (!playlist.segments.isEmpty() && playlist.sequenceNumber(playlist.segments.size() - 1) < playlist.mediaSequence)
        __builtin_trap();
    return 0;
}
