#include "RecordingInfo.h"

#include "JSONCoding.h"

QString RecordingInfo::videoPath(const QUuid &id)
{
    return QStringLiteral("/recordings/") + id.toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".ts");
}

QJsonObject RecordingInfo::toJSON(const JSONEncoder &encoder) const
{
    const Recording &r = recording;
    QJsonObject o;
    o.insert(QStringLiteral("id"), r.id.toString(QUuid::WithoutBraces).toUpper());
    o.insert(QStringLiteral("title"), r.title);
    o.insert(QStringLiteral("channelName"), r.channelName);
    o.insert(QStringLiteral("channelID"), r.channelID);
    if (r.accountID)
        o.insert(QStringLiteral("accountID"), *r.accountID);
    o.insert(QStringLiteral("programStart"), encoder.encodeDate(r.programStart));
    o.insert(QStringLiteral("programEnd"), encoder.encodeDate(r.programEnd));
    o.insert(QStringLiteral("startDate"), encoder.encodeDate(r.startDate));
    o.insert(QStringLiteral("endDate"), encoder.encodeDate(r.endDate));
    o.insert(QStringLiteral("status"), statusRawValue(r.status));
    o.insert(QStringLiteral("bytes"), r.bytes);
    if (r.errorMessage)
        o.insert(QStringLiteral("errorMessage"), *r.errorMessage);
    o.insert(QStringLiteral("isPlayable"), r.isPlayable());
    o.insert(QStringLiteral("videoPath"), videoPath(r.id));
    return o;
}
