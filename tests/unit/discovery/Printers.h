#pragma once

#include <optional>
#include <ostream>

#include <QString>
#include <QStringList>
#include <QUrl>

// Readable GoogleTest messages for the Qt types these tests compare.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QStringList& list, std::ostream* os)
{
    *os << '[' << list.join(u", ").toStdString() << ']';
}

inline void PrintTo(const QUrl& url, std::ostream* os)
{
    *os << url.toString().toStdString();
}
