#include "HLSPlaylist.h"
#include "PlaylistText.h"

#include <gtest/gtest.h>
#include <limits>

constexpr qint64 kMax = std::numeric_limits<qint64>::max();
constexpr qint64 kMin = std::numeric_limits<qint64>::min();

const QUrl kPlaylistURL(QStringLiteral("http://provider.test:8080/live/chan/index.m3u8"));

TEST(PlaylistTextTest, LinesAndAddresses)
{
    EXPECT_EQ(splitPlaylistLines(u"\n\r\n\na\rb\vc\fd\u0085e\u2028f\u2029g\r\rh\n\n"),
              (QList<QStringView>{u"a", u"b", u"c", u"d", u"e", u"f", u"g", u"h"}));
    // Blanks and tabs are not line breaks, and a line of them is not empty.
    EXPECT_EQ(splitPlaylistLines(u"a b\t\n  \nb"), (QList<QStringView>{u"a b\t", u"  ", u"b"}));

    // A scheme-relative URI takes the playlist's scheme; without an absolute
    // address to resolve against, a relative URI is not usable.
    EXPECT_EQ(resolvePlaylistURI(u"//cdn.test/seg 1.ts", kPlaylistURL).value_or(QUrl()).toString(QUrl::FullyEncoded),
              QStringLiteral("http://cdn.test/seg%201.ts"));
    EXPECT_FALSE(resolvePlaylistURI(u"seg1.ts", QUrl()));
}

TEST(MediaPlaylistTest, ReadsTagsAndSegmentsInOrderOrFallsBackToTheDefaultsAndSetsThePollDelay)
{
    const QString text = QStringLiteral("#EXTM3U\r\n#EXT-X-VERSION:3\r\n \t#EXT-X-TARGETDURATION:10\t\r\n"
                                        "#EXT-X-MEDIA-SEQUENCE:1041\r\n#EXTINF:10.0,\r\nseg1041.ts\r\n"
                                        "#EXT-X-DISCONTINUITY\r\n#EXTINF:10.0,\r\n  ../other/seg1042.ts  \r\n\t\r\n"
                                        "http://[::1/broken.ts\r\n/abs/seg1043.ts\u2028#EXT-X-ENDLIST\n");
    const MediaPlaylist playlist = parseMediaPlaylist(text, kPlaylistURL);
    EXPECT_EQ(playlist.mediaSequence, 1041);
    EXPECT_DOUBLE_EQ(playlist.targetDuration, 10.0);
    EXPECT_EQ(playlist.segments, (QList<QUrl>{QUrl(QStringLiteral("http://provider.test:8080/live/chan/seg1041.ts")),
                                              QUrl(QStringLiteral("http://provider.test:8080/live/other/seg1042.ts")),
                                              QUrl(QStringLiteral("http://provider.test:8080/abs/seg1043.ts"))}));
    EXPECT_TRUE(playlist.endList);

    // Unreadable tags fall back to the defaults: tag names are case-sensitive, and a blank after the colon makes
    // the value unreadable. The end marker counts anywhere.
    const MediaPlaylist other = parseMediaPlaylist(
        QStringLiteral("#ext-x-media-sequence:7\n#EXT-X-MEDIA-SEQUENCE: 7\na.ts\n# comment #EXT-X-ENDLIST\n"),
        kPlaylistURL);
    EXPECT_EQ(other.mediaSequence, 0);
    EXPECT_TRUE(other.endList);

    const struct { const char *value; double seconds; } durations[] = {
        {"0", 0.0}, {"4294967", 4294967.0}, {"4294968", 6.0}, {"nan", 6.0}, {"-4", 6.0}, {"1e999", 6.0}, {" 4", 6.0},
    };
    for (const auto &c : durations) {
        SCOPED_TRACE(c.value);
        const auto text = QStringLiteral("#EXT-X-TARGETDURATION:") + QString::fromUtf8(c.value);
        EXPECT_DOUBLE_EQ(parseMediaPlaylist(text, kPlaylistURL).targetDuration, c.seconds);
    }

    // A live playlist is polled after half its target duration, with a floor that tests of the capture loop lower.
    using std::chrono::milliseconds;
    EXPECT_EQ(hlsPollDelay(0.0), milliseconds(1000)); // a target of 0 s is not a reason to poll without pause
    EXPECT_EQ(hlsPollDelay(std::numeric_limits<double>::quiet_NaN()), milliseconds(3000));
    EXPECT_EQ(hlsPollDelay(kMaximumTargetDuration), milliseconds(std::numeric_limits<int>::max()));
    EXPECT_EQ(hlsPollDelay(0.01, milliseconds(20)), milliseconds(20));
    EXPECT_EQ(hlsPollDelay(0.1, milliseconds(20)), milliseconds(50));
}

