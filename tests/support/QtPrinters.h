#pragma once

#include <QByteArray>
#include <QString>
#include <ostream>

// Readable failure messages for Qt values in GoogleTest assertions (lists of
// them print element by element).
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QByteArray &bytes, std::ostream *os)
{
    if (bytes.size() > 300)
        *os << bytes.size() << " bytes starting \"" << bytes.left(300).toStdString() << '"';
    else
        *os << '"' << bytes.toStdString() << '"';
}
