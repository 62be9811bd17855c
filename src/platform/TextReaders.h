#pragma once

#include <QString>
#include <QStringView>
#include <QtGlobal>
#include <optional>

// Strict readers for the small pieces of text that arrive from the network,
// playlists and the command line. None of them skips anything it was not
// asked to skip, so "12 " or "1e3" never read as a number by accident.

// The value of an ASCII hexadecimal digit of either letter case; -1 for any
// other character.
int hexDigitValue(char c);

// The text without spaces and tabs at either end; other white space stays.
QStringView trimBlanksAndTabs(QStringView text);

// An optional "+" or "-" followed by ASCII decimal digits only, with nothing
// around them; none for any other form or a value beyond the 64-bit range
// (its most negative value reads).
std::optional<qint64> readSignedInteger(QStringView text);

// An optional "+" followed by ASCII decimal digits only; none for any other
// form, a minus sign included, or a value beyond the 64-bit range.
std::optional<qint64> readUnsignedInteger(QStringView text);

// The text with its percent-escapes decoded as UTF-8; none for an escape
// that lacks two hexadecimal digits or escapes that do not form UTF-8.
std::optional<QString> percentDecoded(QStringView text);
