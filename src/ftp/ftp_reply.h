#pragma once

// The reply grammar of the control connection: which line ends a reply, how the
// code and text lines are taken from the lines, and the check against allowed codes.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace taskhaul::ftp {

// One complete reply of the server.
struct TFtpReply {
    std::string ReplyCode; // the code as text, e.g. "220" (may be empty)
    int NumericCode = 0; // 0 when the code is empty or not a number
    std::vector<std::string> ReplyText; // text lines without their code prefixes
};

namespace reply {

// Limits of one line and of one reply. A server exceeding them is broken or hostile.
inline constexpr std::size_t kMaxLineLength = 16384;
inline constexpr std::size_t kMaxReplyBytes = 1024 * 1024;
inline constexpr std::size_t kMaxReplyLines = 10000;

// Blanks and control characters removed at both ends.
std::string_view Trim(std::string_view text);
std::string_view TrimLeft(std::string_view text);

// An optional sign followed by decimal digits and nothing else.
bool IsInteger(std::string_view text);

// A line of up to 3 characters that is wholly an integer, or a longer line whose
// first 3 characters are an integer and whose 4th is a blank.
bool IsEndLine(std::string_view line);

// Builds the reply from its lines: the first (already trimmed and not empty) up to
// the end line. Raises EFtpException "Reply Code is not valid: <code>".
TFtpReply Parse(const std::vector<std::string>& lines);

// The message of EFtpReplyError: the reply's text lines joined by LF, with no
// line break at the end (the activity log writes it as one entry).
std::string ErrorText(const TFtpReply& reply);

// Raises EFtpReplyError unless `allowed` is empty or holds the reply's code.
void Check(const TFtpReply& reply, const std::vector<int>& allowed);

} // namespace reply
} // namespace taskhaul::ftp
