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

TEST(JSONCoding, IndexRoundTripKeepsWholeSecondsAndExactBytes)
{
    const Recording original = sampleRecording();
    const QByteArray bytes = sharedJSONEncoder().data(sharedJSONEncoder().encode(QList<Recording>{original}));
    const QString text = QString::fromUtf8(bytes);

    // Absent optionals are left out, not null.
    EXPECT_FALSE(text.contains(QLatin1String("accountID")));
    EXPECT_FALSE(text.contains(QLatin1String("null")));

    const auto decoded = sharedJSONDecoder().decodeRecordings(bytes);
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->size(), 1);
    // The fraction of a second is dropped; the byte count stays exact.
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
    // Offsets may not carry a date outside the years the encoder can write.
    EXPECT_EQ(d.decodeDate(QStringLiteral("0001-01-01T01:00:00+01:00")), utc(1, 1, 1, 0, 0, 0));
    EXPECT_EQ(d.decodeDate(QStringLiteral("9999-12-31T22:59:59-01:00")), utc(9999, 12, 31, 23, 59, 59));
    for (const char *bad : {"2024-05-01T19:00:00.5Z", "2024-05-01T19:00:00", "2024-02-30T19:00:00Z",
                            "2024-05-01T24:00:00Z", "2024-05-01T19:00:00+0200", "0001-01-01T00:59:59+01:00",
                            "9999-12-31T23:00:00-01:00", "0000-06-01T00:00:00Z"})
        EXPECT_FALSE(d.decodeDate(QString::fromLatin1(bad))) << bad;
}

TEST(JSONCoding, RequestDecodingRules)
{
    const JSONDecoder &d = sharedJSONDecoder();
    // Optional null is absent, unknown keys are ignored.
    const auto withExtras = d.decodeRequest(requestJSON(QStringLiteral(R"(,"accountID":null,"x":[1])")));
    ASSERT_TRUE(withExtras);
    EXPECT_FALSE(withExtras->accountID);

    // A required key null, a wrong type, no object: no request. (Missing
    // keys, fractional dates and text that is no JSON are refused through the
    // API in APIRouterTest.)
    EXPECT_FALSE(d.decodeRequest(requestJSON().replace("\"title\":\"T\"", "\"title\":null")));
    EXPECT_FALSE(d.decodeRequest(requestJSON().replace("\"channelID\":\"1\"", "\"channelID\":1")));
    EXPECT_FALSE(d.decodeRequest(requestJSON(QStringLiteral(R"(,"userAgent":5)"))));
}

// The stored format checked against text written by hand, so that a key
// misspelt the same way in the encoder and the decoder cannot pass.
TEST(JSONCoding, IndexMatchesTheDocumentedFormat)
{
    Recording r = sampleRecording();
    r.programStart = utc(2024, 5, 1, 19, 0, 0);
    r.accountID = QStringLiteral("acc");
    r.userAgent = QStringLiteral("Agent/1");
    r.errorMessage = QStringLiteral("broke");
    const QByteArray expected = R"([
    {
        "accountID": "acc",
        "bytes": 9007199254740993,
        "channelID": "ch1",
        "channelName": "One",
        "endDate": "2024-05-01T20:05:00Z",
        "errorMessage": "broke",
        "fileName": "Late News 2024-05-01 21.00 1A2B3C.ts",
        "id": "1A2B3C4D-0000-4000-8000-0000000000FF",
        "programEnd": "2024-05-01T20:00:00Z",
        "programStart": "2024-05-01T19:00:00Z",
        "startDate": "2024-05-01T19:00:01Z",
        "status": "finished",
        "streamURL": "http://provider.example/live/u/p/1.ts",
        "title": "Late News",
        "userAgent": "Agent/1"
    }
]
)";
    EXPECT_EQ(sharedJSONEncoder().data(sharedJSONEncoder().encode(QList<Recording>{r})), expected);

    // Readers take any key order, offsets, lower-case ids and null optionals.
    const QByteArray edited = R"([{"title": "Late News", "status": "finished", "bytes": 9007199254740993,
        "id": "1a2b3c4d-0000-4000-8000-0000000000ff", "channelName": "One", "channelID": "ch1",
        "streamURL": "http://provider.example/live/u/p/1.ts", "accountID": "acc", "userAgent": "Agent/1",
        "programStart": "2024-05-01T21:00:00+02:00", "programEnd": "2024-05-01T20:00:00Z",
        "startDate": "2024-05-01T19:00:01Z", "endDate": "2024-05-01T20:05:00Z",
        "fileName": "Late News 2024-05-01 21.00 1A2B3C.ts", "errorMessage": "broke"},
        {"title": "", "status": "scheduled", "bytes": 0, "id": "00000000-0000-0000-0000-000000000000",
        "channelName": "", "channelID": "", "streamURL": "", "accountID": null, "userAgent": null,
        "errorMessage": null, "programStart": "0001-01-01T00:00:00Z", "programEnd": "9999-12-31T23:54:59Z",
        "startDate": "0001-01-01T00:00:00Z", "endDate": "9999-12-31T23:59:59Z", "fileName": "x.ts"}])";
    const auto decoded = sharedJSONDecoder().decodeRecordings(edited);
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->size(), 2);
    EXPECT_EQ(decoded->at(0), r);
    EXPECT_TRUE(decoded->at(1).id.isNull()) << "the nil id is a canonical id";
    EXPECT_FALSE(decoded->at(1).accountID);
    EXPECT_EQ(decoded->at(1).endDate, utc(9999, 12, 31, 23, 59, 59));
}

TEST(JSONCoding, GapCountsAreOptionalInTheIndex)
{
    Recording r = sampleRecording();
    r.programStart = utc(2024, 5, 1, 19, 0, 0);
    r.reconnects = 2;
    r.secondsMissing = 14;
    const QJsonObject object = sharedJSONEncoder().encode(r);
    EXPECT_EQ(object.value(QStringLiteral("reconnects")).toInteger(), 2);
    EXPECT_EQ(object.value(QStringLiteral("secondsMissing")).toInteger(), 14);
    EXPECT_FALSE(object.contains(QStringLiteral("skippedSegments"))) << "0 is left out";
    EXPECT_EQ(sharedJSONDecoder().decodeRecording(object), r);

    // An index written before the counts existed reads as missing nothing.
    QJsonObject older = object;
    older.remove(QStringLiteral("reconnects"));
    older.remove(QStringLiteral("secondsMissing"));
    const auto decoded = sharedJSONDecoder().decodeRecording(older);
    ASSERT_TRUE(decoded);
    EXPECT_FALSE(decoded->hasGaps());

    for (const QJsonValue &bad : {QJsonValue(-1), QJsonValue(1.5), QJsonValue(QStringLiteral("3"))}) {
        QJsonObject edited = object;
        edited.insert(QStringLiteral("skippedSegments"), bad);
        EXPECT_FALSE(sharedJSONDecoder().decodeRecording(edited)) << bad.toVariant().toString().toStdString();
    }
}
