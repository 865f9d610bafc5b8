#include "ftp/ftp_errors.h"

#include <cstring>

namespace taskhaul::ftp {
namespace {

std::string SystemText(int errorNumber)
{
    char buffer[256] = {};
    // GNU strerror_r returns the text, which may not be the buffer.
    return ::strerror_r(errorNumber, buffer, sizeof buffer);
}

} // namespace

ESocketError::ESocketError(int errorNumber)
    : ESocketError(errorNumber, SystemText(errorNumber))
{
}

ESocketError::ESocketError(int errorNumber, const std::string& text)
    : EFtpException("Socket Error # " + std::to_string(errorNumber) + "\r\n" + text)
    , errorNumber_(errorNumber)
{
}

EIncompleteTransfer::EIncompleteTransfer(std::int64_t expected, std::int64_t received)
    : EFtpException("Transfer incomplete: the server announced " + std::to_string(expected) + " bytes, but "
        + std::to_string(received) + " bytes were received.")
    , expected_(expected)
    , received_(received)
{
}

} // namespace taskhaul::ftp
