// Listings, file facts and downloads of TSftpClient.

#include "ftp/ftp_errors.h"
#include "ftp/ftp_local_file.h"
#include "sftp/sftp_client_impl.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

namespace taskhaul::sftp {
namespace {

struct AttributesDeleter {
    void operator()(sftp_attributes attributes) const { sftp_attributes_free(attributes); }
};
using Attributes = std::unique_ptr<sftp_attributes_struct, AttributesDeleter>;

TSftpEntryKind KindOf(const sftp_attributes_struct& attributes)
{
    if (attributes.flags & SSH_FILEXFER_ATTR_PERMISSIONS) {
        switch (attributes.permissions & SSH_S_IFMT) {
        case SSH_S_IFREG:
            return TSftpEntryKind::File;
        case SSH_S_IFDIR:
            return TSftpEntryKind::Folder;
        case SSH_S_IFLNK:
            return TSftpEntryKind::Link;
        default:
            return TSftpEntryKind::Other;
        }
    }
    switch (attributes.type) {
    case SSH_FILEXFER_TYPE_REGULAR:
        return TSftpEntryKind::File;
    case SSH_FILEXFER_TYPE_DIRECTORY:
        return TSftpEntryKind::Folder;
    case SSH_FILEXFER_TYPE_SYMLINK:
        return TSftpEntryKind::Link;
    case SSH_FILEXFER_TYPE_SPECIAL:
        return TSftpEntryKind::Other;
    default:
        // Version 3 carries the type in the permissions alone: without them
        // nothing tells a file from a folder.
        return TSftpEntryKind::Unknown;
    }
}

TSftpFileFacts FactsOf(const sftp_attributes_struct& attributes)
{
    TSftpFileFacts facts;
    facts.Kind = KindOf(attributes);
    if (attributes.flags & SSH_FILEXFER_ATTR_SIZE)
        facts.Size = static_cast<std::int64_t>(attributes.size);
    // Version 3 carries 32-bit seconds (ACMODTIME); later versions 64-bit ones.
    if (attributes.flags & SSH_FILEXFER_ATTR_ACMODTIME)
        facts.Modified = TSftpTime(std::chrono::seconds(attributes.mtime));
    else if (attributes.flags & SSH_FILEXFER_ATTR_MODIFYTIME)
        facts.Modified = TSftpTime(std::chrono::seconds(static_cast<std::int64_t>(attributes.mtime64)));
    return facts;
}

std::string StatusText(int code)
{
    switch (code) {
    case SSH_FX_EOF:
        return "End of file";
    case SSH_FX_NO_SUCH_FILE:
        return "No such file";
    case SSH_FX_PERMISSION_DENIED:
        return "Permission denied";
    case SSH_FX_FAILURE:
        return "Failure";
    case SSH_FX_OP_UNSUPPORTED:
        return "Operation unsupported";
    case SSH_FX_NO_SUCH_PATH:
        return "No such path";
    default:
        return "SFTP error " + std::to_string(code);
    }
}

enum class Subject { Folder, File, Facts };

} // namespace

namespace {

// A failed request: a file or folder failure when the server answered with a
// status, a connection failure when the connection is gone.
[[noreturn]] void ThrowRequestFailed(const TLink& d, Subject subject, const std::string& path)
{
    const int code = sftp_get_error(d.sftp);
    const bool gone
        = !ssh_is_connected(d.session) || (d.sftp->channel && ssh_channel_is_closed(d.sftp->channel));
    if (gone || code == SSH_FX_OK || code == SSH_FX_NO_CONNECTION || code == SSH_FX_CONNECTION_LOST
        || code == SSH_FX_BAD_MESSAGE)
        d.ThrowLost();
    const std::string text = StatusText(code);
    switch (subject) {
    case Subject::Folder:
        throw ESftpFolderError("Cannot list folder \"" + path + "\": " + text + ".");
    case Subject::File:
        throw ESftpFileError("Cannot download \"" + path + "\": " + text + ".");
    case Subject::Facts:
        break;
    }
    throw ESftpFileError("Cannot read the size and time of \"" + path + "\": " + text + ".");
}

struct Request {
    std::uint32_t id;
    std::uint64_t offset;
    std::uint32_t length;
};

// Reads the whole file into `local` with many requests in flight.
//
// Answers are waited for in the order the requests went out: the library
// finds an answer that arrived early only once a later packet comes in, so
// waiting out of order could wait forever for the last one. A short answer
// before the end gets its rest asked for at the back of the line; what
// arrives past the gap meanwhile is held until the gap is filled, so the local
// file is written straight through. The first end of file fixes the file's
// length: requests already out are still taken in, and what they bring past
// that end (a file that grew meanwhile) is dropped. With the file's size known
// from its open handle, no more is asked for than that size and one request
// past it, which finds the end (a small file costs two or three requests, not
// a full pipeline of them); only a file that turns out longer is read on.
void PipelinedRead(TLink& d, const TSftpLimits& limits, sftp_file file, const std::string& path,
    std::int64_t expectedSize, ftp::TLocalDownload& local)
{
    const std::uint32_t chunk = std::max<std::uint32_t>(1, limits.ReadRequestSize);
    const std::size_t depth = static_cast<std::size_t>(std::max(1, limits.ReadRequestsInFlight));
    std::vector<char> buffer(chunk);
    std::deque<Request> inFlight;
    std::map<std::uint64_t, std::string> held;
    std::uint64_t next = 0;
    std::uint64_t written = 0;
    std::uint64_t end = UINT64_MAX;
    const auto send = [&](std::uint64_t offset, std::uint32_t length) {
        sftp_seek64(file, offset);
        const int id = sftp_async_read_begin(file, length);
        if (id < 0)
            ThrowRequestFailed(d, Subject::File, path);
        inFlight.push_back({ static_cast<std::uint32_t>(id), offset, length });
    };
    const auto write = [&](const char* data, std::size_t size) {
        local.Write(data, size);
        written += size;
        d.received.store(static_cast<std::int64_t>(written));
    };
    // Unanswered requests must be taken in before the handle is closed.
    const auto drain = [&] {
        for (const Request& request : inFlight) {
            sftp_seek64(file, 0); // an end of file seen earlier would make the read return at once
            if (sftp_async_read(file, buffer.data(), request.length, request.id) < 0)
                break;
        }
        inFlight.clear();
    };
    try {
        for (;;) {
            while (end == UINT64_MAX && inFlight.size() < depth
                && (expectedSize < 0 || next <= static_cast<std::uint64_t>(expectedSize)
                    || inFlight.empty())) {
                send(next, chunk);
                next += chunk;
            }
            if (inFlight.empty())
                break;
            const Request request = inFlight.front();
            inFlight.pop_front();
            sftp_seek64(file, request.offset); // clears the end-of-file mark of an earlier answer
            const int n = sftp_async_read(file, buffer.data(), request.length, request.id);
            if (n < 0)
                ThrowRequestFailed(d, Subject::File, path);
            d.Touch();
            if (n == 0) {
                end = std::min(end, request.offset);
                continue;
            }
            if (request.offset >= end)
                continue;
            const auto size = static_cast<std::uint32_t>(n);
            if (size < request.length)
                send(request.offset + size, request.length - size);
            if (request.offset == written && held.empty())
                write(buffer.data(), size);
            else
                held.emplace(request.offset, std::string(buffer.data(), size));
            while (!held.empty() && held.begin()->first == written) {
                write(held.begin()->second.data(), held.begin()->second.size());
                held.erase(held.begin());
            }
        }
    } catch (const ESftpConnectionError&) {
        throw;
    } catch (...) {
        drain();
        throw;
    }
    if (written != end)
        throw ESftpFileError("Cannot download \"" + path + "\": the server's answers left a gap at byte "
            + std::to_string(written) + ".");
}

} // namespace

std::vector<TSftpEntry> TSftpClient::ListFolder(const std::string& path)
{
    TBusyScope busy(d->busy);
    d->RequireConnected();
    d->stopRequested = false;
    d->disconnectRequested = false;
    // The task owns what it touches (see RunPumped).
    auto entries = std::make_shared<std::vector<TSftpEntry>>();
    d->RunPumped(
        [link = d->link, entries, path, maxEntries = d->limits.MaxListingEntries] {
            sftp_dir folder = sftp_opendir(link->sftp, path.c_str());
            if (!folder)
                ThrowRequestFailed(*link, Subject::Folder, path);
            const auto close = std::unique_ptr<sftp_dir_struct, int (*)(sftp_dir)>(folder, sftp_closedir);
            while (Attributes attributes { sftp_readdir(link->sftp, folder) }) {
                link->Touch();
                const std::string name = attributes->name ? attributes->name : "";
                if (name.empty() || name == "." || name == "..")
                    continue;
                if (entries->size() >= maxEntries)
                    throw ESftpFolderError("Cannot list folder \"" + path + "\": it has more than "
                        + std::to_string(maxEntries) + " entries.");
                const TSftpFileFacts facts = FactsOf(*attributes);
                entries->push_back({ name, facts.Kind, facts.Size, facts.Modified });
            }
            if (!sftp_dir_eof(folder))
                ThrowRequestFailed(*link, Subject::Folder, path);
        },
        d->limits.ReplyTimeout, "Read Timeout");
    return std::move(*entries);
}

TSftpFileFacts TSftpClient::Stat(const std::string& path)
{
    TBusyScope busy(d->busy);
    d->RequireConnected();
    d->stopRequested = false;
    d->disconnectRequested = false;
    auto facts = std::make_shared<TSftpFileFacts>();
    d->RunPumped(
        [link = d->link, facts, path] {
            Attributes attributes { sftp_stat(link->sftp, path.c_str()) };
            if (!attributes)
                ThrowRequestFailed(*link, Subject::Facts, path);
            *facts = FactsOf(*attributes);
        },
        d->limits.ReplyTimeout, "Read Timeout");
    return *facts;
}

TSftpFileFacts TSftpClient::Download(
    const std::string& remotePath, const std::string& localPath, const TSftpDownloadOptions& options)
{
    TBusyScope busy(d->busy);
    d->RequireConnected();
    d->stopRequested = false;
    d->disconnectRequested = false;
    d->link->received = 0;
    d->link->total = -1;
    // The task owns the local file: a worker left to finish on its own removes
    // the temporary when it is done.
    std::shared_ptr<ftp::TLocalDownload> local;
    try {
        local = std::make_shared<ftp::TLocalDownload>(localPath, ftp::TLocalDownload::Mode::NewFile);
    } catch (const ftp::EFtpException& e) {
        throw ESftpLocalFileError(e.what());
    }
    auto facts = std::make_shared<TSftpFileFacts>();
    try {
        d->RunPumped(
            [link = d->link, limits = d->limits, local, facts, remotePath] {
                sftp_file file = sftp_open(link->sftp, remotePath.c_str(), O_RDONLY, 0);
                if (!file)
                    ThrowRequestFailed(*link, Subject::File, remotePath);
                const auto close = std::unique_ptr<sftp_file_struct, int (*)(sftp_file)>(file, sftp_close);
                Attributes attributes { sftp_fstat(file) };
                if (!attributes)
                    ThrowRequestFailed(*link, Subject::File, remotePath);
                *facts = FactsOf(*attributes);
                link->total = facts->Size;
                link->Touch();
                PipelinedRead(*link, limits, file, remotePath, facts->Size, *local);
                // A file that got shorter while it was read is not the file
                // that was opened; the rest of it is not coming.
                if (facts->Size >= 0 && local->Position() < facts->Size)
                    throw ESftpFileError("Cannot download \"" + remotePath + "\": the server sent "
                        + std::to_string(local->Position()) + " of " + std::to_string(facts->Size)
                        + " bytes.");
            },
            std::max(d->limits.ReplyTimeout, d->limits.DataIdleTimeout), "Read Timeout", OnProgress);
    } catch (const ftp::EFtpException& e) {
        throw ESftpLocalFileError(e.what());
    }
    if (OnProgress)
        OnProgress(local->Position(), facts->Size);
    try {
        if (options.KeepModifiedTime && facts->Modified) {
            const timespec times[2] = { { 0, UTIME_OMIT },
                { static_cast<time_t>(facts->Modified->time_since_epoch().count()), 0 } };
            if (::utimensat(AT_FDCWD, local->TemporaryPath().c_str(), times, 0) != 0)
                throw ESftpLocalFileError("Cannot set the time of file \"" + localPath + "\".");
        }
        local->Commit(options.Overwrite);
    } catch (const ftp::EFtpException& e) {
        throw ESftpLocalFileError(e.what());
    }
    return *facts;
}

} // namespace taskhaul::sftp
