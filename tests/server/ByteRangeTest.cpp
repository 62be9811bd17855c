#include "ByteRange.h"

#include <gtest/gtest.h>

namespace {

struct Case
{
    const char *header;
    ByteRange::Kind kind;
    qint64 start;
    qint64 end;
};

using Kind = ByteRange::Kind;

} // namespace

TEST(ByteRange, EdgesOfAThousandByteFile)
{
    const Case cases[] = {
        {"bytes=0-0", Kind::Partial, 0, 0},
        {"bytes=500-", Kind::Partial, 500, 999},
        {"bytes=500-2000", Kind::Partial, 500, 999},
        {"bytes=-100", Kind::Partial, 900, 999},
        {"bytes=-5000", Kind::Partial, 0, 999},
        {"bytes=0-10,20-30", Kind::Partial, 0, 10},
        // Unreadable pieces (too many bounds, a bound that is no number or
        // too large) fall back to the whole file, as a partial answer.
        {"bytes=x-100", Kind::Partial, 0, 999},
        {"bytes=abc", Kind::Partial, 0, 999},
        {"bytes=-", Kind::Partial, 0, 999},
        {"bytes=1-2-3", Kind::Partial, 0, 999},
        {"bytes=99999999999999999999-", Kind::Partial, 0, 999},
        // Not satisfiable.
        {"bytes=-0", Kind::Unsatisfiable, 0, -1},
        {"bytes=1000-", Kind::Unsatisfiable, 0, -1},
        {"bytes=100-50", Kind::Unsatisfiable, 0, -1},
        {"bytes=2000-3000", Kind::Unsatisfiable, 0, -1},
        // Another unit (or letter case), no range at all: the whole file.
        {"Bytes=0-1", Kind::Whole, 0, 999},
        {"bytes=,,", Kind::Whole, 0, 999},
    };
    for (const Case &c : cases) {
        const ByteRange range = ByteRange::resolve(QString::fromLatin1(c.header), 1000);
        EXPECT_EQ(range.kind, c.kind) << c.header;
        if (c.kind != Kind::Unsatisfiable) {
            EXPECT_EQ(range.start, c.start) << c.header;
            EXPECT_EQ(range.end, c.end) << c.header;
            EXPECT_EQ(range.length(), c.end - c.start + 1) << c.header;
        }
    }
}
