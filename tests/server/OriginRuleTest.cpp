#include "HTTPRequest.h"
#include "OriginRule.h"
#include "ServerFixture.h"

namespace {

HTTPRequest fromPage(const QString &origin, const std::optional<QString> &host)
{
    HTTPRequest request;
    request.method = QStringLiteral("POST");
    request.path = QStringLiteral("/api/recordings");
    request.headers.insert(QStringLiteral("origin"), origin);
    if (host)
        request.headers.insert(QStringLiteral("host"), *host);
    return request;
}

const QByteArray kRefusal = R"({"error":"Requests from web pages are not accepted."})";

} // namespace

TEST(OriginRule, PagesAreServedOnlyFromTheirOwnOriginOnThisComputer)
{
    const QStringList names{QStringLiteral("livingroom"), QStringLiteral("livingroom.local"),
                            QStringLiteral("livingroom.home.arpa")};
    struct Case
    {
        const char *origin;
        std::optional<const char *> host;
        bool accepted;
    };
    const Case cases[] = {
        {"http://192.168.1.23:8642", "192.168.1.23:8642", true},
        {"http://[::1]:8642", "[::1]:8642", true},
        {"http://LOCALHOST:8642", "localhost:8642", true},
        {"http://livingroom.local:8642", "livingroom.local:8642", true},
        {"http://livingroom.home.arpa.:8642", "LivingRoom.home.arpa:8642", true},
        {"http://127.0.0.1", "127.0.0.1:80", true},
        // Another site, port or scheme than the one addressed.
        {"http://evil.example", "192.168.1.23:8642", false},
        {"http://192.168.1.23:8643", "192.168.1.23:8642", false},
        {"http://192.168.1.23", "192.168.1.23:8642", false},
        {"https://192.168.1.23:8642", "192.168.1.23:8642", false},
        // A rebound name: the page and the request agree, but the name is not this computer's.
        {"http://evil.example:8642", "evil.example:8642", false},
        {"http://livingroom.evil.example:8642", "livingroom.evil.example:8642", false},
        // Sandboxed pages, malformed headers, no Host.
        {"null", "192.168.1.23:8642", false},
        {"http://192.168.1.23:8642/page", "192.168.1.23:8642", false},
        {"http://192.168.1.23:8642", "user@192.168.1.23:8642", false},
        {"http://192.168.1.23:8642", std::nullopt, false},
    };
    for (const Case &c : cases) {
        const auto host = c.host ? std::optional<QString>(QString::fromLatin1(*c.host)) : std::nullopt;
        EXPECT_EQ(OriginRule::accepts(fromPage(QString::fromLatin1(c.origin), host), names), c.accepted)
            << c.origin << " / " << c.host.value_or("(none)");
    }
    HTTPRequest program;
    program.headers.insert(QStringLiteral("host"), QStringLiteral("evil.example"));
    EXPECT_TRUE(OriginRule::accepts(program, names));
}

TEST(OriginRule, TheComputersOwnNamesIncludeItsHostName)
{
    const QStringList names = OriginRule::localNames();
    ASSERT_FALSE(names.isEmpty());
    const QString shortName = names.first().section(QLatin1Char('.'), 0, 0);
    EXPECT_TRUE(names.contains(shortName));
    EXPECT_TRUE(names.contains(shortName + QStringLiteral(".local")));
}

using OriginRuleServerTest = ServerFixture;

TEST_F(OriginRuleServerTest, WebPagesOfOtherSitesCanNeitherScheduleNorReadNorDelete)
{
    const Recording finished = servedRecording(QStringLiteral("finished"), Recording::Status::Finished, 10);
    start({finished});
    const QByteArray own = "127.0.0.1:" + QByteArray::number(port);
    const QByteArray body = R"({"title":"Evening Film","channelName":"Channel One","channelID":"ch7",)"
                            R"("streamURL":"http://127.0.0.1:9/live/u/p/7.ts",)"
                            R"("programStart":"2099-01-01T20:00:00Z","programEnd":"2099-01-01T21:00:00Z"})";
    // A cross-site form-like POST, which a browser sends without asking
    // first, and a page whose name was rebound to the recorder's address.
    const QByteArray crossSite = "Host: " + own + "\r\nOrigin: http://evil.example\r\nContent-Type: text/plain\r\n";
    const QByteArray rebound = "Host: evil.example:" + QByteArray::number(port) + "\r\nOrigin: http://evil.example:"
                               + QByteArray::number(port) + "\r\n";
    const std::pair<QByteArray, QByteArray> refused[] = {
        {"POST", "/api/recordings"}, {"GET", "/api/recordings"}, {"DELETE", "/api/recordings/" + idText(finished)},
        {"GET", "/recordings/" + idText(finished) + ".ts"}};
    for (const QByteArray &headers : {crossSite, rebound}) {
        for (const auto &[method, path] : refused) {
            const auto response = request(method, path, method == "POST" ? body : QByteArray(), headers);
            ASSERT_TRUE(response) << path.constData();
            EXPECT_EQ(response->statusLine, "HTTP/1.1 403 Forbidden") << path.constData();
            EXPECT_EQ(response->header("Content-Type"), "application/json; charset=utf-8") << path.constData();
            EXPECT_EQ(response->body, kRefusal) << path.constData();
        }
    }
    ASSERT_EQ(manager->recordings().size(), 1);

    // The recorder's own page, and programs that send no Origin at all.
    const auto samePage = request("POST", "/api/recordings", body, "Host: " + own + "\r\nOrigin: http://" + own + "\r\n");
    EXPECT_EQ(samePage->statusLine, "HTTP/1.1 201 Created");
    const auto program = request("GET", "/api/recordings", {}, "Host: evil.example\r\n");
    EXPECT_EQ(program->statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(json(program).array().size(), 2);
}
