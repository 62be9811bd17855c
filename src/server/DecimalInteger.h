#pragma once

#include <QStringView>
#include <QtGlobal>
#include <optional>

// Reads a decimal 64-bit number with an optional leading plus sign and
// nothing else: no blanks, no minus sign, no value beyond the 64-bit range.
std::optional<qint64> readDecimalInteger(QStringView text);
