#include "HTTPRequestParser.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

namespace {

std::optional<HTTPRequest> parse(const char *text)
{
    return HTTPRequestParser::parse(QByteArray(text));
}

} // namespace

TEST(HTTPRequestParser, WaitsForTheWholeHeaderBlockAndBody)
{
    const QByteArray request = "POST /api/recordings HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello";
    HTTPRequestParser parser;
    // Byte by byte: complete exactly when the last body byte arrives, also
    // when the end marker is split over several pieces.
    for (qsizetype i = 0; i + 1 < request.size(); ++i)
        ASSERT_FALSE(parser.append(request.mid(i, 1))) << "complete after " << i + 1 << " bytes";
    const auto parsed = parser.append(request.right(1));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->method, QStringLiteral("POST"));
    EXPECT_EQ(parsed->path, QStringLiteral("/api/recordings"));
    EXPECT_EQ(parsed->body, QByteArray("hello"));

    EXPECT_FALSE(parse("GET / HTTP/1.1\r\nHost: x\r\n"));
    EXPECT_FALSE(parse("GET / HTTP/1.1\n\n"));
}

TEST(HTTPRequestParser, BodyLengthRules)
{
    // No length header: bytes after the header block are not a body.
    EXPECT_EQ(parse("POST / HTTP/1.1\r\n\r\nextra")->body, QByteArray());
    // Bytes after the announced body are ignored.
    EXPECT_EQ(parse("POST / HTTP/1.1\r\nContent-Length: 2\r\n\r\nabcd")->body, QByteArray("ab"));
    EXPECT_EQ(parse("POST / HTTP/1.1\r\ncontent-length:\t+3 \r\n\r\nabcd")->body, QByteArray("abc"));
    // A blank before the colon makes a different header name.
    EXPECT_EQ(parse("POST / HTTP/1.1\r\nContent-Length : 3\r\n\r\nabcd")->body, QByteArray());
    for (const char *value : {"-3", "3x", "99999999999999999999999"}) {
        const QByteArray text = "POST / HTTP/1.1\r\nContent-Length: " + QByteArray(value) + "\r\n\r\nabcd";
        const auto parsed = HTTPRequestParser::parse(text);
        ASSERT_TRUE(parsed) << value;
        EXPECT_EQ(parsed->body, QByteArray()) << value;
    }
}

TEST(HTTPRequestParser, RequestLineAndHeaders)
{
    const auto parsed = parse("get   /api/info?x=1&y=%ZZ  HTTP/1.1\r\nX-Name:  a b\t\r\nno colon here\r\n"
                              "Range: bytes=0-1\r\n\r\n");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->method, QStringLiteral("GET"));
    EXPECT_EQ(parsed->path, QStringLiteral("/api/info"));
    EXPECT_EQ(parsed->header(QStringLiteral("x-name")), QStringLiteral("a b"));
    EXPECT_EQ(parsed->header(QStringLiteral("range")), QStringLiteral("bytes=0-1"));
    EXPECT_EQ(parsed->headers.size(), 2);

    EXPECT_EQ(parse("GET /a%20b/%C3%A9+%2F HTTP/1.1\r\n\r\n")->path, QString::fromUtf8("/a b/\xC3\xA9+/"));
    // Malformed escapes and escapes that are not UTF-8 leave no path.
    for (const char *target : {"/a%2", "/%FF"}) {
        const auto request = HTTPRequestParser::parse("GET " + QByteArray(target) + " HTTP/1.1\r\n\r\n");
        ASSERT_TRUE(request) << target;
        EXPECT_EQ(request->method, QStringLiteral("GET")) << target;
        EXPECT_TRUE(request->path.isEmpty()) << target;
    }
}
