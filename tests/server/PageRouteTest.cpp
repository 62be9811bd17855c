#include "ServerFixture.h"

using PageRouteTest = ServerFixture;

TEST_F(PageRouteTest, ThePageAndItsStatusAreServedAndNothingElseIsNew)
{
    const Recording scheduled = servedRecording(QStringLiteral("later"), Recording::Status::Scheduled);
    start({scheduled});

    const auto page = request("GET", "/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(page->header("Content-Type"), "text/html; charset=utf-8");
    EXPECT_TRUE(page->body.contains("<title>Tivolux Recorder</title>"));
    // Self-contained: nothing is fetched from anywhere else.
    EXPECT_FALSE(page->body.contains("src=\"http"));
    EXPECT_FALSE(page->body.contains("href=\"http"));
    const auto head = request("HEAD", "/");
    ASSERT_TRUE(head);
    EXPECT_EQ(head->header("Content-Length"), QByteArray::number(page->body.size()));
    EXPECT_TRUE(head->body.isEmpty());

    const QByteArray own = "127.0.0.1:" + QByteArray::number(port);
    const auto status = request("GET", "/api/status", {}, "Host: " + own + "\r\nOrigin: http://" + own + "\r\n");
    ASSERT_TRUE(status);
    EXPECT_EQ(status->statusLine, "HTTP/1.1 200 OK");
    const QJsonObject document = json(status).object();
    EXPECT_EQ(document.value(QStringLiteral("folder")).toString(), folderPath());
    EXPECT_GT(document.value(QStringLiteral("totalBytes")).toInteger(), 0);
    // One hour at 8 Mbit/s plus the five minutes after the programme.
    EXPECT_EQ(document.value(QStringLiteral("neededBytes")).toInteger(), 3900 * 1000000LL);

    const auto elsewhere = request("GET", "/", {}, "Host: " + own + "\r\nOrigin: http://evil.example\r\n");
    EXPECT_EQ(elsewhere->statusLine, "HTTP/1.1 403 Forbidden");
    for (const QByteArray path : {"/index.html", "/api/status/x", "/api"})
        EXPECT_EQ(request("GET", path)->statusLine, "HTTP/1.1 404 Not Found") << path.constData();
    EXPECT_EQ(request("POST", "/api/status")->statusLine, "HTTP/1.1 404 Not Found");
}
