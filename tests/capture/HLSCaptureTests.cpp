#include "RecorderFixture.h"
#include "TestSupport.h"

using namespace std::chrono_literals;
using testsupport::readFile;
using testsupport::waitUntil;

using HLSLoop = RecorderFixture;

TEST_F(HLSLoop, ALiveWindowWritesEveryNewSegmentOnceInOrder)
{
    QByteArray expected;
    for (int i = 0; i < 7; ++i)
        expected += serveSegment(QStringLiteral("/live/s%1.ts").arg(i), i, 1880 + i);
    // The window moves while the recording runs; the second poll sees it
    // unchanged, and the fourth has moved by two segments.
    provider.serve(QStringLiteral("/live/chan.m3u8"),
                   {Answer::body(playlist(0, {"s0.ts", "s1.ts", "s2.ts"}, "0.2")),
                    Answer::body(playlist(0, {"s0.ts", "s1.ts", "s2.ts"}, "0.2")),
                    Answer::body(playlist(1, {"s1.ts", "s2.ts", "s3.ts"}, "0.2")),
                    Answer::body(playlist(3, {"s3.ts", "s4.ts", "s5.ts"}, "0.2")),
                    Answer::body(playlist(4, {"s4.ts", "s5.ts", "s6.ts"}, "0.2", true))});

    // A line break in the user agent must not add a header line.
    auto probe = record(QStringLiteral("/live/chan.m3u8"), fastTiming(), fromNow(60s),
                        QStringLiteral("Agent/7\r\nX-Injected: yes"));
    ASSERT_TRUE(probe->waitForFinish());
    EXPECT_EQ(probe->finishes[0].outcome, Outcome::finished());
    EXPECT_EQ(probe->finishes[0].bytes, expected.size());
    EXPECT_EQ(readFile(filePath()), expected);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(provider.requestCount(QStringLiteral("/live/s%1.ts").arg(i)), 1) << "segment " << i;
    const auto polls = provider.requests(QStringLiteral("/live/chan.m3u8"));
    ASSERT_EQ(polls.size(), 5);
    for (const auto gap : gaps(polls))
        EXPECT_GE(gap, 95ms); // half the target duration of 0.2 s
    for (const auto &request : provider.requests()) {
        EXPECT_EQ(request.method, "GET");
        EXPECT_EQ(request.header("User-Agent"), "Agent/7  X-Injected: yes");
        EXPECT_FALSE(request.headers.contains("x-injected"));
    }
    EXPECT_FALSE(probe->progress.isEmpty());
}

TEST_F(HLSLoop, AMasterPlaylistIsFollowedAtOnceToItsBestVariantForTheWholeRun)
{
    provider.serve(QStringLiteral("/tv/master.m3u8"),
                   Answer::body("#EXTM3U\n"
                                "#EXT-X-STREAM-INF:BANDWIDTH=300000\nlow/index.m3u8\n"
                                "#EXT-X-STREAM-INF:AVERAGE-BANDWIDTH=\"2000000\",BANDWIDTH=500000\n../hd/index.m3u8\n"
                                "#EXT-X-STREAM-INF:BANDWIDTH=900000\nmid/index.m3u8\n"));
    provider.serve(QStringLiteral("/hd/index.m3u8"),
                   {Answer::body(playlist(0, {"a.ts", "b.ts"}, "0.1")),
                    Answer::body(playlist(1, {"b.ts", "c.ts"}, "0.1", true))});
    const QByteArray expected = serveSegment(QStringLiteral("/hd/a.ts"), 1) + serveSegment(QStringLiteral("/hd/b.ts"), 2)
                              + serveSegment(QStringLiteral("/hd/c.ts"), 3);

    auto probe = record(QStringLiteral("/tv/master.m3u8"));
    ASSERT_TRUE(probe->waitForFinish());
    EXPECT_EQ(probe->finishes[0].outcome, Outcome::finished());
    EXPECT_EQ(readFile(filePath()), expected);
    // The second variant wins by its average bandwidth, which comes first.
    EXPECT_EQ(provider.requestCount(QStringLiteral("/tv/master.m3u8")), 1);
    EXPECT_EQ(provider.requestCount(QStringLiteral("/hd/index.m3u8")), 2);
    EXPECT_EQ(provider.requestCount(QStringLiteral("/tv/mid/index.m3u8")), 0);
    const auto requests = provider.requests();
    ASSERT_GE(requests.size(), 2);
    // Without a target duration a wait would last 3 seconds.
    EXPECT_LT(requests[1].receivedAt - requests[0].receivedAt, 1s);
}

TEST_F(HLSLoop, AnEndListFinishesAtOnceAndAddressesResolveAgainstTheRequestedPlaylist)
{
    provider.serve(QStringLiteral("/live/chan.m3u8"), Answer::redirect("/edge/node1/chan.m3u8?token=x"));
    provider.serve(QStringLiteral("/edge/node1/chan.m3u8"),
                   Answer::body(vod({"seg1.ts", "../shared/seg2.ts", "/abs/seg3.ts"})));
    const QByteArray expected = serveSegment(QStringLiteral("/live/seg1.ts"), 1)
                              + serveSegment(QStringLiteral("/shared/seg2.ts"), 2)
                              + serveSegment(QStringLiteral("/abs/seg3.ts"), 3);
    serveSegment(QStringLiteral("/edge/node1/seg1.ts"), 9);

    auto probe = record(QStringLiteral("/live/chan.m3u8"));
    ASSERT_TRUE(probe->waitForFinish());
    // The end list finishes at once, not after the 5-second poll delay.
    EXPECT_EQ(probe->finishes[0].outcome, Outcome::finished());
    EXPECT_LT(probe->finishes[0].at - probe->createdAt, 2s);
    EXPECT_EQ(probe->finishes[0].bytes, expected.size());
    EXPECT_EQ(readFile(filePath()), expected);
    EXPECT_EQ(provider.requestCount(QStringLiteral("/edge/node1/chan.m3u8")), 1);
    EXPECT_EQ(provider.requestCount(QStringLiteral("/edge/node1/seg1.ts")), 0);
    EXPECT_EQ(provider.requests(QStringLiteral("/edge/node1/chan.m3u8")).value(0).target,
              "/edge/node1/chan.m3u8?token=x");
}

