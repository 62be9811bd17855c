#include "JSONCoding.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

namespace {

QDateTime utc(int y, int mo, int d, int h, int mi, int s, int ms = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
}

} // namespace

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

// Optional null is absent and unknown keys are ignored; a required key null
// or a wrong type gives no request. (Missing keys, fractional dates and text
// that is no JSON are refused through the API in APIRouterTest.)
TEST(JSONCoding, RequestDecodingRules)
{
    const QByteArray body = R"({"title":"T","channelName":"C","channelID":"1","streamURL":"http://h/s.ts",)"
                            R"("programStart":"2030-01-01T10:00:00Z","programEnd":"2030-01-01T11:00:00Z"})";
    const auto withExtras =
        sharedJSONDecoder().decodeRequest(QByteArray(body).replace("}", R"(,"accountID":null,"x":[1]})"));
    EXPECT_TRUE(withExtras && !withExtras->accountID);
    for (const auto &[from, to] : {std::pair{R"("T")", "null"}, {R"("1")", "1"}, {"}", R"(,"userAgent":5})"}})
        EXPECT_FALSE(sharedJSONDecoder().decodeRequest(QByteArray(body).replace(from, to))) << to;
}

// The stored format checked against text written by hand, so that a key
// misspelt the same way in the encoder and the decoder cannot pass.
TEST(JSONCoding, IndexMatchesTheDocumentedFormat)
{
    // The fraction of a second is dropped; the byte count, beyond what a
    // double holds, and an empty optional stay.
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
    r.accountID = QStringLiteral("acc");
    r.userAgent = QStringLiteral("");
    r.errorMessage = QStringLiteral("broke");
    r.reconnects = 2;
    r.secondsMissing = 14;
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
        "reconnects": 2,
        "secondsMissing": 14,
        "startDate": "2024-05-01T19:00:01Z",
        "status": "finished",
        "streamURL": "http://provider.example/live/u/p/1.ts",
        "title": "Late News",
        "userAgent": ""
    }
]
)";
    EXPECT_EQ(sharedJSONEncoder().data(sharedJSONEncoder().encode(QList<Recording>{r})), expected);

    // Readers take offsets, lower-case ids, skipped segments, null optionals
    // and an index written before the gap counts.
    const QByteArray edited = QByteArray(expected)
                                  .replace("1A2B3C4D", "1a2b3c4d")
                                  .replace("19:00:00Z", "21:00:00+02:00")
                                  .replace("\"secondsMissing\": 14", "\"secondsMissing\": 14, \"skippedSegments\": 3");
    r.programStart = utc(2024, 5, 1, 19, 0, 0);
    r.skippedSegments = 3;
    EXPECT_EQ(sharedJSONDecoder().decodeRecordings(edited), QList<Recording>{r});
    const auto decoded = sharedJSONDecoder().decodeRecordings(R"([{"title": "", "status": "scheduled", "bytes": 0,
        "id": "00000000-0000-0000-0000-000000000000", "channelName": "", "channelID": "", "streamURL": "",
        "accountID": null, "userAgent": null, "errorMessage": null, "programStart": "0001-01-01T00:00:00Z",
        "programEnd": "9999-12-31T23:54:59Z", "startDate": "0001-01-01T00:00:00Z", "endDate": "9999-12-31T23:59:59Z",
        "fileName": "x.ts"}])");
    ASSERT_TRUE(decoded && decoded->size() == 1);
    const Recording &bare = decoded->first();
    EXPECT_TRUE(bare.id.isNull()) << "the nil id is a canonical id";
    EXPECT_FALSE(bare.accountID);
    EXPECT_EQ(bare.endDate, utc(9999, 12, 31, 23, 59, 59));
    EXPECT_FALSE(bare.hasGaps()) << "an index written before the gap counts reads as missing nothing";
    // Absent optionals are left out, not written as null.
    const QJsonObject encoded = sharedJSONEncoder().encode(bare);
    EXPECT_FALSE(encoded.contains(QStringLiteral("accountID")));
    EXPECT_EQ(sharedJSONDecoder().decodeRecording(encoded), bare);
    // Gap counts are whole and not negative.
    for (const QJsonValue &bad : {QJsonValue(-1), QJsonValue(1.5), QJsonValue(QStringLiteral("3"))}) {
        QJsonObject changed = encoded;
        changed.insert(QStringLiteral("skippedSegments"), bad);
        EXPECT_FALSE(sharedJSONDecoder().decodeRecording(changed)) << bad.toVariant().toString().toStdString();
    }
}
