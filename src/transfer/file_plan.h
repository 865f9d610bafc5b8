#pragma once

#include "settings/job_settings.h"
#include "transfer/freshness.h"
#include "transfer/local_date_time.h"
#include "transfer/remote_site.h"

#include <QString>

#include <functional>
#include <string>
#include <vector>

namespace taskhaul {

// Which listed entries a run fetches, under which local names and in which
// order, and which it passes over and why. One pure function of the listing,
// the job and the moment: the transfer engine and --preview both follow it.
struct PlannedFile {
    enum class Decision {
        Fetch, // fetched under `localName`
        ExistsNoOverwrite, // would be fetched, but a file of that name is there and overwrite is off
        NotChanged, // "only new or changed files": the local copy is as new and as large
        StillBeingWritten, // "skip files still being written": changed too recently
        UnsafeName, // the name could lead outside the local folder; never fetched
        NotPlainFile, // a folder, link, device ...
        NoMatch, // the name does not match the job's name template
    };

    std::string remoteName;
    // What the listing says the entry is, by the name --preview shows ("file", "dir" ...).
    std::string kindName = "file";
    Decision decision = Decision::Fetch;
    // The local name the file gets (Fetch, ExistsNoOverwrite); empty otherwise.
    std::string localName;
    // The sequence number in force when the file is fetched.
    int sequence = 0;
    // What the listing said of the file: its size (below 0: none) and time.
    std::int64_t listedSize = -1;
    std::optional<RemoteStamp> listedTime;
};

// Whether the job compares with the local copy: "only new or changed files" is
// on and no sequence number makes every name a new one.
bool comparesWithLocalCopy(const JobSettings& job);

// What is known of a listed plain file when deciding whether to fetch it. The
// plan knows the listing only; at the moment of fetching the engine adds the
// server's answers and the local folder as it is then.
struct FileFacts {
    std::int64_t listedSize = -1; // below 0: the listing gave none
    std::int64_t queriedSize = -1; // the server's answer at fetch time; below 0: not asked or none
    std::optional<RemoteStamp> remoteTime; // the server's answer at fetch time, else the listing's
    LocalFileState local; // the local copy under the file's local name
};

// The one decision for a plain file whose name is safe and matches the job:
// held back while still being written, passed over when unchanged since the
// last transfer, kept when it exists and overwrite is off, else fetched.
// The plan and the engine both decide with it.
PlannedFile::Decision decideFile(const JobSettings& job, const FileFacts& facts, const QDateTime& nowUtc);

// The sequence number for the next file, after a file that was fetched or not:
// only a fetched file moves it on, and only in a job that numbers its files.
int sequenceAfter(const JobSettings& job, int sequence, bool fetched);

// Whether a run of the job fetches one file (by its name template) or every plain file.
bool fetchesOneFile(const JobSettings& job);

// The name template of a one-file job expanded at `now` with `sequence`: the
// pattern the listed names are matched against. Empty when the template gives
// no name (the run then does not start).
std::string expandedPattern(const JobSettings& job, const LocalDateTime& now, int sequence);

// Whether fetching a file under this job moves the sequence number on.
bool advancesSequence(const JobSettings& job);
// How many connections a run of the job uses at most: the job's number (1 to 8),
// or one when the names use the sequence number, which must follow the order
// of fetching.
int connectionsFor(const JobSettings& job);
// How many of these planned files can download at once: the files the plan
// stores under one local name are fetched one after another, on one
// connection and in the plan's order, so that the copy left is the same
// whatever the number of connections. They count once.
std::size_t separateDownloads(const std::vector<const PlannedFile*>& files);
// The sequence number after `sequence` (wrapping to the least after the greatest).
int nextSequence(int sequence);

// The local name a fetched file gets: the rename template expanded at `now` with
// `sequence` when the job renames, else the remote name.
std::string localNameFor(
    const JobSettings& job, const std::string& remoteName, const LocalDateTime& now, int sequence);

// The plan for a listing, one entry per listed item in listing order (a line
// that gave no name is no entry and has none), at the
// local moment `now` (`nowUtc` in UTC). `localFile` tells what the local folder
// holds under a local name; it is asked only when overwrite is off or the job
// compares with the local copy. The sequence number advances after every entry
// that would be fetched, as it does when the engine fetches them: a file kept
// because it exists, or passed over, leaves it where it is.
//
// The engine decides again at the moment it fetches, from the server's own
// answers (size, time) and the local folder as it is then; --preview shows this
// plan as it stands.
std::vector<PlannedFile> planFiles(const std::vector<RemoteEntry>& items, const JobSettings& job,
    const LocalDateTime& now, const QDateTime& nowUtc,
    const std::function<LocalFileState(const std::string& localName)>& localFile);

// The path of a local name inside the job's local folder, as the bytes the
// file system takes: a name is never turned into text on its way to the disk.
std::string localPathFor(const JobSettings& job, const std::string& localName);

} // namespace taskhaul
