#pragma once

#include <QString>

#include <string>
#include <vector>

namespace taskhaul {

// What one run of the job came to, as the transfer engine saw it. Callers decide
// from this, never from the wording of log lines: the exit status of --run-once,
// the window's completion box, notifications.
struct RunReport {
    struct Skip {
        std::string remoteName;
        QString reason;
    };

    bool connected = false; // logged in to the site
    bool folderEntered = false; // in the remote folder (or none was set)
    bool listed = false; // the remote folder was listed
    bool listingIncomplete = false; // the server cut the listing short, or not all of it was understood
    bool nothingMatched = false; // a one-file run found no plain file matching its template
    bool aborted = false; // stopped by the user or a signal
    bool connectionBroke = false; // the connection was lost during the transfer
    // A value of the job that no connection can fix (a port outside 1-65535,
    // a port that is no number): the job must be changed before it can run.
    bool jobUnusable = false;
    int fetched = 0;
    // The connections the transfer fetched over (more than one when the job
    // asks for it and the server accepts them); every count here is of all of them.
    int connections = 1;
    // Files not fetched because something failed (the server refused, the local
    // file could not be written ...).
    std::vector<Skip> skipped;
    // Files passed over on purpose and fetched by a later run if they change
    // (not changed since the last transfer, still being written). No failure.
    std::vector<Skip> passedOver;
    // The remote names fetched, in order (a retry leaves them out).
    std::vector<std::string> fetchedNames;
    // The error that ended the run early, when one did (connect, folder,
    // listing), or a further connection that was shown another certificate or
    // host key than the first (the run went on without it, but failed).
    QString failure;

    // The run failed for want of a connection: it could not connect, or lost it.
    bool lostConnection() const
    {
        return !aborted && !jobUnusable && ((!connected && !failure.isEmpty()) || connectionBroke);
    }

    // Everything the job asked for was fetched (a template that matched nothing included).
    bool complete() const
    {
        return connected && folderEntered && listed && !listingIncomplete && !aborted && skipped.empty()
            && failure.isEmpty();
    }

    // The one answer to "did the run fail" that the exit status of --run-once,
    // the completion box and the notifications all give: the run did not get
    // everything the job asked for. The fields above only say why. A run the
    // user stopped counts as failed too; the box and the notifications keep
    // quiet about it, since the user knows.
    bool failed() const { return !complete(); }
};

} // namespace taskhaul
