#pragma once

#include "Recording.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <optional>

// The application's one pair of JSON coders, shared by the index file and the
// HTTP API. Dates travel as ISO 8601 UTC text with whole seconds ("...Z");
// output is indented with the keys of every object sorted; absent optional
// values are left out, never written as null.
class JSONEncoder
{
public:
    QString encodeDate(const QDateTime &date) const;
    QJsonObject encode(const Recording &recording) const;
    QJsonObject encode(const RecordingRequest &request) const;
    QJsonArray encode(const QList<Recording> &recordings) const;

    // Pretty-printed bytes of a document.
    QByteArray data(const QJsonObject &object) const;
    QByteArray data(const QJsonArray &array) const;
};

class JSONDecoder
{
public:
    // Accepts "YYYY-MM-DDTHH:MM:SS" followed by "Z" or a "+HH:MM"/"-HH:MM"
    // offset; a fraction of a second or a missing zone does not decode.
    std::optional<QDateTime> decodeDate(const QString &text) const;

    std::optional<Recording> decodeRecording(const QJsonValue &value) const;
    std::optional<QList<Recording>> decodeRecordings(const QByteArray &data) const;
    std::optional<RecordingRequest> decodeRequest(const QJsonValue &value) const;
    std::optional<RecordingRequest> decodeRequest(const QByteArray &data) const;
};

const JSONEncoder &sharedJSONEncoder();
const JSONDecoder &sharedJSONDecoder();
