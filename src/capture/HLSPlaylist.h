#pragma once

#include "MediaPlaylist.h"

#include <QString>
#include <QUrl>
#include <chrono>
#include <limits>
#include <optional>

inline constexpr char kEncryptedPlaylistMessage[] = "This channel is encrypted and cannot be recorded.";
inline constexpr char kInitialisationSectionMessage[] =
    "This channel uses a stream format that cannot be recorded yet.";

// A live playlist is polled every half target duration, but never more often
// than this.
inline constexpr std::chrono::milliseconds kMinimumPollDelay{1000};

// The largest target duration whose poll delay a timer can still express
// (half of it, in milliseconds, must fit an int). Larger values, like values
// that are negative or not finite, count as the default target duration.
inline constexpr double kMaximumTargetDuration = 2.0 * std::numeric_limits<int>::max() / 1000.0;

// Whether the text is a master playlist, one that lists variants.
bool isMasterPlaylist(const QString &text);

// The variant with the highest bandwidth of a master playlist, resolved
// against the address that was requested for it; among equal bandwidths the
// one listed last wins, and a variant without a readable bandwidth counts as 0.
std::optional<QUrl> bestVariant(const QString &masterText, const QUrl &base);

// Why a playlist cannot be recorded (encrypted segments, or segments that need
// an initialisation section), or none.
std::optional<QString> unsupportedReason(const QString &text);

// Reads a media playlist; relative segment addresses are resolved against the
// address that was requested for it, never the one a redirect led to.
MediaPlaylist parseMediaPlaylist(const QString &text, const QUrl &base);

// How long to wait before polling a live playlist again:
// max(targetDuration x 0.5, minimum).
std::chrono::milliseconds hlsPollDelay(double targetDuration,
                                       std::chrono::milliseconds minimum = kMinimumPollDelay);
