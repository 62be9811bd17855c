#include "HTTPRequest.h"
#include "OriginRule.h"
#include "ServerFixture.h"

TEST(OriginRule, PagesAreServedOnlyFromTheirOwnOriginOnThisComputer)
{
    const QStringList names{QStringLiteral("livingroom"), QStringLiteral("livingroom.local"),
                            QStringLiteral("livingroom.home.arpa")};
    const struct { const char *origin, *host; bool accepted; } cases[] = {
        {"http://192.168.1.23:8642", "192.168.1.23:8642", true}, {"http://[::1]:8642", "[::1]:8642", true},
        {"http://LOCALHOST:8642", "localhost:8642", true}, {"http://livingroom.local:8642", "livingroom.local:8642", true},
        {"http://livingroom.home.arpa.:8642", "LivingRoom.home.arpa:8642", true}, {"http://127.0.0.1", "127.0.0.1:80", true},
        // Another site, port or scheme than the one addressed.
        {"http://evil.example", "192.168.1.23:8642", false}, {"http://192.168.1.23:8643", "192.168.1.23:8642", false},
        {"http://192.168.1.23", "192.168.1.23:8642", false}, {"https://192.168.1.23:8642", "192.168.1.23:8642", false},
        // A rebound name: the page and the request agree, but the name is not this computer's.
        {"http://evil.example:8642", "evil.example:8642", false},
        {"http://livingroom.evil.example:8642", "livingroom.evil.example:8642", false},
        // Sandboxed pages, malformed headers, no Host.
        {"null", "192.168.1.23:8642", false}, {"http://192.168.1.23:8642/page", "192.168.1.23:8642", false},
        {"http://192.168.1.23:8642", "user@192.168.1.23:8642", false}, {"http://192.168.1.23:8642", nullptr, false},
    };
    for (const auto &c : cases) {
        HTTPRequest request;
        request.headers.insert(QStringLiteral("origin"), QString::fromLatin1(c.origin));
        if (c.host)
            request.headers.insert(QStringLiteral("host"), QString::fromLatin1(c.host));
        EXPECT_EQ(OriginRule::accepts(request, names), c.accepted) << c.origin << " / " << (c.host ? c.host : "-");
    }
    HTTPRequest program;
    program.headers.insert(QStringLiteral("host"), QStringLiteral("evil.example"));
    EXPECT_TRUE(OriginRule::accepts(program, names));

    // The computer's own names include its host name.
    const QStringList own = OriginRule::localNames();
    ASSERT_FALSE(own.isEmpty());
    const QString shortName = own.first().section(QLatin1Char('.'), 0, 0);
    EXPECT_TRUE(own.contains(shortName));
    EXPECT_TRUE(own.contains(shortName + QStringLiteral(".local")));
}

using OriginRuleServerTest = ServerFixture;

TEST_F(OriginRuleServerTest, WebPagesOfOtherSitesCanNeitherScheduleNorReadNorDelete)
{
    const Recording finished = servedRecording(QStringLiteral("finished"), Recording::Status::Finished, 10);
    start({finished});
    const QByteArray body = scheduleBody(QDateTime(QDate(2099, 1, 1), QTime(20, 0), Qt::UTC));
    const QByteArray evil = "evil.example:" + QByteArray::number(port);
    // A cross-site form-like POST, which a browser sends without asking
    // first, and a page whose name was rebound to the recorder's address.
    const QByteArray crossSite = fromPage("http://evil.example") + "Content-Type: text/plain\r\n";
    const QByteArray rebound = fromPage("http://" + evil, evil);
    const std::pair<QByteArray, QByteArray> refused[] = {
        {"POST", "/api/recordings"}, {"GET", "/api/recordings"}, {"DELETE", "/api/recordings/" + idText(finished)},
        {"GET", "/recordings/" + idText(finished) + ".ts"}, {"GET", "/"}};
    for (const QByteArray &headers : {crossSite, rebound}) {
        for (const auto &[method, path] : refused) {
            expectAnswer(request(method, path, method == "POST" ? body : QByteArray(), headers), "403 Forbidden", kJSON,
                         R"({"error":"Requests from web pages are not accepted."})", method + ' ' + path);
        }
    }
    ASSERT_EQ(manager->recordings().size(), 1);

    // The recorder's own page; programs send no Origin at all, as every
    // request of the router tests does.
    const QByteArray own = "http://127.0.0.1:" + QByteArray::number(port);
    EXPECT_EQ(request("POST", "/api/recordings", body, fromPage(own))->statusLine, "HTTP/1.1 201 Created");
    EXPECT_EQ(manager->recordings().size(), 2);
}
