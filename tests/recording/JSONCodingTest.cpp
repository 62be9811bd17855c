#include "JSONCoding.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

namespace {

QDateTime utc(int y, int mo, int d, int h, int mi, int s, int ms = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
}

Recording sampleRecording()
{
    Recording r;
    r.id = QUuid::fromString(QStringLiteral("1a2b3c4d-0000-4000-8000-0000000000ff"));
    r.title = QStringLiteral("Late News");
    r.channelName = QStringLiteral("One");
    r.channelID = QStringLiteral("ch1");
    r.streamURL = QStringLiteral("http://provider.example/live/u/p/1.ts");
    r.programStart = utc(2024, 5, 1, 19, 0, 0, 900);
    r.programEnd = utc(2024, 5, 1, 20, 0, 0);
    r.startDate = utc(2024, 5, 1, 19, 0, 1);
    r.endDate = utc(2024, 5, 1, 20, 5, 0);
    r.fileName = QStringLiteral("Late News 2024-05-01 21.00 1A2B3C.ts");
    r.status = Recording::Status::Finished;
    r.bytes = 9007199254740993; // 2^53 + 1: not representable as a double
    return r;
}

QByteArray requestJSON(const QString &extra = {})
{
    return QStringLiteral(R"({"title":"T","channelName":"C","channelID":"1",)"
                          R"("streamURL":"http://h/s.ts","programStart":"2030-01-01T10:00:00Z",)"
                          R"("programEnd":"2030-01-01T11:00:00Z"%1})")
        .arg(extra)
        .toUtf8();
}

} // namespace

TEST(JSONCoding, IndexRoundTripKeepsSortedKeysWholeSecondsAndExactBytes)
{
    const Recording original = sampleRecording();
    const QByteArray bytes = sharedJSONEncoder().data(sharedJSONEncoder().encode(QList<Recording>{original}));
    const QString text = QString::fromUtf8(bytes);

    // Keys appear in ascending order, absent optionals are left out, not null.
    const QStringList expectedOrder = {"bytes", "channelID", "channelName", "endDate", "fileName", "id",
                                       "programEnd", "programStart", "startDate", "status", "streamURL", "title"};
    qsizetype last = -1;
    for (const QString &key : expectedOrder) {
        const qsizetype at = text.indexOf(QLatin1Char('"') + key + QLatin1Char('"'));
        ASSERT_GT(at, last) << key.toStdString();
        last = at;
    }
    EXPECT_FALSE(text.contains(QLatin1String("accountID")));
    EXPECT_FALSE(text.contains(QLatin1String("errorMessage")));
    EXPECT_FALSE(text.contains(QLatin1String("null")));
    EXPECT_TRUE(text.contains(QLatin1String("\"2024-05-01T19:00:00Z\""))) << "fraction dropped";
    EXPECT_TRUE(text.contains(QLatin1String("9007199254740993")));
    EXPECT_TRUE(text.contains(QLatin1String("\"1A2B3C4D-0000-4000-8000-0000000000FF\"")));
    EXPECT_TRUE(text.contains(QLatin1Char('\n'))) << "pretty-printed";

    const auto decoded = sharedJSONDecoder().decodeRecordings(bytes);
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->size(), 1);
    Recording expected = original;
    expected.programStart = utc(2024, 5, 1, 19, 0, 0);
    EXPECT_EQ(decoded->first(), expected);

    // Present optionals come back, an empty one included.
    expected.accountID = QStringLiteral("acc");
    expected.userAgent = QStringLiteral("");
    expected.errorMessage = QStringLiteral("broke");
    EXPECT_EQ(sharedJSONDecoder().decodeRecording(sharedJSONEncoder().encode(expected)), expected);
}

TEST(JSONCoding, DatesAreStrict)
{
    const JSONDecoder &d = sharedJSONDecoder();
    EXPECT_EQ(d.decodeDate(QStringLiteral("2024-05-01T19:00:00Z")), utc(2024, 5, 1, 19, 0, 0));
    EXPECT_EQ(d.decodeDate(QStringLiteral("2024-05-01T21:30:00+02:30")), utc(2024, 5, 1, 19, 0, 0));
    EXPECT_EQ(d.decodeDate(QStringLiteral("2024-05-01T17:00:00-02:00")), utc(2024, 5, 1, 19, 0, 0));
    for (const char *bad : {"2024-05-01T19:00:00.5Z", "2024-05-01T19:00:00", "2024-05-01 19:00:00Z",
                            "2024-02-30T19:00:00Z", "2024-05-01T24:00:00Z", "2024-05-01T19:00Z", "",
                            "2024-05-01T19:00:00+0200", " 2024-05-01T19:00:00Z", "2024-05-01T19:00:00z"}) {
        EXPECT_FALSE(d.decodeDate(QString::fromLatin1(bad))) << bad;
    }
}

TEST(JSONCoding, RequestDecodingRules)
{
    const JSONDecoder &d = sharedJSONDecoder();
    const auto plain = d.decodeRequest(requestJSON());
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->title, QStringLiteral("T"));
    EXPECT_FALSE(plain->accountID);
    EXPECT_FALSE(plain->userAgent);

    // Optional null is absent, unknown keys are ignored.
    const auto withExtras = d.decodeRequest(requestJSON(QStringLiteral(R"(,"accountID":null,"userAgent":"UA","x":[1])")));
    ASSERT_TRUE(withExtras);
    EXPECT_FALSE(withExtras->accountID);
    EXPECT_EQ(withExtras->userAgent, QStringLiteral("UA"));

    // A required key null, a wrong type, no object: no request. (Missing
    // keys, fractional dates and text that is no JSON are refused through the
    // API in APIRouterTest.)
    QByteArray nullTitle = requestJSON();
    nullTitle.replace("\"title\":\"T\"", "\"title\":null");
    EXPECT_FALSE(d.decodeRequest(nullTitle));
    QByteArray numericChannel = requestJSON();
    numericChannel.replace("\"channelID\":\"1\"", "\"channelID\":1");
    EXPECT_FALSE(d.decodeRequest(numericChannel));
    EXPECT_FALSE(d.decodeRequest(requestJSON(QStringLiteral(R"(,"userAgent":5)"))));
    EXPECT_FALSE(d.decodeRequest(QByteArray("[]")));
}

TEST(JSONCoding, RecordingDecodingRejectsBadMembers)
{
    const QJsonObject good = sharedJSONEncoder().encode(sampleRecording());
    ASSERT_TRUE(sharedJSONDecoder().decodeRecording(good));

    auto without = [&](const char *key) {
        QJsonObject o = good;
        o.remove(QLatin1String(key));
        return o;
    };
    auto with = [&](const char *key, const QJsonValue &value) {
        QJsonObject o = good;
        o.insert(QLatin1String(key), value);
        return o;
    };
    EXPECT_FALSE(sharedJSONDecoder().decodeRecording(without("fileName")));
    EXPECT_FALSE(sharedJSONDecoder().decodeRecording(with("status", QStringLiteral("paused"))));
    EXPECT_FALSE(sharedJSONDecoder().decodeRecording(with("bytes", 1.5)));
    EXPECT_FALSE(sharedJSONDecoder().decodeRecording(with("bytes", QStringLiteral("12"))));
    EXPECT_FALSE(sharedJSONDecoder().decodeRecording(with("id", QStringLiteral("not-a-uuid"))));
    EXPECT_TRUE(sharedJSONDecoder().decodeRecording(with("errorMessage", QJsonValue::Null)));
    EXPECT_TRUE(sharedJSONDecoder().decodeRecording(with("bytes", 0)));
}
