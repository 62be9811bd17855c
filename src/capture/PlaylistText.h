#pragma once

#include "TextReaders.h"

#include <QList>
#include <QString>
#include <QStringView>
#include <QUrl>
#include <optional>

// The reading rules shared by every HLS playlist reader.

// The non-empty lines of a playlist. Lines end at a line feed, vertical tab,
// form feed, carriage return (alone or before a line feed), next line (U+0085),
// line separator (U+2028) or paragraph separator (U+2029).
QList<QStringView> splitPlaylistLines(QStringView text);

// An optional sign followed by ASCII decimal digits only, with nothing around
// them (readSignedInteger); none when the text has any other form or the
// value does not fit.
std::optional<qint64> readPlaylistInteger(QStringView text);

// A decimal number in plain floating-point syntax (sign, digits, fraction,
// exponent), with nothing around it; none when it does not read or is out of
// the range of a double.
std::optional<double> readPlaylistDecimal(QStringView text);

// The URI of a playlist line resolved against the address of the playlist
// that listed it; none when it is not a valid reference or does not end as an
// absolute address.
std::optional<QUrl> resolvePlaylistURI(QStringView uri, const QUrl &base);
