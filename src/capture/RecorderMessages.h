#pragma once

#include <QString>

// The texts a capture reports to the user, in one place so that both capture
// paths say the same thing for the same situation.
namespace RecorderMessages {

// The HTTP status with which a provider says that every connection of the
// account is in use.
inline constexpr int kProviderFullStatus = 509;

inline QString providerFull()
{
    return QStringLiteral("Every provider connection was in use.");
}

// The message for an answer whose HTTP status is not a success.
inline QString refusal(int status)
{
    if (status == kProviderFullStatus)
        return providerFull();
    return QStringLiteral("The provider refused the stream (HTTP %1).").arg(status);
}

// A success answer whose body is a web page or a message, not video.
inline QString pageInsteadOfStream()
{
    return QStringLiteral("The provider answered with a page instead of a stream.");
}

inline QString streamGone()
{
    return QStringLiteral("The stream stopped and did not come back.");
}

inline QString noVideo()
{
    return QStringLiteral("No video was received from the provider.");
}

inline QString writeFailure(const QString &description)
{
    return QStringLiteral("Could not write to the recordings folder: ") + description;
}

inline QString timedOut()
{
    return QStringLiteral("The request timed out.");
}

inline QString unsupportedAddress()
{
    return QStringLiteral("Only http and https stream addresses can be recorded.");
}

inline QString noPlayableVariant()
{
    return QStringLiteral("The HLS playlist has no playable variant.");
}

// A size limit in the unit that shows it exactly.
inline QString sizeText(qint64 bytes)
{
    constexpr qint64 mebibyte = 1024 * 1024;
    if (bytes >= mebibyte && bytes % mebibyte == 0)
        return QStringLiteral("%1 MiB").arg(bytes / mebibyte);
    return QStringLiteral("%1 bytes").arg(bytes);
}

// A response head that does not end within the size that is read of it.
inline QString headTooLong(qint64 limit)
{
    return QStringLiteral("The provider sent a response head longer than %1.").arg(sizeText(limit));
}

inline QString oversizedSegment(qint64 limit)
{
    return QStringLiteral("The provider sent an HLS segment larger than %1, which was not recorded.")
        .arg(sizeText(limit));
}

inline QString oversizedPlaylist(qint64 limit)
{
    return QStringLiteral("The provider sent an HLS playlist larger than %1.").arg(sizeText(limit));
}

// A segment listed as a byte range of a larger resource whose bytes did not
// all arrive.
inline QString incompleteRange()
{
    return QStringLiteral("The provider did not send the part of a segment that the playlist lists.");
}

} // namespace RecorderMessages
