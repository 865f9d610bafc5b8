#pragma once

#include <QByteArray>
#include <QString>

#include <string_view>

namespace taskhaul {

// Text from outside (a server's reply, a file name, a user name) made fit for one
// entry of the log, the status line, a message box or a terminal line: each line
// break ends a part and the parts are joined by " / " (so a multi-line reply
// stays readable), every other control character (C0, DEL, C1, the Unicode line
// and paragraph separators) becomes a space, and blanks at either end of a part
// are dropped. Empty parts vanish, so a trailing CR LF leaves nothing behind.
QString oneLine(const QString& text);

// The same for bytes: valid UTF-8 is decoded, anything else shows as the
// replacement character rather than being dropped.
QString oneLine(std::string_view bytes);

} // namespace taskhaul
