#pragma once

#include "base/taskhaul_error.h"

#include <QString>

#include <cstdint>
#include <stdexcept>
#include <string_view>

namespace taskhaul {

// A number field whose text is not a decimal integer: "'<text>' is not a valid
// integer value".
class InvalidIntegerError : public TaskhaulError {
public:
    explicit InvalidIntegerError(const QString& text);
};

// Reads a port field: an optional sign and decimal digits that fit an int.
// Raises InvalidIntegerError for anything else (the empty text included).
int parseIntegerField(const QString& text);

// The separator between the local folder and a file name: "/" unless the folder
// text already ends with one (or is empty, which keeps the name as it is).
QString localFolderSeparator(const QString& localFolder);

// Whether a name the server listed may become a local file name as it is. Names
// that could leave the local folder or name no file are refused: the empty name,
// ".", "..", and any name holding "/" or a NUL character.
bool isSafeLocalName(std::string_view name);

// `value` in decimal, grouped by thousands with `separator`: 1234567 -> "1,234,567".
QString groupThousands(std::uint64_t value, const QString& separator);

// The byte count of the completion line: the bytes that arrived (the local
// file's size), grouped by thousands; "0" for an empty file. Not the size the
// server announced: where the two differ, the log says what is on disk.
QString completedByteCount(std::int64_t received, const QString& separator);

// The name of a listed file as text for the log and the status line. Control
// characters are shown escaped (\n, \r, \t, the others as \xNN, the Unicode
// line and paragraph separators as \u2028 and \u2029), so that a name holding
// a line break reads as one name; the file on disk keeps its real name.
QString displayName(std::string_view name);

// Where a remote folder is, as the log names it: "ftp://host/folder/", with the
// port after the host when it is not the one the scheme implies (`schemePort`;
// 0 or a `port` of 0: none shown) and an IPv6 address in brackets. A folder
// that does not begin with "/" is below the login folder; it follows the
// host's slash all the same.
QString remoteFolderAddress(
    const QString& scheme, const QString& host, int port, int schemePort, const QString& folder);

} // namespace taskhaul
