#include "ftp/ftp_data.h"

#include "base/integers.h"
#include "ftp/ftp_errors.h"
#include "ftp/ftp_reply.h"

#include <algorithm>
#include <string_view>

namespace taskhaul::ftp {
namespace {

// One of the six numbers of a PASV reply: one to three digits, 0 to 255, blanks
// around it allowed. Anything else (a sign, a longer number) is refused before it
// is computed with, so that no reply can make the port arithmetic overflow.
int ByteField(std::string_view field)
{
    const std::string_view text = reply::Trim(field);
    const auto value = text.size() <= 3 ? base::ParseDigits(text, 255) : std::nullopt;
    if (!value)
        throw EConvertError("'" + std::string(field) + "' is not a valid integer value");
    return static_cast<int>(*value);
}

} // namespace

PassiveEndpoint ParsePassiveReply(const std::vector<std::string>& replyText)
{
    std::string_view text = replyText.empty() ? std::string_view() : reply::Trim(replyText.front());
    const auto open = text.find('(');
    const auto close = text.find(')');
    if (open != std::string_view::npos && close != std::string_view::npos) {
        text = open < close ? text.substr(open + 1, close - open - 1) : std::string_view();
    } else {
        if (const auto blank = text.rfind(' '); blank != std::string_view::npos)
            text = text.substr(blank + 1);
        // Some servers write "=h1,h2,..."; the numbers begin at the first digit.
        text.remove_prefix(std::min(text.size(), text.find_first_of("0123456789")));
    }

    // Six fields; the last one takes the rest, so that a seventh number is refused.
    std::vector<std::string_view> fields;
    for (std::size_t pos = 0;;) {
        const auto comma = fields.size() == 5 ? std::string_view::npos : text.find(',', pos);
        fields.push_back(
            text.substr(pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos));
        if (comma == std::string_view::npos)
            break;
        pos = comma + 1;
    }
    fields.resize(6);

    PassiveEndpoint endpoint;
    for (int i = 0; i < 4; ++i) {
        ByteField(fields[i]);
        if (i > 0)
            endpoint.address += '.';
        endpoint.address += reply::Trim(fields[i]);
    }
    endpoint.port = ByteField(fields[4]) * 256 + ByteField(fields[5]);
    if (endpoint.port == 0)
        throw EFtpException("Invalid port 0 in the passive mode reply.");
    return endpoint;
}

int ParseExtendedPassiveReply(const std::vector<std::string>& replyText)
{
    const std::string_view line = replyText.empty() ? std::string_view() : reply::Trim(replyText.front());
    const auto open = line.find('(');
    const auto close = line.rfind(')');
    std::string_view inner = open != std::string_view::npos && close != std::string_view::npos && open < close
        ? line.substr(open + 1, close - open - 1)
        : std::string_view();
    // "<d><d><d>port<d>": three delimiters, the port, the delimiter again.
    const auto refuse = [&] {
        throw EConvertError("'" + std::string(line) + "' is not a valid extended passive mode reply");
    };
    if (inner.size() < 5)
        refuse();
    const char d = inner.front();
    if (d < 33 || d > 126 || (d >= '0' && d <= '9') || inner[1] != d || inner[2] != d || inner.back() != d)
        refuse();
    const std::string_view digits = inner.substr(3, inner.size() - 4);
    const auto value = digits.size() <= 5 ? base::ParseDigits(digits, 65535) : std::nullopt;
    if (!value || *value == 0)
        refuse();
    return static_cast<int>(*value);
}

std::string ExtendedPortArgument(const std::string& address, int port)
{
    const bool v6 = address.find(':') != std::string::npos;
    return std::string(v6 ? "|2|" : "|1|") + address + "|" + std::to_string(port) + "|";
}

std::string PortArgument(const std::string& ipv4, int port)
{
    std::string text;
    for (char c : ipv4)
        text += c == '.' ? ',' : c;
    return text + "," + std::to_string((port >> 8) & 0xFF) + "," + std::to_string(port & 0xFF);
}

std::int64_t ParseSizeReply(const std::vector<std::string>& replyText)
{
    std::string joined;
    for (std::size_t i = 0; i < replyText.size(); ++i) {
        if (i > 0)
            joined += "\r\n";
        joined += replyText[i];
    }
    std::string_view text = reply::Trim(joined);
    if (const auto blank = text.find(' '); blank != std::string_view::npos)
        text.remove_prefix(blank + 1);
    const auto value = base::ParseInteger(text);
    return value && *value >= 0 ? *value : -1;
}

std::optional<std::int64_t> AnnouncedSize(const std::vector<std::string>& replyText)
{
    // Plain digits only, and few enough that the count and every sum made with it
    // stay far from the limits of a 64-bit integer.
    constexpr std::size_t kMaxDigits = 18;
    for (const auto& line : replyText) {
        std::string_view text = line;
        const auto end = text.rfind(" bytes)");
        if (end == std::string_view::npos)
            continue;
        const auto open = text.rfind('(', end);
        if (open == std::string_view::npos)
            continue;
        const std::string_view number = text.substr(open + 1, end - open - 1);
        if (number.size() > kMaxDigits)
            continue;
        if (const auto value = base::ParseDigits(number))
            return value;
    }
    return std::nullopt;
}

} // namespace taskhaul::ftp
