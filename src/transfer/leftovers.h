#pragma once

#include <QLockFile>
#include <QString>

#include <memory>
#include <string_view>

namespace taskhaul {

// Downloads go to a hidden temporary file beside their target
// (".<name>.taskhaul-XXXXXXXX") that is renamed into place once the server has
// confirmed the transfer. A crash or power cut leaves that file behind; the next
// run of the job into the same folder removes it, but only when no other run
// into that folder is in progress (a run from cron beside the window's), whose
// live temporary file it would otherwise pull away. Only files that carry the
// program's mark are removed (see ftp::kDownloadTemporaryMark).

// Whether a file name has the form of a download's temporary file.
bool isDownloadTemporaryName(std::string_view name);

// Held for the length of a run into one local folder. Runs of any copy of the
// program into the same folder see each other through a lock file in the
// user's runtime folder.
class LocalFolderRun {
public:
    explicit LocalFolderRun(const QString& localFolder);
    ~LocalFolderRun();
    LocalFolderRun(const LocalFolderRun&) = delete;
    LocalFolderRun& operator=(const LocalFolderRun&) = delete;

    // The local folder as given.
    const QString& folder() const { return folder_; }
    // True when no other run into this folder was in progress as this one began.
    bool alone() const { return alone_; }
    // Removes the download temporaries left in the folder by earlier runs and
    // returns how many; removes nothing (0) unless this run is alone.
    int removeLeftovers() const;

    // The lock file's path for a folder (tests look at it).
    static QString lockPathFor(const QString& localFolder);

private:
    QString folder_;
    std::unique_ptr<QLockFile> lock_;
    bool alone_ = false;
};

} // namespace taskhaul
