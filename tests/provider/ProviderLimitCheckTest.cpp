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
                            + R"(,"max_connections":)" + maxConnections + "}}", "application/json", code);
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

TEST_F(ProviderLimitCheckTest, FailuresSilenceEndlessAndOversizedAnswersGoAhead)
{
    // The HTTP status is not examined, but an error page is no account
    // information; the same provider answering full shows the go aheads
    // were the bodies'. A redirect is followed, here to nowhere.
    provider.serve(kQueryPath, {Answer::body("{\"user_info\": garbage", "application/json"), Answer::status(403),
                                accountInfo("1", "1", 500), Answer::redirect("/elsewhere")});
    for (const LimitAnswer &expected : {LimitAnswer::goAhead(), LimitAnswer::goAhead(), LimitAnswer::fullWith(1, 1),
                                        LimitAnswer::goAhead()})
        EXPECT_EQ(ask(account()), expected);
    EXPECT_EQ(provider.requestCount(QStringLiteral("/elsewhere")), 1);
    // Nobody listens on the port any more.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const QUrl refused(QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort()));
    closed.close();
    EXPECT_EQ(ask(Account{refused, QStringLiteral("N"), QStringLiteral("P")}), LimitAnswer::goAhead());

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

TEST_F(ProviderLimitCheckTest, ChecksDoNotQueueBehindEachOtherAndNoneAnswersOnceItsContextIsGone)
{
    // Six stalled checks would fill a shared client's six connections to the
    // host; a seventh check must still be answered before any of them.
    const QString stalledPath = QStringLiteral("/stalled") + kQueryPath;
    provider.serve(stalledPath, Answer::silence());
    provider.serve(kQueryPath, accountInfo("1", "1"));
    const ProviderConnections connections({800ms});
    int stalledAnswers = 0;
    auto stalledContext = std::make_unique<QObject>();
    for (int i = 0; i < 6; ++i)
        connections.checkLimit(account(QStringLiteral("N"), QStringLiteral("P"), QStringLiteral("/stalled")),
                               QStringLiteral("UA"), 0, stalledContext.get(), [&](const LimitAnswer &) { ++stalledAnswers; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return provider.requests(stalledPath).size() == 6; }));
    EXPECT_EQ(ask(account()), LimitAnswer::fullWith(1, 1));
    EXPECT_EQ(stalledAnswers, 0);

    // Destroyed while the provider keeps silent, and before a request was
    // even sent; either check would have answered within its deadline.
    provider.serve(kQueryPath, {Answer::silence(), accountInfo("1", "1")});
    auto doomed = std::make_unique<QObject>();
    connections.checkLimit(account(), QStringLiteral("UA"), 0, doomed.get(), [&](const LimitAnswer &) { ++stalledAnswers; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return provider.requests(kQueryPath).size() == 2; }));
    stalledContext.reset();
    connections.checkLimit(account(), QStringLiteral("UA"), 0, doomed.get(), [&](const LimitAnswer &) { ++stalledAnswers; });
    doomed.reset();
    testsupport::spin(1000ms);
    EXPECT_EQ(stalledAnswers, 0);
}
