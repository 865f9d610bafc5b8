#pragma once

// Local files of a retrieval: the download is written into a temporary file
// beside the target and only then put in the target's place, so a failed or
// aborted download never leaves a partial file under the target's name.

#include "ftp/ftp_socket.h"
#include "ftp/ftp_stream.h"

#include <string>

namespace taskhaul::ftp {

class TLocalFileStream final : public TFtpOutputStream {
public:
    // Takes ownership of the open descriptor; `displayPath` names the file in errors.
    TLocalFileStream(net::Fd fd, std::string displayPath, std::int64_t position);
    void Write(const char* data, std::size_t size) override;
    std::int64_t Position() const override { return position_; }
    // Closes the file; raises EFileError when the system reports a failed write.
    void Commit();
    int Descriptor() const noexcept { return fd_.Get(); }

private:
    net::Fd fd_;
    std::string displayPath_;
    std::int64_t position_;
};

// A new, empty temporary file in the folder of `targetPath`. Raises EFileError
// "Cannot create file "<targetPath>". <reason>".
struct TemporaryFile {
    std::string path;
    net::Fd fd;
};
TemporaryFile CreateTemporaryBeside(const std::string& targetPath);

// Puts the finished temporary file in the target's place. Without `replace`, an
// existing target is never touched (EFileAlreadyExists).
void MoveIntoPlace(const std::string& temporaryPath, const std::string& targetPath, bool replace);

// Opens an existing file for appending (resumed downloads). Raises EFileError
// "Cannot open file "<path>". <reason>".
TLocalFileStream OpenForAppend(const std::string& path);

bool LocalPathExists(const std::string& path);

} // namespace taskhaul::ftp
