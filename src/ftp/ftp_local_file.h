#pragma once

// The local side of a download. A new file is written into a temporary file
// beside the target and only put in the target's place on Commit, so a failed
// or aborted download never leaves a partial file under the target's name; a
// download destroyed without Commit removes its temporary file. A resumed
// download appends to the target in place. Downloads share no state: each
// belongs to the thread that writes it, and any number run at once.

#include "ftp/ftp_socket.h"
#include "ftp/ftp_stream.h"

#include <cstdint>
#include <string>

namespace taskhaul::ftp {

class TLocalDownload final : public TFtpOutputStream {
public:
    enum class Mode {
        NewFile, // a temporary file beside the target, moved into place on Commit
        Append, // the existing target, opened for appending
    };

    // NewFile raises EFileError "Cannot create file "<target>". <reason>",
    // Append raises EFileError "Cannot open file "<target>". <reason>".
    TLocalDownload(std::string targetPath, Mode mode);
    ~TLocalDownload() override;
    TLocalDownload(const TLocalDownload&) = delete;
    TLocalDownload& operator=(const TLocalDownload&) = delete;

    // Whether anything (a file, a folder, a dangling link) has the target's name.
    static bool TargetExists(const std::string& path);

    void Write(const char* data, std::size_t size) override;
    std::int64_t Position() const override { return position_; }

    // Closes the file (EFileError when the system reports a failed write) and,
    // for a new file, puts it in the target's place. Without `replace`, an
    // existing target is never touched (EFileAlreadyExists). After a failed
    // Commit the temporary file is still removed on destruction.
    void Commit(bool replace);

    // The temporary file's path; empty in Append mode and once committed.
    const std::string& TemporaryPath() const noexcept { return temporaryPath_; }

private:
    std::string targetPath_;
    std::string temporaryPath_;
    net::Fd fd_;
    std::int64_t position_ = 0;
};

// The extended attribute that marks a download's temporary file as this
// program's own. The clean-up after a crash removes only files that carry it:
// a file of the same name form made by anyone else is never touched. On a file
// system without extended attributes the mark is missing, and a leftover stays.
inline constexpr const char* kDownloadTemporaryMark = "user.taskhaul.download";

// Whether the plain file `name` in the folder `folderFd` carries the mark
// (never following a link).
bool IsMarkedDownloadTemporary(int folderFd, const char* name);

} // namespace taskhaul::ftp
