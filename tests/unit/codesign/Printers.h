#pragma once

#include <optional>
#include <ostream>

#include <QString>

// Readable failure messages for Qt text in this folder's tests.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}
