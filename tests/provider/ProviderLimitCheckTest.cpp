#include "FakeProvider.h"
#include "ProviderConnections.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <gtest/gtest.h>
#include <memory>

using namespace std::chrono_literals;

namespace {

using Account = ProviderConnections::Account;
using LimitAnswer = ProviderConnections::LimitAnswer;

const QString kQueryPath = QStringLiteral("/player_api.php");

// An account query's answer with the given JSON values.
FakeProvider::Answer accountInfo(const char *activeCons, const char *maxConnections, int code = 200)
{
    return FakeProvider::Answer::body(QByteArray(R"({"user_info":{"username":"N","active_cons":)") + activeCons
                                          + R"(,"max_connections":)" + maxConnections
                                          + R"(},"server_info":{"port":"80"}})",
                                      "application/json", code);
}

class ProviderLimitCheckTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        // Checks and their clients are deleted later; let that happen now.
        testsupport::spin(20ms);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    Account accountOnProvider(const QString &username = QStringLiteral("NAME"),
                              const QString &password = QStringLiteral("PASS")) const
    {
        return Account{provider.url(QString()), username, password};
    }

    // Runs one check and waits for its answer.
    std::optional<LimitAnswer> ask(const Account &account, qint64 recentStarts = 0,
                                   std::chrono::milliseconds deadline = 5s,
                                   const QString &userAgent = QStringLiteral("VLC/3.0 LibVLC/3.0"))
    {
        std::optional<LimitAnswer> answer;
        int calls = 0;
        ProviderConnections({deadline}).checkLimit(account, userAgent, recentStarts, &context,
                                                  [&](const LimitAnswer &a) { answer = a; ++calls; });
        EXPECT_TRUE(testsupport::waitUntil([&] { return calls > 0; }, 10s));
        testsupport::spin(20ms);
        EXPECT_EQ(calls, 1);
        return answer;
    }

    FakeProvider provider;
    QObject context;
};

} // namespace

TEST_F(ProviderLimitCheckTest, SendsTheQueryWithEncodedValuesAndAHeaderSafeUserAgent)
{
    provider.serve(kQueryPath, accountInfo("0", "2"));
    const QString username = QStringLiteral("a&b=c#d+e%f g/\u00fc?");
    const QString password = QStringLiteral("p&password=x+%41 ");
    // A line break in the user agent must not add a header line.
    const QString userAgent = QStringLiteral("TestPlayer/1.0 (x)\r\nX-Injected: 1");
    ASSERT_TRUE(ask(accountOnProvider(username, password), 0, 5s, userAgent));

    const auto requests = provider.requests(kQueryPath);
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0].method, QByteArray("GET"));
    EXPECT_EQ(requests[0].target, QByteArray("/player_api.php?username=a%26b%3Dc%23d%2Be%25f%20g%2F%C3%BC%3F"
                                             "&password=p%26password%3Dx%2B%2541%20"));
    EXPECT_EQ(requests[0].header("User-Agent"), QByteArray("TestPlayer/1.0 (x)  X-Injected: 1"));
    EXPECT_FALSE(requests[0].headers.contains("x-injected"));
}

TEST_F(ProviderLimitCheckTest, FailuresGoAhead)
{
    // The HTTP status is not examined, but an error page is no account information.
    provider.serve(kQueryPath, {FakeProvider::Answer::body("{\"user_info\": garbage", "application/json"),
                                FakeProvider::Answer::status(403), accountInfo("1", "1", 500)});
    EXPECT_EQ(ask(accountOnProvider()), LimitAnswer::goAhead());
    EXPECT_EQ(ask(accountOnProvider()), LimitAnswer::goAhead());
    // The same provider can answer full, so the go aheads above were the bodies'.
    EXPECT_EQ(ask(accountOnProvider()), LimitAnswer::fullWith(1, 1));

    // A redirect is followed, here to a path that does not exist.
    provider.serve(kQueryPath, FakeProvider::Answer::redirect("/elsewhere"));
    EXPECT_EQ(ask(accountOnProvider()), LimitAnswer::goAhead());
    EXPECT_EQ(provider.requestCount(QStringLiteral("/elsewhere")), 1);

    // Nobody listens on the port any more: connection refused.
    quint16 closedPort = 0;
    {
        QTcpServer server;
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
        closedPort = server.serverPort();
    }
    const Account refused{QUrl(QStringLiteral("http://127.0.0.1:%1").arg(closedPort)), QStringLiteral("N"),
                          QStringLiteral("P")};
    EXPECT_EQ(ask(refused), LimitAnswer::goAhead());

}

