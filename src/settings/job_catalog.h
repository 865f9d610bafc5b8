#pragma once

#include "base/taskhaul_error.h"

#include <QList>
#include <QString>

#include <optional>

namespace taskhaul {

// A job of the catalog: its name, the settings file that holds it, and why that
// file cannot be loaded (empty when it can, or when it does not exist yet).
struct JobEntry {
    QString name;
    QString filePath;
    bool isDefault = false;
    QString problem;
};

// A change of the catalog was refused; the message says why, in the user's terms.
class JobCatalogError : public TaskhaulError {
public:
    explicit JobCatalogError(const QString& message);
    QString message() const { return QString::fromUtf8(what()); }
};

// The program's jobs. The default job is the settings file the program has
// always used (its path is given), and it stays exactly there; it is named
// "Default" until the user renames it. Further jobs are settings files of the
// same keys, one per job, named "<job name>.conf", in a folder of their own.
// The default job's name is kept beside them (in "default-job-name"), so that
// renaming it leaves its file as it is.
//
// Names are 1 to 64 characters: letters, digits, space, '-', '_' and '.', not
// beginning or ending with a space; two names that differ only in case name the
// same job.
//
// The catalog never writes a job's settings (the settings store does); it
// creates, copies, renames and removes job files. A file that cannot be read
// is listed with the reason and never overwritten.
class JobCatalog {
public:
    JobCatalog(QString defaultJobFile, QString jobsFolder);
    // The user's catalog: the store's own file, and the folder "jobs" beside it
    // (~/.config/Velmora/Taskhaul/jobs with ~/.config/Velmora/Taskhaul.conf).
    static JobCatalog forUser(const QString& defaultJobFile);

    QString jobsFolder() const { return jobsFolder_; }

    // Why `name` cannot name a job; empty when it can.
    static QString nameProblem(const QString& name);

    // Every job: the default job first, then the others by name.
    QList<JobEntry> jobs() const;
    // The job of that name (in any case); nothing when there is none.
    std::optional<JobEntry> find(const QString& name) const;
    // The default job.
    JobEntry defaultJob() const;
    // The names of all jobs, for a message that lists them.
    QString namesText() const;

    // A new job of that name, whose file does not exist yet (saving it creates
    // it). Raises JobCatalogError when the name is not valid or taken.
    JobEntry create(const QString& name) const;
    // A new job holding a copy of `source`'s settings. Raises JobCatalogError
    // when the name is not valid or taken, or `source` is not a job.
    JobEntry duplicate(const JobEntry& source, const QString& name) const;
    // The same, from a settings file outside the catalog (a configuration tool's).
    JobEntry importFile(const QString& name, const QString& sourceFile) const;
    // Gives a job another name (the default job keeps its file; another job's
    // file follows the name). Raises JobCatalogError when the new name is not
    // valid or taken by another job, or the file cannot be renamed.
    JobEntry rename(const JobEntry& job, const QString& newName) const;
    // Removes a job's file. The default job cannot be removed.
    void remove(const JobEntry& job) const;

private:
    QString defaultName() const;
    QString pathFor(const QString& name) const;
    void requireFreeName(const QString& name, const JobEntry* renamed = nullptr) const;
    JobEntry entryFor(const QString& name, const QString& path, bool isDefault) const;
    JobEntry copyInto(const QString& name, const QString& sourceFile) const;

    QString defaultJobFile_;
    QString jobsFolder_;
};

} // namespace taskhaul
