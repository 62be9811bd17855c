#include "HLSPlaylist.h"
#include "PlaylistText.h"

#include <QStringList>
#include <gtest/gtest.h>
#include <limits>

namespace {

constexpr qint64 kMax = std::numeric_limits<qint64>::max();
constexpr qint64 kMin = std::numeric_limits<qint64>::min();

const QUrl kPlaylistURL(QStringLiteral("http://provider.test:8080/live/chan/index.m3u8"));
constexpr char kMasterURL[] = "https://a.test/tv/master.m3u8?token=1";

QStringList linesOf(const QString &text)
{
    QStringList lines;
    for (QStringView line : splitPlaylistLines(text))
        lines.append(line.toString());
    return lines;
}

QStringList urlTexts(const QList<QUrl> &urls)
{
    QStringList texts;
    for (const QUrl &url : urls)
        texts.append(url.toString());
    return texts;
}

std::optional<QString> variantOf(const QString &master, const QUrl &base = kPlaylistURL)
{
    const auto url = bestVariant(master, base);
    return url ? std::optional<QString>(url->toString()) : std::nullopt;
}

} // namespace

TEST(PlaylistTextTest, SplitsAtEveryLineBreakAndDropsEmptyLines)
{
    const QStringList ab{QStringLiteral("a"), QStringLiteral("b")};
    for (const char16_t *lineBreak : {u"\n", u"\r\n", u"\r", u"\v", u"\f", u"\u0085", u"\u2028", u"\u2029"}) {
        SCOPED_TRACE(QString::fromUtf16(lineBreak).toUtf8().toHex().toStdString());
        EXPECT_EQ(linesOf(QLatin1Char('a') + QString::fromUtf16(lineBreak) + QLatin1Char('b')), ab);
    }
    EXPECT_EQ(linesOf(QStringLiteral("\n\r\n\na\n\n\r\rb\n\n")), ab);
    EXPECT_EQ(linesOf(QString()), QStringList());
    EXPECT_EQ(linesOf(QStringLiteral("\r\n\u2028")), QStringList());
    // Blanks and tabs are not line breaks, and a line of them is not empty.
    EXPECT_EQ(linesOf(QStringLiteral("a b\t\n  \nb")),
              (QStringList{QStringLiteral("a b\t"), QStringLiteral("  "), QStringLiteral("b")}));
}

TEST(PlaylistTextTest, TrimsOnlyBlanksAndTabs)
{
    EXPECT_EQ(trimBlanksAndTabs(u" \t#TAG:1\t "), QStringLiteral("#TAG:1"));
    EXPECT_EQ(trimBlanksAndTabs(u"\u00a0x\u3000"), QStringLiteral("\u00a0x\u3000"));
    EXPECT_EQ(trimBlanksAndTabs(u" \t "), QString());
}

