#include "settings/job_catalog.h"

#include "settings/settings_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

namespace taskhaul {

namespace {

constexpr int kNameMax = 64;
const QString kSuffix = QStringLiteral(".conf");
const QString kDefaultNameFile = QStringLiteral("default-job-name");
const QString kDefaultName = QStringLiteral("Default");

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// A job file's settings are written by the settings store; only whether it can
// be loaded matters here. The time format does not take part in that check.
QString fileProblem(const QString& path)
{
    if (!QFileInfo::exists(path))
        return {};
    return SettingsStore(path, LongTimeFormat {}, nullptr).fileProblem();
}

// Writes `content` as a new file readable by its owner only (it may hold
// scrambled passwords); never replaces a file that exists.
void writeNewFile(const QString& path, const QByteArray& content)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    QFile file;
    if (fd < 0 || !file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        throw JobCatalogError(QStringLiteral("Cannot create the job file %1.").arg(path));
    }
    if (file.write(content) != content.size() || !file.flush()) {
        file.close();
        QFile::remove(path);
        throw JobCatalogError(QStringLiteral("Cannot write the job file %1.").arg(path));
    }
}

} // namespace

JobCatalogError::JobCatalogError(const QString& message)
    : TaskhaulError(message.toStdString())
{
}

JobCatalog::JobCatalog(QString defaultJobFile, QString jobsFolder)
    : defaultJobFile_(std::move(defaultJobFile))
    , jobsFolder_(std::move(jobsFolder))
{
}

JobCatalog JobCatalog::forUser(const QString& defaultJobFile)
{
    const QFileInfo file(defaultJobFile);
    return JobCatalog(
        defaultJobFile, file.absolutePath() + QLatin1Char('/') + file.completeBaseName() + "/jobs");
}

QString JobCatalog::nameProblem(const QString& name)
{
    if (name.isEmpty())
        return QStringLiteral("A job needs a name.");
    if (name.size() > kNameMax)
        return QStringLiteral("A job name has at most %1 characters.").arg(kNameMax);
    const bool allowed = std::all_of(name.begin(), name.end(), [](QChar c) {
        return c.isLetterOrNumber() || c == QLatin1Char(' ') || c == QLatin1Char('-') || c == QLatin1Char('_')
            || c == QLatin1Char('.');
    });
    if (!allowed)
        return QStringLiteral("A job name holds letters, digits, spaces, '-', '_' and '.' only.");
    if (name.front() == QLatin1Char(' ') || name.back() == QLatin1Char(' '))
        return QStringLiteral("A job name does not begin or end with a space.");
    return {};
}

QString JobCatalog::defaultName() const
{
    QFile file(jobsFolder_ + QLatin1Char('/') + kDefaultNameFile);
    if (!file.open(QIODevice::ReadOnly))
        return kDefaultName;
    const QString name = QString::fromUtf8(file.read(4 * kNameMax)).trimmed();
    return nameProblem(name).isEmpty() ? name : kDefaultName;
}

QString JobCatalog::pathFor(const QString& name) const
{
    return jobsFolder_ + QLatin1Char('/') + name + kSuffix;
}

JobEntry JobCatalog::entryFor(const QString& name, const QString& path, bool isDefault) const
{
    return JobEntry { name, path, isDefault, fileProblem(path) };
}

JobEntry JobCatalog::defaultJob() const
{
    return entryFor(defaultName(), defaultJobFile_, true);
}

