#pragma once

// Whether a remote file needs fetching at all: "only new or changed files"
// compares it with the local copy, and "skip files still being written" holds
// back a file the server is still filling.

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>

namespace taskhaul {

// A remote file's modification time and how exact it is: a server's own answer
// (FTP's MDTM, an SFTP stat) gives seconds; a listing may give minutes
// ("Mar 01 12:34") or only the day ("Mar 01 2024").
struct RemoteStamp {
    enum class Precision { Second, Minute, Day };
    QDateTime utc;
    Precision precision = Precision::Second;
    // Exact to the second and truly UTC, as MDTM, a machine listing (MLSD) and
    // SFTP give it; a listing's time of day is the server's clock taken as UTC.
    bool exactUtc = false;
};

struct LocalFileState {
    bool exists = false;
    std::int64_t size = 0;
    QDateTime modifiedUtc;
};
// What the local folder holds at `path` (the file system's bytes).
LocalFileState localFileState(const std::string& path);
LocalFileState localFileState(const QString& path);

// Unchanged since the last transfer: the local copy exists, has the remote size
// and is not older than the remote file, compared at the remote time's precision.
bool unchangedSinceLastTransfer(
    const LocalFileState& local, std::int64_t remoteSize, const RemoteStamp& remote);

// Still being written: its size changed between the listing and the size query,
// or it was modified within the last `settleSeconds` seconds before `nowUtc`.
// A size that is unknown (below 0) on either side proves nothing.
bool stillBeingWritten(std::int64_t listedSize, std::int64_t queriedSize,
    const std::optional<RemoteStamp>& remote, const QDateTime& nowUtc, int settleSeconds);

// Gives a downloaded file the remote file's time, so that the next run can
// compare. False when the system refused.
bool setModificationTime(const std::string& path, const QDateTime& utc);
bool setModificationTime(const QString& path, const QDateTime& utc);

} // namespace taskhaul
