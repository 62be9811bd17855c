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

inline QString hlsUnavailable()
{
    return QStringLiteral("HLS streams cannot be recorded yet.");
}

} // namespace RecorderMessages