TEST_F(ProviderLimitCheckTest, SilentServersTimeOutAndGoAhead)
{
    // Headers, then nothing.
    provider.serve(kQueryPath, FakeProvider::Answer::silence());
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(ask(accountOnProvider(), 0, 200ms), LimitAnswer::goAhead());
    EXPECT_GE(clock.elapsed(), 150);
    EXPECT_LT(clock.elapsed(), 3000);
}

TEST_F(ProviderLimitCheckTest, AnswersThatNeverEndOrGrowTooLargeGoAhead)
{
    // A slow sender never falls silent; the deadline counts the whole check.
    provider.serve(kQueryPath, FakeProvider::Answer::slowStream(100, 20ms));
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(ask(accountOnProvider(), 0, 400ms), LimitAnswer::goAhead());
    EXPECT_GE(clock.elapsed(), 350);
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_TRUE(testsupport::waitUntil([&] { return provider.openConnections() == 0; }));

    // A fast sender is cut off by the size cap long before the deadline, and
    // the check stops reading: what the provider got out is what the socket
    // buffers hold, not what it could send in the meantime.
    provider.serve(kQueryPath, FakeProvider::Answer::stream());
    clock.restart();
    EXPECT_EQ(ask(accountOnProvider(), 0, 8s), LimitAnswer::goAhead());
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_TRUE(testsupport::waitUntil([&] { return provider.openConnections() == 0; }));
    EXPECT_LT(provider.bytesSent(kQueryPath), 16 * 1024 * 1024);

    // A complete answer over the cap is not read, whatever it says.
    const QByteArray padded = R"({"user_info":{"active_cons":1,"max_connections":1},"pad":")"
                            + QByteArray(kLargestProviderAnswer, 'x') + "\"}";
    provider.serve(kQueryPath, FakeProvider::Answer::body(padded, "application/json"));
    EXPECT_EQ(ask(accountOnProvider()), LimitAnswer::goAhead());
    provider.serve(kQueryPath, FakeProvider::Answer::body(padded.left(kLargestProviderAnswer - 2) + "\"}",
                                                          "application/json"));
    EXPECT_EQ(ask(accountOnProvider()), LimitAnswer::fullWith(1, 1));
}

TEST_F(ProviderLimitCheckTest, NoAnswerOnceTheContextIsGone)
{
    provider.serve(kQueryPath, {FakeProvider::Answer::silence(),
                                accountInfo("1", "1")});
    bool answered = false;
    auto doomed = std::make_unique<QObject>();
    const ProviderConnections connections({200ms});
    connections.checkLimit(accountOnProvider(), QStringLiteral("UA"), 0, doomed.get(),
                           [&](const LimitAnswer &) { answered = true; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return provider.requests(kQueryPath).size() == 1; }));
    doomed.reset();
    testsupport::spin(500ms);
    EXPECT_FALSE(answered);

    // Destroyed before the request was even sent.
    doomed = std::make_unique<QObject>();
    connections.checkLimit(accountOnProvider(), QStringLiteral("UA"), 0, doomed.get(),
                           [&](const LimitAnswer &) { answered = true; });
    doomed.reset();
    testsupport::spin(300ms);
    EXPECT_FALSE(answered);
}

TEST_F(ProviderLimitCheckTest, ChecksDoNotQueueBehindEachOther)
{
    // Six stalled checks would fill a shared client's six connections to the
    // host; a seventh check must still be answered at once.
    provider.serve(QStringLiteral("/stalled/player_api.php"), FakeProvider::Answer::silence());
    provider.serve(kQueryPath, accountInfo("1", "1"));
    const ProviderConnections connections({3s});
    int stalledAnswers = 0;
    for (int i = 0; i < 6; ++i) {
        const Account stalled{provider.url(QStringLiteral("/stalled")), QStringLiteral("N"), QStringLiteral("P")};
        connections.checkLimit(stalled, QStringLiteral("UA"), 0, &context,
                               [&](const LimitAnswer &) { ++stalledAnswers; });
    }
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return provider.requests(QStringLiteral("/stalled/player_api.php")).size() == 6; }));

    std::optional<LimitAnswer> answer;
    connections.checkLimit(accountOnProvider(), QStringLiteral("UA"), 0, &context,
                           [&](const LimitAnswer &a) { answer = a; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return answer.has_value(); }, 1500ms));
    EXPECT_EQ(*answer, LimitAnswer::fullWith(1, 1));
    EXPECT_EQ(stalledAnswers, 0);
    ASSERT_TRUE(testsupport::waitUntil([&] { return stalledAnswers == 6; }, 10s));
}
