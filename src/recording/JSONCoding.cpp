#include "JSONCoding.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QTimeZone>
#include <algorithm>
#include <limits>

namespace {

// Readers of one member each. A required member that is missing, null or of
// the wrong type fails; an optional one that is missing or null is absent,
// and of the wrong type fails.
struct ObjectReader
{
    const QJsonObject &object;
    const JSONDecoder &decoder;
    bool ok = true;

    QString text(const char *key)
    {
        const QJsonValue value = object.value(QLatin1String(key));
        if (!value.isString()) {
            ok = false;
            return {};
        }
        return value.toString();
    }

    std::optional<QString> optionalText(const char *key)
    {
        const QJsonValue value = object.value(QLatin1String(key));
        if (value.isUndefined() || value.isNull())
            return std::nullopt;
        if (!value.isString()) {
            ok = false;
            return std::nullopt;
        }
        return value.toString();
    }

    // A count that older documents do not have: missing means 0, and a
    // present one must be a whole number of at least 0.
    qint64 optionalCount(const char *key)
    {
        const QJsonValue value = object.value(QLatin1String(key));
        if (value.isUndefined() || value.isNull())
            return 0;
        const qint64 count = integer64(key);
        if (count < 0)
            ok = false;
        return ok ? count : 0;
    }

    QDateTime date(const char *key)
    {
        const auto parsed = decoder.decodeDate(text(key));
        if (!parsed) {
            ok = false;
            return {};
        }
        return *parsed;
    }

    qint64 integer64(const char *key)
    {
        const QJsonValue value = object.value(QLatin1String(key));
        if (!value.isDouble()) {
            ok = false;
            return 0;
        }
        // Qt keeps integral JSON numbers as 64-bit integers and answers the
        // fallback for a fraction or a value outside the 64-bit range; two
        // different fallbacks tell such a number from a real 0 or 1.
        const qint64 first = value.toInteger(0);
        if (first != value.toInteger(1)) {
            ok = false;
            return 0;
        }
        return first;
    }
};

QRegularExpression dateExpression()
{
    return QRegularExpression(QStringLiteral(
        R"(^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})(?:(Z)|([+-])(\d{2}):(\d{2}))$)"));
}

} // namespace

QString JSONEncoder::encodeDate(const QDateTime &date) const
{
    // Whole seconds: the fraction is dropped, not rounded.
    return date.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + QLatin1Char('Z');
}

QJsonObject JSONEncoder::encode(const Recording &r) const
{
    QJsonObject o;
    o.insert(QStringLiteral("id"), r.id.toString(QUuid::WithoutBraces).toUpper());
    o.insert(QStringLiteral("title"), r.title);
    o.insert(QStringLiteral("channelName"), r.channelName);
    o.insert(QStringLiteral("channelID"), r.channelID);
    if (r.accountID)
        o.insert(QStringLiteral("accountID"), *r.accountID);
    o.insert(QStringLiteral("streamURL"), r.streamURL);
    if (r.userAgent)
        o.insert(QStringLiteral("userAgent"), *r.userAgent);
    o.insert(QStringLiteral("programStart"), encodeDate(r.programStart));
    o.insert(QStringLiteral("programEnd"), encodeDate(r.programEnd));
    o.insert(QStringLiteral("startDate"), encodeDate(r.startDate));
    o.insert(QStringLiteral("endDate"), encodeDate(r.endDate));
    o.insert(QStringLiteral("fileName"), r.fileName);
    o.insert(QStringLiteral("status"), statusRawValue(r.status));
    o.insert(QStringLiteral("bytes"), r.bytes);
    if (r.errorMessage)
        o.insert(QStringLiteral("errorMessage"), *r.errorMessage);
    // Left out when 0, so that a recording without gaps is stored as before.
    if (r.reconnects > 0)
        o.insert(QStringLiteral("reconnects"), r.reconnects);
    if (r.secondsMissing > 0)
        o.insert(QStringLiteral("secondsMissing"), r.secondsMissing);
    if (r.skippedSegments > 0)
        o.insert(QStringLiteral("skippedSegments"), r.skippedSegments);
    return o;
}

