#pragma once

#include "Recording.h"

#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUuid>
#include <optional>

// What the recorder's web page shows beyond the API's documents: the
// address to enter in the TV app, the recordings folder with the free and
// total space of its file system, and how much the recordings still to come
// will write.
struct RecorderStatus
{
    // The rate assumed for a stream whose rate is not known: 8 Mbit/s.
    static constexpr qint64 kUnknownBytesPerSecond = 1000000;

    std::optional<QString> address;
    QString folder;
    std::optional<qint64> freeBytes;
    std::optional<qint64> totalBytes;
    // What each scheduled, waiting or running recording will still write,
    // and their sum.
    QHash<QUuid, qint64> estimates;
    qint64 neededBytes = 0;
    // The recordings that missed something, with what they missed.
    QList<Recording> withGaps;

    static RecorderStatus make(const std::optional<QString> &address, const QString &folder,
                               const QList<Recording> &recordings, const QDateTime &now);

    QJsonObject toJSON() const;

    // The bytes a recording will still write between now and its end, at
    // its own rate so far when it runs, else at the rate of the channel's
    // latest finished recording, else at kUnknownBytesPerSecond; 0 for
    // recordings that have ended.
    static qint64 remainingBytes(const Recording &recording, const QList<Recording> &recordings,
                                 const QDateTime &now);
};
