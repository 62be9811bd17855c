#pragma once

#include <QDateTime>
#include <QString>
#include <QUuid>
#include <optional>

// The record of one recording. Plain value: copies are independent, the
// manager's list holds the authoritative one.
struct Recording
{
    enum class Status { Scheduled, Recording, Finished, Stopped, Interrupted, Failed, Waiting };

    QUuid id;
    QString title;
    QString channelName;
    QString channelID;
    std::optional<QString> accountID;
    QString streamURL;
    std::optional<QString> userAgent;
    QDateTime programStart;
    QDateTime programEnd;
    QDateTime startDate;
    QDateTime endDate;
    QString fileName;
    Status status = Status::Scheduled;
    qint64 bytes = 0;
    std::optional<QString> errorMessage;
    // What the capture missed: the times the stream was lost and reconnected
    // to, the seconds without data meanwhile, and the HLS segments that left
    // the playlist before they were fetched.
    int reconnects = 0;
    qint64 secondsMissing = 0;
    qint64 skippedSegments = 0;

    bool hasGaps() const { return reconnects > 0 || secondsMissing > 0 || skippedSegments > 0; }

    // Something was captured and the recording is past its waiting states.
    bool isPlayable() const
    {
        return status != Status::Scheduled && status != Status::Waiting && bytes > 0;
    }

    friend bool operator==(const Recording &, const Recording &) = default;
};

// The id in its canonical 36-character form (any case), the nil id included;
// nothing for any other text.
std::optional<QUuid> uuidFromCanonicalText(const QString &text);

// Whether a date can be written as a four-digit year and read back: the index
// and the API only carry years 0001 to 9999 in UTC.
bool isStorableDate(const QDateTime &date);

// The raw texts stored in the index and sent over the API.
QString statusRawValue(Recording::Status status);
std::optional<Recording::Status> statusFromRawValue(const QString &raw);

// The body of a request to schedule a recording.
struct RecordingRequest
{
    QString title;
    QString channelName;
    QString channelID;
    std::optional<QString> accountID;
    QString streamURL;
    std::optional<QString> userAgent;
    QDateTime programStart;
    QDateTime programEnd;

    friend bool operator==(const RecordingRequest &, const RecordingRequest &) = default;
};
