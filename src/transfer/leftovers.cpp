#include "transfer/leftovers.h"

#include "ftp/ftp_local_file.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace taskhaul {

namespace {

constexpr std::string_view kMarker = ".taskhaul-";
constexpr std::size_t kRandomLength = 8;

bool isRandomPart(std::string_view text)
{
    if (text.size() != kRandomLength)
        return false;
    for (char c : text)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
            return false;
    return true;
}

QString runtimeFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder;
}

} // namespace

bool isDownloadTemporaryName(std::string_view name)
{
    // "." + at least one character of the target's name + marker + random part.
    if (name.size() < 1 + 1 + kMarker.size() + kRandomLength || name.front() != '.')
        return false;
    const std::size_t markerAt = name.size() - kRandomLength - kMarker.size();
    return name.substr(markerAt, kMarker.size()) == kMarker
        && isRandomPart(name.substr(markerAt + kMarker.size()));
}

QString LocalFolderRun::lockPathFor(const QString& localFolder)
{
    const QString canonical = QFileInfo(localFolder).canonicalFilePath();
    const QByteArray key = QFile::encodeName(canonical.isEmpty() ? QDir::cleanPath(localFolder) : canonical);
    const QByteArray digest = QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(24);
    return runtimeFolder() + QStringLiteral("/taskhaul-run-") + QString::fromLatin1(digest)
        + QStringLiteral(".lock");
}

LocalFolderRun::LocalFolderRun(const QString& localFolder)
    : folder_(localFolder)
    , lock_(std::make_unique<QLockFile>(lockPathFor(localFolder)))
{
    // A run may last for hours: its lock never goes stale by age, only when its
    // process is gone.
    lock_->setStaleLockTime(0);
    alone_ = lock_->tryLock(0);
}

LocalFolderRun::~LocalFolderRun()
{
    if (alone_)
        lock_->unlock();
}

int LocalFolderRun::removeLeftovers() const
{
    if (!alone_ || folder_.isEmpty())
        return 0;
    const QByteArray folder = QFile::encodeName(folder_);
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (!isDownloadTemporaryName(name))
            continue;
        // Only plain files the program marked as its own: never a link, a
        // folder, or a user's file that merely has a name of that form.
        struct stat info { };
        if (::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)
            || !ftp::IsMarkedDownloadTemporary(::dirfd(dir), entry->d_name))
            continue;
        if (::unlinkat(::dirfd(dir), entry->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

} // namespace taskhaul
