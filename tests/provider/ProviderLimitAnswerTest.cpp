#include "ProviderConnections.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <limits>

using LimitAnswer = ProviderConnections::LimitAnswer;

TEST(ParseCountTest, NumbersBooleansAndStrings)
{
    const struct { const char *json; std::optional<qint64> count; } cases[] = {
        {"-3.9", -3}, {"2e2", 200}, {"-9223372036854775808", std::numeric_limits<qint64>::min()},
        {"9223372036854775808", std::nullopt}, {"true", 1}, {"null", std::nullopt}, {"[1]", std::nullopt},
        // Strings: blanks and tabs around a strict integer (as the text readers take it).
        {"\"\\t-3 \"", -3}, {"\" \\t \"", std::nullopt}, {"\"\\u00a03\"", std::nullopt}, {"\"3.0\"", std::nullopt},
    };
    for (const auto &c : cases) {
        const QJsonDocument document = QJsonDocument::fromJson(QByteArray("[") + c.json + "]");
        ASSERT_TRUE(document.isArray()) << c.json;
        EXPECT_EQ(ProviderConnections::parseCount(document.array().at(0)), c.count) << c.json;
    }
    EXPECT_EQ(ProviderConnections::parseCount(QJsonObject().value(QLatin1String("missing"))), std::nullopt);
}

TEST(LimitAnswerTest, ProviderFigurePlusRecentStarts)
{
    const LimitAnswer goAhead = LimitAnswer::goAhead();
    const struct { const char *body; qint64 recentStarts; LimitAnswer answer; } cases[] = {
        {R"({"user_info":{"active_cons":"1","max_connections":"1"}})", 0, LimitAnswer::fullWith(1, 1)},
        {R"({"user_info":{"active_cons":0,"max_connections":1}})", 1, LimitAnswer::fullWith(1, 1)},
        {R"({"user_info":{"active_cons":1,"max_connections":3}})", 1, goAhead},
        {R"({"user_info":{"active_cons":5,"max_connections":" 3 "}})", 0, LimitAnswer::fullWith(5, 3)},
        // A limit of 0, a missing or unreadable one, or a negative one is 1.
        {R"({"user_info":{"active_cons":1,"max_connections":-4}})", 0, LimitAnswer::fullWith(1, 1)},
        {R"({"user_info":{"active_cons":1}})", 0, LimitAnswer::fullWith(1, 1)},
        {R"({"user_info":{"active_cons":0,"max_connections":0}})", 0, goAhead},
        // The sum of extreme counts is held at the largest integer.
        {R"({"user_info":{"active_cons":"9223372036854775807","max_connections":5}})", 3,
         LimitAnswer::fullWith(std::numeric_limits<qint64>::max(), 5)},
        // Anything unexpected goes ahead: no readable count in use, user
        // information that is no object, a body that is no object, or no JSON.
        {R"({"user_info":{"max_connections":1}})", 5, goAhead}, {R"({"user_info":[1,2],"active_cons":9})", 5, goAhead},
        {R"([{"user_info":{"active_cons":9}}])", 5, goAhead}, {R"({"user_info":{"active_cons":9,)", 5, goAhead},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ProviderConnections::limitAnswer(QByteArray(c.body), c.recentStarts), c.answer) << c.body;
}
