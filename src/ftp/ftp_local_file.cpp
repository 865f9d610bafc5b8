#include "ftp/ftp_local_file.h"

#include "ftp/ftp_errors.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace taskhaul::ftp {
namespace {

std::string Reason(int errorNumber)
{
    char buffer[256] = {};
    return ::strerror_r(errorNumber, buffer, sizeof buffer);
}

[[noreturn]] void ThrowFileError(const char* what, const std::string& path, int errorNumber)
{
    throw EFileError(std::string(what) + " \"" + path + "\". " + Reason(errorNumber));
}

struct Temporary {
    std::string path;
    net::Fd fd;
};

// A new, empty temporary file in the folder of `targetPath`.
Temporary CreateTemporaryBeside(const std::string& targetPath)
{
    const auto slash = targetPath.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : targetPath.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? targetPath : targetPath.substr(slash + 1);
    // Hidden, and marked as ours, so that a crash leaves a recognisable leftover.
    const std::string base = folder + "." + name.substr(0, 200) + ".taskhaul-";
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    // The name only has to be unlikely to be taken (O_EXCL decides): one
    // generator, seeded once, serves every download.
    thread_local std::minstd_rand random { std::random_device {}() };
    int lastError = EEXIST;
    for (int attempt = 0; attempt < 100 && lastError == EEXIST; ++attempt) {
        std::string path = base;
        for (int i = 0; i < 8; ++i)
            path += kLetters[random() % (sizeof kLetters - 1)];
        net::Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (fd.Valid()) {
            // Without the mark (no extended attributes here) the download
            // works the same; only a crash's leftover is then not cleared away.
            static_cast<void>(::fsetxattr(fd.Get(), kDownloadTemporaryMark, "1", 1, 0));
            return { std::move(path), std::move(fd) };
        }
        lastError = errno;
    }
    ThrowFileError("Cannot create file", targetPath, lastError);
}

// Puts the finished temporary file in the target's place.
void MoveIntoPlace(const std::string& temporaryPath, const std::string& targetPath, bool replace)
{
    if (replace) {
        if (::rename(temporaryPath.c_str(), targetPath.c_str()) != 0)
            ThrowFileError("Cannot create file", targetPath, errno);
        return;
    }
    if (::renameat2(AT_FDCWD, temporaryPath.c_str(), AT_FDCWD, targetPath.c_str(), RENAME_NOREPLACE) == 0)
        return;
    if (errno == EEXIST)
        throw EFileAlreadyExists();
    if (errno != EINVAL && errno != ENOSYS)
        ThrowFileError("Cannot create file", targetPath, errno);
    // A file system without RENAME_NOREPLACE: a hard link fails on an existing
    // target just as well.
    if (::link(temporaryPath.c_str(), targetPath.c_str()) != 0) {
        if (errno == EEXIST)
            throw EFileAlreadyExists();
        ThrowFileError("Cannot create file", targetPath, errno);
    }
    ::unlink(temporaryPath.c_str());
}

// A file-size limit (ulimit -f) must fail the write, not end the process: by
// default the kernel sends SIGXFSZ, which kills it. Ignored, the write reports
// EFBIG instead and the download fails like any other write. A handler the
// program has installed is left alone.
void IgnoreFileSizeSignal()
{
    static const bool done = [] {
        struct sigaction current { };
        if (::sigaction(SIGXFSZ, nullptr, &current) == 0 && !(current.sa_flags & SA_SIGINFO)
            && current.sa_handler == SIG_DFL) {
            struct sigaction ignore { };
            ignore.sa_handler = SIG_IGN;
            ::sigemptyset(&ignore.sa_mask);
            ::sigaction(SIGXFSZ, &ignore, nullptr);
        }
        return true;
    }();
    static_cast<void>(done);
}

} // namespace

TLocalDownload::TLocalDownload(std::string targetPath, Mode mode)
    : targetPath_(std::move(targetPath))
{
    IgnoreFileSizeSignal();
    if (mode == Mode::Append) {
        fd_.Reset(::open(targetPath_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
        if (!fd_.Valid())
            ThrowFileError("Cannot open file", targetPath_, errno);
        struct stat info { };
        if (::fstat(fd_.Get(), &info) != 0)
            ThrowFileError("Cannot open file", targetPath_, errno);
        position_ = info.st_size;
        return;
    }
    Temporary temporary = CreateTemporaryBeside(targetPath_);
    temporaryPath_ = std::move(temporary.path);
    fd_ = std::move(temporary.fd);
}

TLocalDownload::~TLocalDownload()
{
    fd_.Reset();
    if (!temporaryPath_.empty())
        ::unlink(temporaryPath_.c_str());
}

bool TLocalDownload::TargetExists(const std::string& path)
{
    struct stat info { };
    return ::lstat(path.c_str(), &info) == 0;
}

void TLocalDownload::Write(const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd_.Get(), data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            ThrowFileError("Cannot write file", targetPath_, errno);
        }
        data += written;
        size -= static_cast<std::size_t>(written);
        position_ += written;
    }
}

void TLocalDownload::Commit(bool replace)
{
    // No fsync: it would bind every download to the disk's write speed. The
    // rename after the server's confirmation is what keeps failed and aborted
    // downloads out of the target's place.
    const int fd = fd_.Release();
    if (::close(fd) != 0 && errno != EINTR)
        ThrowFileError("Cannot write file", targetPath_, errno);
    if (temporaryPath_.empty())
        return;
    MoveIntoPlace(temporaryPath_, targetPath_, replace);
    temporaryPath_.clear();
}

bool IsMarkedDownloadTemporary(int folderFd, const char* name)
{
    net::Fd fd(::openat(folderFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.Valid())
        return false;
    struct stat info { };
    if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    char value[8] = {};
    return ::fgetxattr(fd.Get(), kDownloadTemporaryMark, value, sizeof value) >= 0;
}

} // namespace taskhaul::ftp
