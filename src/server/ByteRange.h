#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

// The part of a file one answer carries, worked out from a "range" header
// value and the file's size. Only the first range of a "bytes=" value counts;
// a value in another unit is ignored and the whole file is sent.
struct ByteRange
{
    enum class Kind { Whole, Partial, Unsatisfiable };

    Kind kind = Kind::Whole;
    qint64 start = 0;
    qint64 end = -1; // inclusive

    qint64 length() const { return end - start + 1; }

    // `total` must be above 0.
    static ByteRange resolve(const std::optional<QString> &rangeHeader, qint64 total);
};
