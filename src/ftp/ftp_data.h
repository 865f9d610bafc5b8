#pragma once

// Texts of the data side: the PASV reply, the PORT argument, the SIZE reply and
// the size a 150 reply announces.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace taskhaul::ftp {

struct PassiveEndpoint {
    std::string address; // as the server wrote it; the client does not connect there
    int port = 0;
};

// Each of the six numbers must be one to three digits from 0 to 255; any other
// field raises EConvertError "'<field>' is not a valid integer value". Port 0
// raises EFtpException.
PassiveEndpoint ParsePassiveReply(const std::vector<std::string>& replyText);

// The port of a 229 reply to EPSV (RFC 2428): "(|||port|)", where "|" may be
// any printable delimiter. Anything else raises EConvertError.
int ParseExtendedPassiveReply(const std::vector<std::string>& replyText);

// "|1|a.b.c.d|port|" or "|2|ipv6|port|" for EPRT.
std::string ExtendedPortArgument(const std::string& address, int port);

// "h1,h2,h3,h4,p1,p2" for a dotted IPv4 address and a port.
std::string PortArgument(const std::string& ipv4, int port);

// The size in a 213 reply to SIZE, or -1 when its text holds no plain number.
std::int64_t ParseSizeReply(const std::vector<std::string>& replyText);

// The "(<n> bytes)" that many servers put into their 150 reply; n must be plain
// digits (at most 18), otherwise the reply announces nothing.
std::optional<std::int64_t> AnnouncedSize(const std::vector<std::string>& replyText);

} // namespace taskhaul::ftp
