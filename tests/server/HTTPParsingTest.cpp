#include "ByteRange.h"
#include "HTTPRequestParser.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

TEST(HTTPRequestParser, WaitsForTheWholeHeaderBlockAndBody)
{
    const QByteArray request = "POST /api/recordings HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello";
    HTTPRequestParser parser;
    // Byte by byte: complete exactly with the last body byte, also when the
    // end marker is split over several pieces.
    for (qsizetype i = 0; i + 1 < request.size(); ++i)
        ASSERT_FALSE(parser.append(request.mid(i, 1))) << "complete after " << i + 1 << " bytes";
    const auto parsed = parser.append(request.right(1));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->method, QStringLiteral("POST"));
    EXPECT_EQ(parsed->path, QStringLiteral("/api/recordings"));
    EXPECT_EQ(parsed->body, QByteArray("hello"));
    EXPECT_FALSE(HTTPRequestParser::parse("GET / HTTP/1.1\n\n"));

    // Without a length, or with one that is not a plain number, there is no
    // body; bytes after the announced body are ignored. A blank before the
    // colon makes another header name.
    const std::pair<const char *, const char *> bodies[] = {
        {"", ""}, {"Content-Length: 2\r\n", "ab"}, {"content-length:\t+3 \r\n", "abc"}, {"Content-Length : 3\r\n", ""},
        {"Content-Length: -3\r\n", ""}, {"Content-Length: 3x\r\n", ""},
        {"Content-Length: 99999999999999999999999\r\n", ""},
    };
    for (const auto &[header, body] : bodies) {
        const auto request = HTTPRequestParser::parse("POST / HTTP/1.1\r\n" + QByteArray(header) + "\r\nabcd");
        ASSERT_TRUE(request) << header;
        EXPECT_EQ(request->body, QByteArray(body)) << header;
    }
}

TEST(HTTPRequestParser, RequestLineAndHeaders)
{
    const auto parsed = HTTPRequestParser::parse("get   /api/info?x=1&y=%ZZ  HTTP/1.1\r\nX-Name:  a b\t\r\n"
                                                 "no colon here\r\nRange: bytes=0-1\r\n\r\n");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->method, QStringLiteral("GET"));
    EXPECT_EQ(parsed->path, QStringLiteral("/api/info"));
    EXPECT_EQ(parsed->header(QStringLiteral("x-name")), QStringLiteral("a b"));
    EXPECT_EQ(parsed->header(QStringLiteral("range")), QStringLiteral("bytes=0-1"));
    EXPECT_EQ(parsed->headers.size(), 2);
    EXPECT_EQ(HTTPRequestParser::parse("GET /a%20b/%C3%A9+%2F HTTP/1.1\r\n\r\n")->path, QString::fromUtf8("/a b/\xC3\xA9+/"));
    // Malformed escapes and escapes that are not UTF-8 leave no path.
    for (const char *target : {"/a%2", "/%FF"}) {
        const auto request = HTTPRequestParser::parse("GET " + QByteArray(target) + " HTTP/1.1\r\n\r\n");
        ASSERT_TRUE(request) << target;
        EXPECT_EQ(request->method, QStringLiteral("GET")) << target;
        EXPECT_TRUE(request->path.isEmpty()) << target;
    }
}

// The plain forms are FileServingTest's, through a served file.
TEST(ByteRange, EdgesOfAThousandByteFile)
{
    using enum ByteRange::Kind;
    const struct { const char *header; ByteRange::Kind kind; qint64 start = 0, end = -1; } cases[] = {
        {"bytes=500-2000", Partial, 500, 999}, {"bytes=-5000", Partial, 0, 999}, {"bytes=0-10,20-30", Partial, 0, 10},
        // Unreadable pieces (too many bounds, a bound that is no number or
        // too large) fall back to the whole file, as a partial answer.
        {"bytes=x-100", Partial, 0, 999}, {"bytes=abc", Partial, 0, 999}, {"bytes=-", Partial, 0, 999},
        {"bytes=1-2-3", Partial, 0, 999}, {"bytes=99999999999999999999-", Partial, 0, 999},
        {"bytes=-0", Unsatisfiable}, {"bytes=100-50", Unsatisfiable},
        // Another unit (or letter case), no range at all: the whole file.
        {"Bytes=0-1", Whole, 0, 999}, {"bytes=,,", Whole, 0, 999},
    };
    for (const auto &c : cases) {
        const ByteRange range = ByteRange::resolve(QString::fromLatin1(c.header), 1000);
        EXPECT_EQ(range.kind, c.kind) << c.header;
        if (c.kind != Unsatisfiable) {
            EXPECT_EQ(std::pair(range.start, range.end), std::pair(c.start, c.end)) << c.header;
        }
    }
}
