#pragma once

#include <QDateTime>
#include <QString>
#include <QUuid>

// The file name of a recording: its cleaned title cut to 80 user-perceived
// characters (fewer when the whole name would pass 255 bytes of UTF-8), the
// programme's local start time and a fragment of its id,
// e.g. "Late News 2024-05-01 21.00 1A2B3C.ts".
QString makeFileName(const QString &title, const QDateTime &programStart, const QUuid &id);
