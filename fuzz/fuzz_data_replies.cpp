// The texts of the data side that come from the server: the 227 reply to PASV,
// the 213 reply to SIZE and the "(<n> bytes)" of a 150 reply. The input is the
// reply text, one line per line of input.

#include "ftp/ftp_data.h"
#include "ftp/ftp_errors.h"
#include "fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::vector<std::string> ReplyLines(std::string_view input)
{
    std::vector<std::string> lines;
    for (;;) {
        const auto end = input.find('\n');
        lines.emplace_back(input.substr(0, end));
        if (end == std::string_view::npos)
            return lines;
        input.remove_prefix(end + 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace taskhaul::ftp;
    const std::vector<std::string> lines
        = ReplyLines(std::string_view(reinterpret_cast<const char*>(data), size));

    try {
        const PassiveEndpoint endpoint = ParsePassiveReply(lines);
        FUZZ_REQUIRE(endpoint.port >= 1 && endpoint.port <= 65535);
    } catch (const EFtpException&) {
        // Not a usable 227 reply: the client reports it and goes on.
    }

    FUZZ_REQUIRE(ParseSizeReply(lines) >= -1);

    if (const auto announced = AnnouncedSize(lines))
        FUZZ_REQUIRE(*announced >= 0);
    return 0;
}