TEST(MediaPlaylistTest, ByteRangesFollowTheirResourceAndNoArithmeticOverflows)
{
    const QString text = QStringLiteral(
        "#EXT-X-BYTERANGE:1000@0\nall.ts\n#EXT-X-BYTERANGE:500\nall.ts\n#EXT-X-BYTERANGE:300@100\nother.ts\n"
        "#EXT-X-BYTERANGE:200\r\n#EXTINF:2,\r\nall.ts\nwhole.ts\n#EXT-X-BYTERANGE:50\nother.ts\n"
        "#EXT-X-BYTERANGE: 10@0\nall.ts\n#EXT-X-BYTERANGE:9223372036854775807@1\nall.ts\n"
        "#EXT-X-BYTERANGE:7\nall.ts\n#EXT-X-BYTERANGE:5@5\nhttp://[::1/broken.ts\nall.ts\n");
    const MediaPlaylist playlist = parseMediaPlaylist(text, kPlaylistURL);
    // Without an offset a range follows the previous one of the same resource; a tag that does not read, or whose
    // end would overflow, names no bytes rather than the whole resource; a tag belongs to the next segment line only.
    const QList<std::optional<SegmentByteRange>> expected = {
        SegmentByteRange{0, 1000}, SegmentByteRange{1000, 500}, SegmentByteRange{100, 300}, SegmentByteRange{1500, 200},
        std::nullopt, SegmentByteRange{400, 50}, SegmentByteRange{}, SegmentByteRange{}, SegmentByteRange{1700, 7},
        std::nullopt};
    ASSERT_EQ(playlist.segments.size(), expected.size());
    EXPECT_EQ(playlist.byteRanges, expected);

    // Sequence numbers never overflow either.
    const QString segments = QStringLiteral("\na.ts\nb.ts\nc.ts\n");
    const MediaPlaylist top =
        parseMediaPlaylist(QStringLiteral("#EXT-X-MEDIA-SEQUENCE:9223372036854775807") + segments, kPlaylistURL);
    EXPECT_EQ(top.sequenceNumber(0), kMax - 2);
    EXPECT_EQ(top.sequenceNumber(2), kMax);

    const MediaPlaylist bottom =
        parseMediaPlaylist(QStringLiteral("#EXT-X-MEDIA-SEQUENCE:-9223372036854775808") + segments, kPlaylistURL);
    EXPECT_EQ(bottom.sequenceNumber(0), kMin + 1);
    // The restart rule sets the number before the first segment, still below it.
    EXPECT_EQ(bottom.lastWrittenFor(-1), kMin);
    // One without segments keeps what was written, rather than restarting.
    EXPECT_EQ(MediaPlaylist().lastWrittenFor(100), 100);
}

TEST(VariantTest, BestVariantTable)
{
    // The chosen variant, relative to the master's folder.
    const struct { const char *master; const char *chosen; } cases[] = {
        // The highest bandwidth wins, and the later of equal ones.
        {"#EXT-X-STREAM-INF:BANDWIDTH=900\nfirst900.m3u8\n#EXT-X-STREAM-INF:BANDWIDTH=900\nsecond900.m3u8\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=500\nmid.m3u8\n", "second900.m3u8"},
        // An unreadable value (any that readPlaylistInteger refuses) counts as 0, so a later variant with 0 beats it.
        {"#EXT-X-STREAM-INF:BANDWIDTH= 800\nfirst.m3u8\n#EXT-X-STREAM-INF:BANDWIDTH=0\nsecond.m3u8\n", "second.m3u8"},
        // Tags and blank lines between the stream information and its URI
        // keep the bandwidth; a second stream information line replaces it.
        {"#EXT-X-STREAM-INF:BANDWIDTH=900\n#EXT-X-STREAM-INF:BANDWIDTH=100\n#comment\n \t\nlow.m3u8\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=200\nhigher.m3u8\n", "higher.m3u8"},
        // A URI without stream information before it is not a variant, and an
        // unresolvable URI drops its bandwidth, so the next URI is a stray one.
        {"#EXT-X-STREAM-INF:BANDWIDTH=900\nhttp://[::1/v.m3u8\nstray.m3u8\n", nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.master);
        const auto expected = c.chosen ? std::optional(kPlaylistURL.resolved(QUrl(QString::fromLatin1(c.chosen))))
                                       : std::nullopt;
        EXPECT_EQ(bestVariant(QString::fromUtf8(c.master), kPlaylistURL), expected);
    }
}
