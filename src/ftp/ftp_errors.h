#pragma once

// Errors raised by the FTP client. Every error carries the exact text the user
// will read in the activity log; the text is composed once, where the error is
// raised.

#include "base/taskhaul_error.h"

#include <cstdint>
#include <string>

namespace taskhaul::ftp {

// The root of the client's errors.
class EFtpException : public TaskhaulError {
public:
    using TaskhaulError::TaskhaulError;
};

// An operation started while another one waits (from inside the pump):
// "Another FTP operation is in progress.". Nothing was sent.
class EFtpBusy : public EFtpException {
public:
    EFtpBusy()
        : EFtpException("Another FTP operation is in progress.")
    {
    }
};

class EAlreadyConnected : public EFtpException {
public:
    EAlreadyConnected()
        : EFtpException("Already connected.")
    {
    }
};

// "Not connected." before the client was ever connected, "Not Connected" once
// the control socket has been closed.
class ENotConnected : public EFtpException {
public:
    explicit ENotConnected(bool everConnected)
        : EFtpException(everConnected ? "Not Connected" : "Not connected.")
    {
    }
};

class EConnectTimeout : public EFtpException {
public:
    EConnectTimeout()
        : EFtpException("Connect timed out.")
    {
    }
};

// Any other failure of the connect worker.
class EConnectError : public EFtpException {
public:
    using EFtpException::EFtpException;
};

// "Socket Error # <errno>\r\n<system text>".
class ESocketError : public EFtpException {
public:
    explicit ESocketError(int errorNumber);
    ESocketError(int errorNumber, const std::string& text);
    int ErrorNumber() const noexcept { return errorNumber_; }

private:
    int errorNumber_;
};

class EConnectionClosed : public EFtpException {
public:
    EConnectionClosed()
        : EFtpException("Connection Closed Gracefully.")
    {
    }
};

class ELineTooLong : public EFtpException {
public:
    ELineTooLong()
        : EFtpException("Max line length exceeded.")
    {
    }
};

class EReadTimeout : public EFtpException {
public:
    EReadTimeout()
        : EFtpException("Read Timeout")
    {
    }
    // "Read Timeout. " and what the client learnt of the cause.
    explicit EReadTimeout(const std::string& cause)
        : EFtpException("Read Timeout. " + cause)
    {
    }
};

// A reply code outside the allowed ones; the message is the reply's text lines
// joined by LF, without a line break at the end.
class EFtpReplyError : public EFtpException {
public:
    EFtpReplyError(int replyCode, const std::string& message)
        : EFtpException(message)
        , replyCode_(replyCode)
    {
    }
    int ReplyCode() const noexcept { return replyCode_; }

private:
    int replyCode_;
};

// "'<text>' is not a valid integer value" (numbers of a PASV reply).
class EConvertError : public EFtpException {
public:
    using EFtpException::EFtpException;
};

class EFileAlreadyExists : public EFtpException {
public:
    EFileAlreadyExists()
        : EFtpException("Destination file already exists.")
    {
    }
};

// "Cannot create file "<path>". <reason>" or "Cannot open file "<path>". <reason>".
class EFileError : public EFtpException {
public:
    using EFtpException::EFtpException;
};

// The server asked for a one-time password with a challenge outside RFC 2289's
// bounds (sequence number above 9999, seed not 1 to 16 letters and digits, or
// words missing). Raised before any hashing and before the password is sent.
class EInvalidOtpChallenge : public EFtpException {
public:
    EInvalidOtpChallenge()
        : EFtpException("Invalid one-time password challenge.")
    {
    }
};

// A listing larger than the client's limit: "Listing too long.".
class EListingTooLong : public EFtpException {
public:
    EListingTooLong()
        : EFtpException("Listing too long.")
    {
    }
};

// A transfer cut short by AbortTransfer: "Operation aborted".
class EOperationAborted : public EFtpException {
public:
    EOperationAborted()
        : EFtpException("Operation aborted")
    {
    }
};

// The server confirmed a transfer whose byte count differs from the size it
// announced; the message names both numbers.
class EIncompleteTransfer : public EFtpException {
public:
    EIncompleteTransfer(std::int64_t expected, std::int64_t received);
    std::int64_t Expected() const noexcept { return expected_; }
    std::int64_t Received() const noexcept { return received_; }

private:
    std::int64_t expected_;
    std::int64_t received_;
};

} // namespace taskhaul::ftp
