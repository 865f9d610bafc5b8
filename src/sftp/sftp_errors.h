#pragma once

// Errors raised by the SFTP client. Each carries the exact text the user reads
// in the activity log, composed where the error is raised, and its class says
// how a run treats it: a connection failure may be retried, a file failure
// skips one file, a folder failure ends the run.

#include "base/taskhaul_error.h"

#include <string>

namespace taskhaul::sftp {

class ESftpException : public TaskhaulError {
public:
    using TaskhaulError::TaskhaulError;
};

// An operation started from inside the pump while another one waits.
class ESftpBusy : public ESftpException {
public:
    ESftpBusy()
        : ESftpException("Another SFTP operation is in progress.")
    {
    }
};

class ESftpNotConnected : public ESftpException {
public:
    ESftpNotConnected()
        : ESftpException("Not connected.")
    {
    }
};

// The connection could not be made or was lost: refused, unreachable, timed
// out, broken mid-operation, or an SSH handshake that failed.
class ESftpConnectionError : public ESftpException {
public:
    using ESftpException::ESftpException;
};

// A connect, a request or a download that saw no answer within its limit.
class ESftpTimeout : public ESftpConnectionError {
public:
    using ESftpConnectionError::ESftpConnectionError;
};

// Ended by Stop: "Operation aborted". The connection is closed.
class ESftpAborted : public ESftpException {
public:
    ESftpAborted()
        : ESftpException("Operation aborted")
    {
    }
};

// The server's host key was not accepted. Nothing was sent to the server
// beyond the key exchange: no user name, no password, no key.
class ESftpHostKeyError : public ESftpException {
public:
    ESftpHostKeyError(std::string text, std::string keyType, std::string fingerprint)
        : ESftpException(std::move(text))
        , keyType_(std::move(keyType))
        , fingerprint_(std::move(fingerprint))
    {
    }
    // "ssh-ed25519", "ecdsa-sha2-nistp256", ...
    const std::string& KeyType() const noexcept { return keyType_; }
    // OpenSSH's form: "SHA256:" and the unpadded base64 of the key's SHA-256.
    const std::string& Fingerprint() const noexcept { return fingerprint_; }

private:
    std::string keyType_;
    std::string fingerprint_;
};

// Neither known_hosts nor the trusted key knows this host: a caller may ask
// the user and connect again with the fingerprint as the trusted key.
class ESftpHostKeyUnknown : public ESftpHostKeyError {
public:
    ESftpHostKeyUnknown(const std::string& keyType, const std::string& fingerprint);
};

// The host is known with another key. Never to be asked: it is refused.
class ESftpHostKeyChanged : public ESftpHostKeyError {
public:
    ESftpHostKeyChanged(const std::string& keyType, const std::string& fingerprint);
};

// known_hosts marks the server's key "@revoked". Never to be asked: it is
// refused, whatever else vouches for the key.
class ESftpHostKeyRevoked : public ESftpHostKeyError {
public:
    ESftpHostKeyRevoked(const std::string& keyType, const std::string& fingerprint);
};

// No authentication method succeeded; the text names the methods tried.
class ESftpAuthError : public ESftpException {
public:
    using ESftpException::ESftpException;
};

// One remote file failed (no permission, gone, a read error); the connection
// is still usable.
class ESftpFileError : public ESftpException {
public:
    using ESftpException::ESftpException;
};

// A remote folder is missing or cannot be read.
class ESftpFolderError : public ESftpException {
public:
    using ESftpException::ESftpException;
};

// The local file of a download could not be created, written or put in place.
class ESftpLocalFileError : public ESftpException {
public:
    using ESftpException::ESftpException;
};

} // namespace taskhaul::sftp
