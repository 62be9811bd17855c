#include "ByteRange.h"

#include "TextReaders.h"

#include <QStringList>

namespace {

const QString kUnitPrefix = QStringLiteral("bytes=");

ByteRange partialOrUnsatisfiable(qint64 start, qint64 end, qint64 total)
{
    if (end < start || start >= total)
        return {ByteRange::Kind::Unsatisfiable, 0, -1};
    return {ByteRange::Kind::Partial, start, end};
}

} // namespace

ByteRange ByteRange::resolve(const std::optional<QString> &rangeHeader, qint64 total)
{
    const ByteRange whole{Kind::Whole, 0, total - 1};
    if (!rangeHeader || !rangeHeader->startsWith(kUnitPrefix))
        return whole;
    const QStringList ranges = rangeHeader->mid(kUnitPrefix.size()).split(QLatin1Char(','), Qt::SkipEmptyParts);
    // "bytes=" with no range at all asks for nothing sensible: send the file.
    if (ranges.isEmpty())
        return whole;
    const QStringList bounds = ranges.first().split(QLatin1Char('-'));
    qint64 start = 0;
    qint64 end = total - 1;
    if (bounds.size() != 2)
        return partialOrUnsatisfiable(start, end, total);
    const QString &first = bounds.at(0);
    const QString &second = bounds.at(1);
    if (first.isEmpty()) {
        // Suffix form: the last N bytes.
        if (const auto suffix = readUnsignedInteger(second))
            start = qMax<qint64>(0, total - *suffix);
        return partialOrUnsatisfiable(start, end, total);
    }
    const auto from = readUnsignedInteger(first);
    if (!from)
        return partialOrUnsatisfiable(start, end, total);
    start = *from;
    if (const auto to = readUnsignedInteger(second))
        end = qMin(end, *to);
    return partialOrUnsatisfiable(start, end, total);
}
