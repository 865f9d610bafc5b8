#include "ftp/ftp_reply.h"

#include "base/integers.h"
#include "base/text.h"
#include "ftp/ftp_errors.h"

#include <algorithm>

namespace taskhaul::ftp::reply {
namespace {

bool IsBlankOrControl(char c)
{
    return static_cast<unsigned char>(c) <= ' ';
}

} // namespace

std::string_view TrimLeft(std::string_view text)
{
    while (!text.empty() && IsBlankOrControl(text.front()))
        text.remove_prefix(1);
    return text;
}

std::string_view Trim(std::string_view text)
{
    text = TrimLeft(text);
    while (!text.empty() && IsBlankOrControl(text.back()))
        text.remove_suffix(1);
    return text;
}

bool IsInteger(std::string_view text)
{
    if (!text.empty() && (text.front() == '+' || text.front() == '-'))
        text.remove_prefix(1);
    return base::IsDigits(text);
}

bool IsEndLine(std::string_view line)
{
    if (line.size() <= 3)
        return IsInteger(line);
    return IsInteger(line.substr(0, 3)) && line[3] == ' ';
}

TFtpReply Parse(const std::vector<std::string>& lines)
{
    TFtpReply result;
    if (lines.empty())
        return result;
    const std::string& first = lines.front();
    std::string_view code = Trim(std::string_view(first).substr(0, std::min<std::size_t>(4, first.size())));
    if (code.size() == 4 && code.back() == '-')
        code.remove_suffix(1);
    if (!code.empty()) {
        const auto value = base::ParseDigits(code, 999);
        if (!value || *value < 100)
            throw EFtpException("Reply Code is not valid: " + std::string(code));
        result.NumericCode = static_cast<int>(*value);
    }
    result.ReplyCode = std::string(code);
    result.ReplyText.reserve(lines.size());
    result.ReplyText.push_back(first.size() > 4 ? first.substr(4) : std::string());
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (!code.empty() && line.size() >= 3
            && base::EqualsIgnoreCase(std::string_view(line).substr(0, 3), code))
            result.ReplyText.push_back(line.size() > 4 ? line.substr(4) : std::string());
        else
            result.ReplyText.emplace_back(TrimLeft(line));
    }
    return result;
}

std::string ErrorText(const TFtpReply& reply)
{
    const auto isBreak = [](char c) { return c == '\r' || c == '\n'; };
    std::string text;
    for (std::size_t i = 0; i < reply.ReplyText.size(); ++i) {
        std::string_view line = reply.ReplyText[i];
        while (!line.empty() && isBreak(line.back()))
            line.remove_suffix(1);
        if (i > 0)
            text += '\n';
        text += line;
    }
    // Empty first or last lines (a reply of the code alone) leave no break behind.
    while (!text.empty() && isBreak(text.back()))
        text.pop_back();
    const auto start = text.find_first_not_of("\r\n");
    return start == std::string::npos ? std::string() : text.substr(start);
}

void Check(const TFtpReply& reply, const std::vector<int>& allowed)
{
    if (allowed.empty() || std::find(allowed.begin(), allowed.end(), reply.NumericCode) != allowed.end())
        return;
    throw EFtpReplyError(reply.NumericCode, ErrorText(reply));
}

} // namespace taskhaul::ftp::reply