TEST(PlaylistTextTest, IntegerReadingTable)
{
    const struct { const char16_t *text; std::optional<qint64> value; } cases[] = {
        {u"0", 0}, {u"42", 42}, {u"+42", 42}, {u"-42", -42}, {u"007", 7},
        {u"9223372036854775807", kMax}, {u"-9223372036854775808", kMin},
        {u"9223372036854775808", std::nullopt}, {u"-9223372036854775809", std::nullopt},
        {u"99999999999999999999999", std::nullopt},
        {u"", std::nullopt}, {u"+", std::nullopt}, {u"-", std::nullopt}, {u"+-1", std::nullopt},
        {u" 1", std::nullopt}, {u"1 ", std::nullopt}, {u"1\t", std::nullopt},
        {u"1.0", std::nullopt}, {u"1e3", std::nullopt}, {u"0x10", std::nullopt}, {u"12a", std::nullopt},
        // Only ASCII digits count: Arabic-Indic and full-width digits do not read.
        {u"\u0661\u0662", std::nullopt}, {u"\uff11", std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(QString::fromUtf16(c.text).toStdString());
        EXPECT_EQ(readPlaylistInteger(QStringView(c.text)), c.value);
    }
}

TEST(PlaylistTextTest, DecimalReadingTable)
{
    const struct { const char16_t *text; std::optional<double> value; } cases[] = {
        {u"10", 10.0}, {u"2.5", 2.5}, {u"+2.5", 2.5}, {u"-1.5", -1.5}, {u".5", 0.5},
        {u"1e1", 10.0}, {u"2.5E-1", 0.25},
        {u"", std::nullopt}, {u"+", std::nullopt}, {u"-", std::nullopt}, {u"+-3", std::nullopt},
        {u"++3", std::nullopt}, {u" 3", std::nullopt}, {u"3 ", std::nullopt}, {u"3s", std::nullopt},
        {u"3,5", std::nullopt}, {u"1e999", std::nullopt}, {u"\u0663", std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(QString::fromUtf16(c.text).toStdString());
        EXPECT_EQ(readPlaylistDecimal(QStringView(c.text)), c.value);
    }
}

TEST(PlaylistTextTest, ResolvesAgainstTheRequestedPlaylist)
{
    const struct { const char *uri; const char *resolved; } cases[] = {
        // Relative and root paths are in MediaPlaylistTest.ReadsTagsAndSegmentsInOrder.
        {"//cdn.test/seg1.ts", "http://cdn.test/seg1.ts"},
        {"https://cdn.test/a/seg1.ts?token=x", "https://cdn.test/a/seg1.ts?token=x"},
        {"seg1.ts?token=a%20b", "http://provider.test:8080/live/chan/seg1.ts?token=a%20b"},
        {"seg 1.ts", "http://provider.test:8080/live/chan/seg%201.ts"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.uri);
        const auto url = resolvePlaylistURI(QString::fromUtf8(c.uri), kPlaylistURL);
        ASSERT_TRUE(url.has_value());
        EXPECT_EQ(url->toString(QUrl::FullyEncoded), QString::fromUtf8(c.resolved));
    }
    EXPECT_FALSE(resolvePlaylistURI(u"http://[::1/seg.ts", kPlaylistURL));
    EXPECT_FALSE(resolvePlaylistURI(u"::", kPlaylistURL));
    // Without an absolute address to resolve against, a relative URI stays
    // relative and is not usable.
    EXPECT_FALSE(resolvePlaylistURI(u"seg1.ts", QUrl()));
}

TEST(MediaPlaylistTest, ReadsTagsAndSegmentsInOrder)
{
    const QString text = QStringLiteral(
        "#EXTM3U\r\n"
        "#EXT-X-VERSION:3\r\n"
        " \t#EXT-X-TARGETDURATION:10\t\r\n"
        "#EXT-X-MEDIA-SEQUENCE:1041\r\n"
        "#EXTINF:10.0,\r\n"
        "seg1041.ts\r\n"
        "#EXT-X-DISCONTINUITY\r\n"
        "#EXTINF:10.0,\r\n"
        "  ../other/seg1042.ts  \r\n"
        "\t\r\n"
        "http://[::1/broken.ts\r\n"
        "/abs/seg1043.ts\u2028"
        "#EXT-X-ENDLIST\n");
    const MediaPlaylist playlist = parseMediaPlaylist(text, kPlaylistURL);
    EXPECT_EQ(playlist.mediaSequence, 1041);
    EXPECT_DOUBLE_EQ(playlist.targetDuration, 10.0);
    EXPECT_EQ(urlTexts(playlist.segments),
              (QStringList{QStringLiteral("http://provider.test:8080/live/chan/seg1041.ts"),
                           QStringLiteral("http://provider.test:8080/live/other/seg1042.ts"),
                           QStringLiteral("http://provider.test:8080/abs/seg1043.ts")}));
    EXPECT_TRUE(playlist.endList);
    EXPECT_EQ(playlist.sequenceNumber(2), 1043);
}

TEST(MediaPlaylistTest, DefaultsWhenTagsAreMissingOrUnreadable)
{
    const MediaPlaylist empty = parseMediaPlaylist(QString(), kPlaylistURL);
    EXPECT_EQ(empty.mediaSequence, 0);
    EXPECT_DOUBLE_EQ(empty.targetDuration, 6.0);
    EXPECT_TRUE(empty.segments.isEmpty());
    EXPECT_FALSE(empty.endList);

    // A blank after the colon makes the value unreadable.
    const MediaPlaylist blanks = parseMediaPlaylist(
        QStringLiteral("#EXT-X-MEDIA-SEQUENCE: 7\n#EXT-X-TARGETDURATION: 4\na.ts\n"), kPlaylistURL);
    EXPECT_EQ(blanks.mediaSequence, 0);
    EXPECT_DOUBLE_EQ(blanks.targetDuration, 6.0);
    EXPECT_EQ(blanks.segments.size(), 1);

    // The tag names are case-sensitive; the end marker counts anywhere.
    const MediaPlaylist other = parseMediaPlaylist(
        QStringLiteral("#ext-x-media-sequence:7\na.ts\n# comment #EXT-X-ENDLIST\n"), kPlaylistURL);
    EXPECT_EQ(other.mediaSequence, 0);
    EXPECT_TRUE(other.endList);
}

TEST(MediaPlaylistTest, UnusableTargetDurationsFallBackToTheDefault)
{
    const struct { const char *value; double seconds; } cases[] = {
        {"0", 0.0}, {"1", 1.0}, {"2.5", 2.5}, {"4294967", 4294967.0},
        {"abc", 6.0}, {"inf", 6.0}, {"-inf", 6.0}, {"nan", 6.0}, {"-4", 6.0},
        {"1e300", 6.0}, {"4294968", 6.0}, {"1e999", 6.0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        const auto text = QStringLiteral("#EXT-X-TARGETDURATION:") + QString::fromUtf8(c.value);
        EXPECT_DOUBLE_EQ(parseMediaPlaylist(text, kPlaylistURL).targetDuration, c.seconds);
    }
}

TEST(MediaPlaylistTest, SequenceArithmeticNeverOverflows)
{
    const QString segments = QStringLiteral("\na.ts\nb.ts\nc.ts\n");
    const MediaPlaylist top =
        parseMediaPlaylist(QStringLiteral("#EXT-X-MEDIA-SEQUENCE:9223372036854775807") + segments, kPlaylistURL);
    EXPECT_EQ(top.sequenceNumber(0), kMax - 2);
    EXPECT_EQ(top.sequenceNumber(2), kMax);

    const MediaPlaylist bottom =
        parseMediaPlaylist(QStringLiteral("#EXT-X-MEDIA-SEQUENCE:-9223372036854775808") + segments, kPlaylistURL);
    EXPECT_EQ(bottom.sequenceNumber(0), kMin + 1);
    // The restart rule sets the number before the first segment, which must
    // still be below it.
    EXPECT_EQ(bottom.lastWrittenFor(-1), kMin);
    EXPECT_LT(bottom.lastWrittenFor(-1), bottom.sequenceNumber(0));

    // A playlist built by hand is held at the top instead of wrapping.
    MediaPlaylist manual;
    manual.mediaSequence = kMax;
    EXPECT_EQ(manual.sequenceNumber(5), kMax);
    // One without segments keeps what was written, rather than restarting.
    EXPECT_EQ(manual.lastWrittenFor(100), 100);
}

TEST(MediaPlaylistTest, ByteRangesFollowTheirResource)
{
    const QString text = QStringLiteral(
        "#EXT-X-BYTERANGE:1000@0\nall.ts\n"
        "#EXT-X-BYTERANGE:500\nall.ts\n"
        "#EXT-X-BYTERANGE:300@100\nother.ts\n"
        "#EXT-X-BYTERANGE:200\r\n#EXTINF:2,\r\nall.ts\n"
        "whole.ts\n"
        "#EXT-X-BYTERANGE:50\nother.ts\n"
        "#EXT-X-BYTERANGE: 10@0\nall.ts\n"
        "#EXT-X-BYTERANGE:-5\nall.ts\n"
        "#EXT-X-BYTERANGE:10@\nall.ts\n"
        "#EXT-X-BYTERANGE:9223372036854775807@1\nall.ts\n"
        "#EXT-X-BYTERANGE:7\nall.ts\n"
        "#EXT-X-BYTERANGE:5@5\nhttp://[::1/broken.ts\nall.ts\n");
    const MediaPlaylist playlist = parseMediaPlaylist(text, kPlaylistURL);
    using Range = std::optional<SegmentByteRange>;
    // Without an offset a range follows the previous one of the same
    // resource; a tag that does not read, or whose end would overflow,
    // names no bytes rather than the whole resource; a tag belongs to the
    // next segment line only.
    const QList<Range> expected = {
        SegmentByteRange{0, 1000}, SegmentByteRange{1000, 500}, SegmentByteRange{100, 300},
        SegmentByteRange{1500, 200}, std::nullopt, SegmentByteRange{400, 50},
        SegmentByteRange{}, SegmentByteRange{}, SegmentByteRange{}, SegmentByteRange{},
        SegmentByteRange{1700, 7}, std::nullopt,
    };
    ASSERT_EQ(playlist.segments.size(), expected.size());
    EXPECT_EQ(playlist.byteRanges, expected);
    EXPECT_EQ(playlist.segments[2].toString(), QStringLiteral("http://provider.test:8080/live/chan/other.ts"));
}

TEST(VariantTest, BestVariantTable)
{
    // The chosen variant, relative to the master's folder unless absolute.
    const struct { const char *master; const char *chosen; const char *base = nullptr; } cases[] = {
        // The highest bandwidth wins, and the later of equal ones; a missing
        // bandwidth counts as 0.
        {"#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=300,RESOLUTION=640x360\nlow.m3u8\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=900\nfirst900.m3u8\n#EXT-X-STREAM-INF:BANDWIDTH=900\nsecond900.m3u8\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=500\nmid.m3u8\n", "second900.m3u8"},
        {"#EXT-X-STREAM-INF:RESOLUTION=1x1\na.m3u8\n#EXT-X-STREAM-INF:CODECS=\"x\"\nb.m3u8\n", "b.m3u8"},
        // The first "BANDWIDTH=" counts, even inside AVERAGE-BANDWIDTH; quotes
        // around the value are dropped.
        {"#EXT-X-STREAM-INF:AVERAGE-BANDWIDTH=100,BANDWIDTH=5000\nhigh-peak.m3u8\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=200\nother.m3u8\n", "other.m3u8"},
        {"#EXT-X-STREAM-INF:BANDWIDTH=\"800\"\nquoted.m3u8\n#EXT-X-STREAM-INF:BANDWIDTH=700\nplain.m3u8\n",
         "quoted.m3u8"},
        // An unreadable value (any that readPlaylistInteger refuses) counts
        // as 0, so a later variant with 0 beats it.
        {"#EXT-X-STREAM-INF:BANDWIDTH= 800\nfirst.m3u8\n#EXT-X-STREAM-INF:BANDWIDTH=0\nsecond.m3u8\n", "second.m3u8"},
        // Tags and blank lines between the stream information and its URI
        // keep the bandwidth; a second stream information line replaces it.
        {"#EXT-X-STREAM-INF:BANDWIDTH=900\n#EXT-X-STREAM-INF:BANDWIDTH=100\n#comment\n \t\nlow.m3u8\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=200\nhigher.m3u8\n", "higher.m3u8"},
        // A URI without stream information before it is not a variant, and an
        // unresolvable URI drops its bandwidth, so the next URI is a stray one.
        {"#EXTM3U\nstray.m3u8\n", nullptr},
        {"#EXT-X-STREAM-INF:BANDWIDTH=900\n", nullptr},
        {"#EXT-X-STREAM-INF:BANDWIDTH=900\nhttp://[::1/v.m3u8\nstray.m3u8\n", nullptr},
        // A negative bandwidth is passed over, but -1 is taken.
        {"#EXT-X-STREAM-INF:BANDWIDTH=-5\nneg.m3u8\n", nullptr},
        {"#EXT-X-STREAM-INF:BANDWIDTH=-1\nminus-one.m3u8\n", "minus-one.m3u8"},
        // Resolved against the master's own address.
        {"#EXT-X-STREAM-INF:BANDWIDTH=1\n../hd/index.m3u8\n", "https://a.test/hd/index.m3u8", kMasterURL},
        {"#EXT-X-STREAM-INF:BANDWIDTH=1\n/hd/index.m3u8\n", "https://a.test/hd/index.m3u8", kMasterURL},
        {"#EXT-X-STREAM-INF:BANDWIDTH=1\nhttp://b.test/x.m3u8\n", "http://b.test/x.m3u8", kMasterURL},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.master);
        const QUrl base = c.base ? QUrl(QString::fromLatin1(c.base)) : kPlaylistURL;
        const QUrl chosen(QString::fromLatin1(c.chosen));
        const auto expected = c.chosen ? std::optional(kPlaylistURL.resolved(chosen).toString()) : std::nullopt;
        EXPECT_EQ(variantOf(QString::fromUtf8(c.master), base), expected);
    }
    EXPECT_TRUE(isMasterPlaylist(QStringLiteral("#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1\na\n")));
    EXPECT_FALSE(isMasterPlaylist(QStringLiteral("#EXTM3U\n#EXTINF:4,\na.ts\n")));
}

TEST(UnsupportedReasonTest, KeysAndInitialisationSections)
{
    const QString encrypted = QStringLiteral("This channel is encrypted and cannot be recorded.");
    const QString format = QStringLiteral("This channel uses a stream format that cannot be recorded yet.");
    const struct { const char *text; std::optional<QString> reason; } cases[] = {
        {"#EXTM3U\n#EXTINF:4,\na.ts\n", std::nullopt},
        {"#EXT-X-KEY:METHOD=NONE\na.ts\n", std::nullopt},
        {"#EXT-X-KEY:METHOD=AES-128,URI=\"k\"\na.ts\n", encrypted},
        {"#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"k\"\na.ts\n", encrypted},
        {"#EXT-X-KEY:URI=\"k\"\na.ts\n", encrypted},
        {"#EXT-X-KEY:METHOD=NONE\r\n#EXT-X-KEY:METHOD=AES-128\r\na.ts\n", encrypted},
        {" \t#EXT-X-KEY:METHOD=AES-128\na.ts\n", encrypted},
        {"#EXT-X-MAP:URI=\"init.mp4\"\na.m4s\n", format},
        {"#EXTINF:4,\na.m4s # #EXT-X-MAP\n", format},
        // The key decides first.
        {"#EXT-X-MAP:URI=\"init.mp4\"\n#EXT-X-KEY:METHOD=AES-128\n", encrypted},
        {"#EXT-X-MAP:URI=\"init.mp4\"\n#EXT-X-KEY:METHOD=NONE\n", format},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(unsupportedReason(QString::fromUtf8(c.text)), c.reason);
    }
}

TEST(PollDelayTest, HalfTheTargetDurationWithAFloor)
{
    using std::chrono::milliseconds;
    const struct { double targetDuration; milliseconds delay; } cases[] = {
        {1.0, milliseconds(1000)}, {10.0, milliseconds(5000)}, {6.0, milliseconds(3000)},
        {2.5, milliseconds(1250)}, {0.0, milliseconds(1000)}, {3.0001, milliseconds(1500)},
        {std::numeric_limits<double>::quiet_NaN(), milliseconds(3000)},
        {std::numeric_limits<double>::infinity(), milliseconds(3000)},
        {-std::numeric_limits<double>::infinity(), milliseconds(3000)},
        {-4.0, milliseconds(3000)}, {1e300, milliseconds(3000)},
        {kMaximumTargetDuration, milliseconds(std::numeric_limits<int>::max())},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.targetDuration);
        EXPECT_EQ(hlsPollDelay(c.targetDuration), c.delay);
    }
    // The floor is injectable so that tests of the capture loop run fast.
    EXPECT_EQ(hlsPollDelay(0.01, milliseconds(20)), milliseconds(20));
    EXPECT_EQ(hlsPollDelay(0.1, milliseconds(20)), milliseconds(50));
}
