// The store's saves of one value: what a run or the user changes in the stored
// job at once, leaving every other value (and the keyring) as it is.

#include "settings/settings_store.h"
#include "settings/stored_values.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace taskhaul {

namespace {

using stored::optionsGroup;

// The values a trusted certificate or host key belongs to: the site and the
// way of reaching it. The stored job must hold the same, or the trust is not
// its own.
const char* const kSiteValues[] = { "Host", "Hostport", "Protocol", "Security", "Proxytype", "Proxyhost" };

// The site of the stored job, read with the load's rules; nothing when a value
// is missing without a default or cannot be read.
std::optional<JobSettings> storedSite(const QSettings& settings, const LongTimeFormat& timeFormat)
{
    JobSettings site;
    try {
        for (const char* name : kSiteValues) {
            const stored::StoredValue& value = stored::storedValue(QLatin1String(name));
            std::optional<QString> text = stored::readText(settings, QLatin1String(name));
            if (!text && value.whenMissing == stored::WhenMissing::KeepField)
                return std::nullopt;
            value.apply(site, text.value_or(QLatin1String(value.defaultText)), timeFormat);
        }
    } catch (const SettingsError&) {
        return std::nullopt;
    }
    return site;
}

bool sameSite(const JobSettings& a, const JobSettings& b)
{
    if (a.host != b.host || a.port != b.port || a.protocol != b.protocol)
        return false;
    // SSH has neither TLS nor a proxy.
    return a.protocol == JobSettings::Protocol::Sftp
        || (a.security == b.security && a.proxyType == b.proxyType && a.proxyHost == b.proxyHost);
}

// Writes one value into the stored job's group, or removes it (`text` empty
// and `removeEmpty`); nothing when the file holds no job. Throws SettingsError.
void writeOne(const QString& filePath, const QString& name, const QString& text, bool removeEmpty)
{
    const QString failure = QStringLiteral("Failed to set data for '%1'").arg(name);
    if (!QFileInfo::exists(filePath))
        return;
    if (!stored::restrictToOwner(filePath))
        throw SettingsError(failure);
    QSettings settings(filePath, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        throw SettingsError(failure);
    if (!settings.childGroups().contains(optionsGroup))
        return;
    settings.beginGroup(optionsGroup);
    if (removeEmpty && text.isEmpty())
        settings.remove(name);
    else
        settings.setValue(name, text);
    settings.endGroup();
    settings.sync();
    if (settings.status() != QSettings::NoError)
        throw SettingsError(failure);
    QFile::setPermissions(filePath, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

} // namespace

void SettingsStore::saveSequence(int value) const
{
    writeOne(filePath_, QStringLiteral("sequencevalue"), QString::number(value), false);
}

bool SettingsStore::saveTrust(const JobSettings& job) const
{
    if (!QFileInfo::exists(filePath_))
        return false;
    {
        QSettings settings(filePath_, QSettings::IniFormat);
        if (settings.status() != QSettings::NoError || !settings.childGroups().contains(optionsGroup))
            return false;
        settings.beginGroup(optionsGroup);
        const std::optional<JobSettings> site = storedSite(settings, timeFormat_);
        if (!site || !sameSite(*site, job))
            return false;
    }
    if (job.protocol == JobSettings::Protocol::Sftp)
        writeOne(filePath_, QStringLiteral("TrustedHostKey"), job.trustedHostKey, true);
    else
        writeOne(filePath_, QStringLiteral("TrustedCertificate"), job.trustedCertificate, false);
    return true;
}

} // namespace taskhaul