QList<JobEntry> JobCatalog::jobs() const
{
    QList<JobEntry> others;
    const QDir folder(jobsFolder_);
    for (const QFileInfo& file :
        folder.entryInfoList({ QLatin1Char('*') + kSuffix }, QDir::Files | QDir::Hidden)) {
        const QString name = file.fileName().chopped(kSuffix.size());
        // A file whose name no job could have was not made here: not a job.
        if (nameProblem(name).isEmpty())
            others.append(entryFor(name, file.filePath(), false));
    }
    std::sort(others.begin(), others.end(), [](const JobEntry& a, const JobEntry& b) {
        const int order = a.name.compare(b.name, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a.name < b.name;
    });
    others.prepend(defaultJob());
    return others;
}

std::optional<JobEntry> JobCatalog::find(const QString& name) const
{
    for (const JobEntry& job : jobs())
        if (sameName(job.name, name))
            return job;
    return std::nullopt;
}

QString JobCatalog::namesText() const
{
    QStringList names;
    for (const JobEntry& job : jobs())
        names.append(job.name);
    return names.join(QStringLiteral(", "));
}

void JobCatalog::requireFreeName(const QString& name, const JobEntry* renamed) const
{
    if (const QString problem = nameProblem(name); !problem.isEmpty())
        throw JobCatalogError(problem);
    const auto existing = find(name);
    if (existing && !(renamed && existing->filePath == renamed->filePath))
        throw JobCatalogError(QStringLiteral("A job named \"%1\" exists already.").arg(existing->name));
}

JobEntry JobCatalog::create(const QString& name) const
{
    requireFreeName(name);
    if (!QDir().mkpath(jobsFolder_))
        throw JobCatalogError(QStringLiteral("Cannot create the folder %1.").arg(jobsFolder_));
    return entryFor(name, pathFor(name), false);
}

JobEntry JobCatalog::copyInto(const QString& name, const QString& sourceFile) const
{
    const JobEntry job = create(name);
    QFile source(sourceFile);
    if (!source.open(QIODevice::ReadOnly))
        throw JobCatalogError(QStringLiteral("%1 cannot be read.").arg(sourceFile));
    writeNewFile(job.filePath, source.readAll());
    return entryFor(name, job.filePath, false);
}

JobEntry JobCatalog::duplicate(const JobEntry& source, const QString& name) const
{
    if (!source.problem.isEmpty())
        throw JobCatalogError(source.problem);
    if (!QFileInfo::exists(source.filePath)) {
        // Nothing saved yet: the copy is as empty as its source.
        return create(name);
    }
    return copyInto(name, source.filePath);
}

JobEntry JobCatalog::importFile(const QString& name, const QString& sourceFile) const
{
    if (!QFileInfo::exists(sourceFile))
        throw JobCatalogError(QStringLiteral("%1 does not exist.").arg(sourceFile));
    if (const QString problem = fileProblem(sourceFile); !problem.isEmpty())
        throw JobCatalogError(problem);
    return copyInto(name, sourceFile);
}

JobEntry JobCatalog::rename(const JobEntry& job, const QString& newName) const
{
    requireFreeName(newName, &job);
    if (job.isDefault) {
        if (!QDir().mkpath(jobsFolder_))
            throw JobCatalogError(QStringLiteral("Cannot create the folder %1.").arg(jobsFolder_));
        QSaveFile file(jobsFolder_ + QLatin1Char('/') + kDefaultNameFile);
        if (!file.open(QIODevice::WriteOnly) || file.write(newName.toUtf8() + '\n') < 0 || !file.commit())
            throw JobCatalogError(QStringLiteral("Cannot keep the name of the job."));
        return defaultJob();
    }
    const QString target = pathFor(newName);
    if (QFileInfo::exists(job.filePath)) {
        // A change of case alone renames onto the same name on a file system
        // that ignores case; renameat2 with RENAME_NOREPLACE would refuse it.
        const QByteArray from = QFile::encodeName(job.filePath);
        const QByteArray to = QFile::encodeName(target);
        if (::rename(from.constData(), to.constData()) != 0)
            throw JobCatalogError(QStringLiteral("Cannot rename the job file %1.").arg(job.filePath));
    }
    return entryFor(newName, target, false);
}

void JobCatalog::remove(const JobEntry& job) const
{
    if (job.isDefault)
        throw JobCatalogError(QStringLiteral("The default job cannot be removed."));
    if (QFileInfo::exists(job.filePath) && !QFile::remove(job.filePath))
        throw JobCatalogError(QStringLiteral("Cannot remove the job file %1.").arg(job.filePath));
}

} // namespace taskhaul
