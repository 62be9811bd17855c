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
using Answer = FakeProvider::Answer;

const QString kQueryPath = QStringLiteral("/player_api.php");

Answer accountInfo(const char *activeCons, const char *maxConnections, int code = 200)
{
    return Answer::body(QByteArray(R"({"user_info":{"username":"N","active_cons":)") + activeCons
                            + R"(,"max_connections":)" + maxConnections + "}}",
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

    Account account(const QString &username = QStringLiteral("N"), const QString &password = QStringLiteral("P"),
                    const QString &path = QString()) const
    {
        return Account{provider.url(path), username, password};
    }

    // Runs one check and waits for its only answer.
    std::optional<LimitAnswer> ask(const Account &account, std::chrono::milliseconds deadline = 5s,
                                   const QString &userAgent = QStringLiteral("VLC/3.0 LibVLC/3.0"))
    {
        std::optional<LimitAnswer> answer;
        int calls = 0;
        ProviderConnections({deadline}).checkLimit(account, userAgent, 0, &context, [&](const LimitAnswer &a) {
            answer = a;
            ++calls;
        });
        EXPECT_TRUE(testsupport::waitUntil([&] { return calls > 0; }));
        testsupport::spin(10ms);
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
    // A line break in the user agent must not add a header line.
    ASSERT_TRUE(ask(account(QStringLiteral("a&b=c#d+e%f g/\u00fc?"), QStringLiteral("p&password=x+%41 ")), 5s,
                    QStringLiteral("TestPlayer/1.0 (x)\r\nX-Injected: 1")));
    const auto requests = provider.requests(kQueryPath);
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/player_api.php?username=a%26b%3Dc%23d%2Be%25f%20g%2F%C3%BC%3F"
                                  "&password=p%26password%3Dx%2B%2541%20");
    EXPECT_EQ(requests[0].header("User-Agent"), "TestPlayer/1.0 (x)  X-Injected: 1");
    EXPECT_FALSE(requests[0].headers.contains("x-injected"));
}

TEST_F(ProviderLimitCheckTest, FailuresGoAhead)
{
    // The HTTP status is not examined, but an error page is no account
    // information; the same provider answering full shows the go aheads
    // were the bodies'.
    provider.serve(kQueryPath, {Answer::body("{\"user_info\": garbage", "application/json"), Answer::status(403),
                                accountInfo("1", "1", 500)});
    EXPECT_EQ(ask(account()), LimitAnswer::goAhead());
    EXPECT_EQ(ask(account()), LimitAnswer::goAhead());
    EXPECT_EQ(ask(account()), LimitAnswer::fullWith(1, 1));

    // A redirect is followed, here to a path that does not exist.
    provider.serve(kQueryPath, Answer::redirect("/elsewhere"));
    EXPECT_EQ(ask(account()), LimitAnswer::goAhead());
    EXPECT_EQ(provider.requestCount(QStringLiteral("/elsewhere")), 1);

    // Nobody listens on the port any more: connection refused.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const QUrl refused(QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort()));
    closed.close();
    EXPECT_EQ(ask(Account{refused, QStringLiteral("N"), QStringLiteral("P")}), LimitAnswer::goAhead());
}

TEST_F(ProviderLimitCheckTest, AnswersThatFallSilentNeverEndOrGrowTooLargeGoAhead)
{
    // Headers, then nothing; and a slow sender that never falls silent: the
    // deadline counts the whole check.
    for (const Answer &answer : {Answer::silence(), Answer::slowStream(100, 10ms)}) {
        provider.serve(kQueryPath, answer);
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(ask(account(), 150ms), LimitAnswer::goAhead());
        EXPECT_GE(clock.elapsed(), 150);
        EXPECT_TRUE(testsupport::waitUntil([&] { return provider.openConnections() == 0; }));
    }

    // A fast sender is cut off by the size cap long before the deadline, and
    // the check stops reading: what the provider got out is what the socket
    // buffers hold, not what it could send in the meantime.
    provider.serve(kQueryPath, Answer::stream());
    EXPECT_EQ(ask(account(), 60s), LimitAnswer::goAhead());
    EXPECT_TRUE(testsupport::waitUntil([&] { return provider.openConnections() == 0; }));
    EXPECT_LT(provider.bytesSent(kQueryPath), 16 * 1024 * 1024);

    // A complete answer over the cap is not read, whatever it says.
    const QByteArray padded = R"({"user_info":{"active_cons":1,"max_connections":1},"pad":")"
                              + QByteArray(kLargestProviderAnswer, 'x') + "\"}";
    provider.serve(kQueryPath, Answer::body(padded, "application/json"));
    EXPECT_EQ(ask(account()), LimitAnswer::goAhead());
    provider.serve(kQueryPath, Answer::body(padded.left(kLargestProviderAnswer - 2) + "\"}", "application/json"));
    EXPECT_EQ(ask(account()), LimitAnswer::fullWith(1, 1));
}

TEST_F(ProviderLimitCheckTest, NoAnswerOnceTheContextIsGone)
{
    // Destroyed while the provider keeps silent, and before the request was
    // even sent; either check would answer within its deadline.
    provider.serve(kQueryPath, {Answer::silence(), accountInfo("1", "1")});
    bool answered = false;
    const ProviderConnections connections({100ms});
    for (const bool waitForRequest : {true, false}) {
        auto doomed = std::make_unique<QObject>();
        connections.checkLimit(account(), QStringLiteral("UA"), 0, doomed.get(),
                               [&](const LimitAnswer &) { answered = true; });
        if (waitForRequest) {
            ASSERT_TRUE(testsupport::waitUntil([&] { return provider.requests(kQueryPath).size() == 1; }));
        }
        doomed.reset();
    }
    testsupport::spin(300ms);
    EXPECT_FALSE(answered);
}

TEST_F(ProviderLimitCheckTest, ChecksDoNotQueueBehindEachOther)
{
    // Six stalled checks would fill a shared client's six connections to the
    // host; a seventh check must still be answered before any of them.
    const QString stalledPath = QStringLiteral("/stalled") + kQueryPath;
    provider.serve(stalledPath, Answer::silence());
    provider.serve(kQueryPath, accountInfo("1", "1"));
    const ProviderConnections connections({800ms});
    int stalledAnswers = 0;
    for (int i = 0; i < 6; ++i)
        connections.checkLimit(account(QStringLiteral("N"), QStringLiteral("P"), QStringLiteral("/stalled")),
                               QStringLiteral("UA"), 0, &context, [&](const LimitAnswer &) { ++stalledAnswers; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return provider.requests(stalledPath).size() == 6; }));
    EXPECT_EQ(ask(account()), LimitAnswer::fullWith(1, 1));
    EXPECT_EQ(stalledAnswers, 0);
    ASSERT_TRUE(testsupport::waitUntil([&] { return stalledAnswers == 6; }));
}
