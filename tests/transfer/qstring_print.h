#pragma once

#include <QString>

#include <ostream>

// Readable failure messages for texts: GoogleTest finds this through QString's namespace.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
