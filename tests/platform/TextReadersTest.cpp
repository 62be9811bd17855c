#include "QtPrinters.h"
#include "TextReaders.h"

#include <gtest/gtest.h>
#include <limits>

namespace {

constexpr qint64 kMax = std::numeric_limits<qint64>::max();
constexpr qint64 kMin = std::numeric_limits<qint64>::min();

} // namespace

TEST(TextReaders, IntegersAreReadStrictly)
{
    const struct { const char16_t *text; std::optional<qint64> signedValue, unsignedValue; } cases[] = {
        {u"0", 0, 0}, {u"+42", 42, 42}, {u"-42", -42, std::nullopt}, {u"-0", 0, std::nullopt},
        {u"9223372036854775807", kMax, kMax}, {u"-9223372036854775808", kMin, std::nullopt},
        {u"9223372036854775808", std::nullopt, std::nullopt}, {u"-9223372036854775809", std::nullopt, std::nullopt},
        {u"99999999999999999999", std::nullopt, std::nullopt},
        // Nothing but one sign and ASCII digits: no blanks, fractions,
        // exponents, doubled signs or digits of other scripts.
        {u"", std::nullopt, std::nullopt}, {u"+", std::nullopt, std::nullopt}, {u"-", std::nullopt, std::nullopt},
        {u" 1", std::nullopt, std::nullopt}, {u"1\t", std::nullopt, std::nullopt}, {u"3.0", std::nullopt, std::nullopt},
        {u"1e3", std::nullopt, std::nullopt}, {u"+-3", std::nullopt, std::nullopt}, {u"--3", std::nullopt, std::nullopt},
        {u"0x1f", std::nullopt, std::nullopt}, {u"\u0663", std::nullopt, std::nullopt},
        {u"\uff11", std::nullopt, std::nullopt},
    };
    for (const auto &c : cases) {
        const QString text = QString::fromUtf16(c.text);
        EXPECT_EQ(readSignedInteger(text), c.signedValue) << text.toStdString();
        EXPECT_EQ(readUnsignedInteger(text), c.unsignedValue) << text.toStdString();
    }
}

TEST(TextReaders, OnlySpacesAndTabsAreTrimmed)
{
    const struct { const char16_t *text, *trimmed; } cases[] = {
        {u" \t a b \t ", u"a b"}, {u"\t\t", u""}, {u"", u""},
        {u"\r\na\n", u"\r\na\n"}, {u"\u00a0a\u00a0", u"\u00a0a\u00a0"}, {u"\va", u"\va"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(trimBlanksAndTabs(QString::fromUtf16(c.text)).toString(), QString::fromUtf16(c.trimmed));
}

TEST(TextReaders, HexDigitsAndPercentDecoding)
{
    const char digits[] = "0123456789abcdefABCDEF";
    for (int i = 0; i < 22; ++i)
        EXPECT_EQ(hexDigitValue(digits[i]), i < 16 ? i : i - 6) << digits[i];
    for (const char c : {'g', 'G', '/', ':', '@', '`', ' ', '\0', '\xff'})
        EXPECT_EQ(hexDigitValue(c), -1) << int(c);

    const struct { const char *text; std::optional<QString> decoded; } cases[] = {
        {"/a%20b/%C3%A9+%2F", QString::fromUtf8("/a b/\xC3\xA9+/")},
        {"%2541", QStringLiteral("%41")}, // decoded once only
        {"%e2%82%ac", QString::fromUtf8("\xE2\x82\xAC")},
        {"", QString()},
        // An escape cut short or with no hex digits, and bytes that are not UTF-8.
        {"/a%2", std::nullopt}, {"%", std::nullopt}, {"%%41", std::nullopt}, {"%G1", std::nullopt},
        {"% 1", std::nullopt}, {"/%FF", std::nullopt}, {"%C3", std::nullopt}, {"%C0%AF", std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(percentDecoded(QString::fromUtf8(c.text)), c.decoded) << c.text;
    // Characters beyond ASCII pass through as they are.
    EXPECT_EQ(percentDecoded(QString::fromUtf8("\xC3\xBC%21")), QString::fromUtf8("\xC3\xBC!"));
}