TEST_F(HLSLoop, ARestartedNumberingIsWrittenFromItsFirstSegment)
{
    QByteArray expected;
    const QStringList names = {"a", "b", "c", "d", "e", "f"};
    for (int i = 0; i < names.size(); ++i)
        expected += serveSegment(QStringLiteral("/%1.ts").arg(names[i]), i);
    provider.serve(QStringLiteral("/chan.m3u8"),
                   {Answer::body(playlist(500, {"a.ts", "b.ts"})), Answer::body(playlist(501, {"b.ts", "c.ts"})),
                    Answer::body(playlist(0, {"d.ts", "e.ts"})), Answer::body(playlist(1, {"e.ts", "f.ts"}, "0.1", true))});

    EXPECT_EQ(outcomeOf(QStringLiteral("/chan.m3u8")), Outcome::finished());
    EXPECT_EQ(readFile(filePath()), expected);
}

TEST_F(HLSLoop, ByteRangeSegmentsWriteExactlyTheirRanges)
{
    const QByteArray resource = FakeProvider::content(0, 3000);
    const QByteArray text = "#EXTM3U\n#EXT-X-TARGETDURATION:10\n"
                            "#EXTINF:2,\n#EXT-X-BYTERANGE:1000@0\nall.ts\n"
                            "#EXTINF:2,\n#EXT-X-BYTERANGE:1000\nall.ts\n"
                            "#EXTINF:2,\n#EXT-X-BYTERANGE:500@2500\nall.ts\n#EXT-X-ENDLIST\n";
    provider.serve(QStringLiteral("/r/index.m3u8"), Answer::body(text));
    const QByteArray expected = resource.left(2000) + resource.mid(2500);

    // A server that honours ranges, and one that answers with the whole resource.
    provider.serve(QStringLiteral("/r/all.ts"), {Answer::body(resource.mid(0, 1000), "video/mp2t", 206),
                                                 Answer::body(resource.mid(1000, 1000), "video/mp2t", 206),
                                                 Answer::body(resource.mid(2500, 500), "video/mp2t", 206)});
    EXPECT_EQ(outcomeOf(QStringLiteral("/r/index.m3u8")), Outcome::finished());
    EXPECT_EQ(readFile(filePath()), expected);
    const auto ranges = provider.requests(QStringLiteral("/r/all.ts"));
    ASSERT_EQ(ranges.size(), 3);
    EXPECT_EQ(ranges[0].header("Range"), "bytes=0-999");
    EXPECT_EQ(ranges[1].header("Range"), "bytes=1000-1999");
    EXPECT_EQ(ranges[2].header("Range"), "bytes=2500-2999");

    QFile::remove(filePath());
    provider.serve(QStringLiteral("/r/all.ts"), Answer::body(resource, "video/mp2t"));
    EXPECT_EQ(outcomeOf(QStringLiteral("/r/index.m3u8")), Outcome::finished());
    EXPECT_EQ(readFile(filePath()), expected);
}

TEST_F(HLSLoop, RecordingsFromOneHostNeverWaitForEachOther)
{
    provider.serve(QStringLiteral("/stuck.ts"), Answer::silence());
    provider.serve(QStringLiteral("/stuck.m3u8"), Answer::body(playlist(0, {"stuck.ts"})));
    // Eight playlist recordings stuck in a segment, and eight plain streams.
    std::vector<std::unique_ptr<RecorderProbe>> stuck;
    for (int i = 0; i < 16; ++i) {
        stuck.push_back(std::make_unique<RecorderProbe>(provider.url(i < 8 ? "/stuck.m3u8" : "/stuck.ts"),
                                                        folder.filePath(QStringLiteral("stuck%1.ts").arg(i)),
                                                        fromNow(60s), fastTiming()));
        ASSERT_TRUE(stuck.back()->start());
    }
    ASSERT_TRUE(waitUntil([&] { return provider.requestCount(QStringLiteral("/stuck.ts")) == 16; }));

    const QByteArray expected = serveSegment(QStringLiteral("/a.ts"), 1);
    provider.serve(QStringLiteral("/vod.m3u8"), Answer::body(vod({"a.ts"})));
    auto probe = record(QStringLiteral("/vod.m3u8"));
    ASSERT_TRUE(probe->waitForFinish(3s));
    EXPECT_EQ(probe->finishes[0].outcome, Outcome::finished());
    EXPECT_EQ(readFile(filePath()), expected);
    for (auto &recording : stuck)
        recording->recorder().stop();
    for (auto &recording : stuck)
        ASSERT_TRUE(recording->waitForFinish());
}