QJsonObject JSONEncoder::encode(const RecordingRequest &r) const
{
    QJsonObject o;
    o.insert(QStringLiteral("title"), r.title);
    o.insert(QStringLiteral("channelName"), r.channelName);
    o.insert(QStringLiteral("channelID"), r.channelID);
    if (r.accountID)
        o.insert(QStringLiteral("accountID"), *r.accountID);
    o.insert(QStringLiteral("streamURL"), r.streamURL);
    if (r.userAgent)
        o.insert(QStringLiteral("userAgent"), *r.userAgent);
    o.insert(QStringLiteral("programStart"), encodeDate(r.programStart));
    o.insert(QStringLiteral("programEnd"), encodeDate(r.programEnd));
    return o;
}

QJsonArray JSONEncoder::encode(const QList<Recording> &recordings) const
{
    QJsonArray array;
    for (const Recording &recording : recordings)
        array.append(encode(recording));
    return array;
}

QByteArray JSONEncoder::data(const QJsonObject &object) const
{
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

QByteArray JSONEncoder::data(const QJsonArray &array) const
{
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

std::optional<QDateTime> JSONDecoder::decodeDate(const QString &text) const
{
    static const QRegularExpression expression = dateExpression();
    const QRegularExpressionMatch m = expression.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const QDate day(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    if (!day.isValid() || !time.isValid())
        return std::nullopt;
    int offsetSeconds = 0;
    if (m.captured(7).isEmpty()) {
        const int hours = m.captured(9).toInt();
        const int minutes = m.captured(10).toInt();
        if (hours > 23 || minutes > 59)
            return std::nullopt;
        offsetSeconds = (hours * 3600 + minutes * 60) * (m.captured(8) == QLatin1String("-") ? -1 : 1);
    }
    // An offset can carry a date in year 1 or 9999 past what the encoder can
    // write back, so such a date is refused here rather than at the next load.
    const QDateTime utc = QDateTime(day, time, Qt::UTC).addSecs(-offsetSeconds);
    if (!isStorableDate(utc))
        return std::nullopt;
    return utc;
}

std::optional<Recording> JSONDecoder::decodeRecording(const QJsonValue &value) const
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    ObjectReader read{object, *this};
    Recording r;
    const auto id = uuidFromCanonicalText(read.text("id"));
    if (!id)
        return std::nullopt;
    r.id = *id;
    r.title = read.text("title");
    r.channelName = read.text("channelName");
    r.channelID = read.text("channelID");
    r.accountID = read.optionalText("accountID");
    r.streamURL = read.text("streamURL");
    r.userAgent = read.optionalText("userAgent");
    r.programStart = read.date("programStart");
    r.programEnd = read.date("programEnd");
    r.startDate = read.date("startDate");
    r.endDate = read.date("endDate");
    r.fileName = read.text("fileName");
    const auto status = statusFromRawValue(read.text("status"));
    r.bytes = read.integer64("bytes");
    r.errorMessage = read.optionalText("errorMessage");
    const qint64 reconnects = read.optionalCount("reconnects");
    r.reconnects = int(std::min<qint64>(reconnects, std::numeric_limits<int>::max()));
    r.secondsMissing = read.optionalCount("secondsMissing");
    r.skippedSegments = read.optionalCount("skippedSegments");
    if (!read.ok || !status)
        return std::nullopt;
    r.status = *status;
    return r;
}

std::optional<QList<Recording>> JSONDecoder::decodeRecordings(const QByteArray &data) const
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QList<Recording> recordings;
    for (const QJsonValue &element : document.array()) {
        auto recording = decodeRecording(element);
        if (!recording)
            return std::nullopt;
        recordings.append(std::move(*recording));
    }
    return recordings;
}

std::optional<RecordingRequest> JSONDecoder::decodeRequest(const QJsonValue &value) const
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    ObjectReader read{object, *this};
    RecordingRequest r;
    r.title = read.text("title");
    r.channelName = read.text("channelName");
    r.channelID = read.text("channelID");
    r.accountID = read.optionalText("accountID");
    r.streamURL = read.text("streamURL");
    r.userAgent = read.optionalText("userAgent");
    r.programStart = read.date("programStart");
    r.programEnd = read.date("programEnd");
    if (!read.ok)
        return std::nullopt;
    return r;
}

std::optional<RecordingRequest> JSONDecoder::decodeRequest(const QByteArray &data) const
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return decodeRequest(document.object());
}

const JSONEncoder &sharedJSONEncoder()
{
    static const JSONEncoder encoder;
    return encoder;
}

const JSONDecoder &sharedJSONDecoder()
{
    static const JSONDecoder decoder;
    return decoder;
}
