#pragma once

#include "update/web_update_types.h"

#include <QByteArray>
#include <QStringList>

namespace taskhaul {

// Splits a page at line breaks: carriage return, line feed, or both together.
QStringList splitPageLines(const QString& text);

// Reads the named tags of an update information page. A tag is one line
// holding `META NAME="<name>"` (capitals, exactly so) and, anywhere on the same
// line, `CONTENT="<value>"` (CONTENT in any case). Only the first META NAME of
// a line counts; a later line with the same tag replaces an earlier value; a
// name or value whose closing quote is not within 255 characters reads as empty.
TPageValues readPageTags(const QStringList& lines, const TTagInfo& tags);

} // namespace taskhaul
