#include "base/companion_file.h"
#include "settings/keyring_module.h"
#include "settings/password_keyring.h"

#include <QLibrary>

namespace taskhaul {

namespace {

// Stands for the keyring of the module until it is needed: the first call loads
// the module and hands every call on to its keyring. When the module cannot be
// loaded, the keyring counts as missing and lastError() tells why.
class LoadedKeyring final : public PasswordKeyring {
public:
    LoadedKeyring(QString service, QString modulePath)
        : service_(std::move(service))
        , modulePath_(std::move(modulePath))
    {
    }

    Status status() override { return load() ? keyring_->status() : Status::Missing; }

    std::optional<QString> read(const QString& key) override
    {
        return load() ? keyring_->read(key) : std::nullopt;
    }

    bool write(const QString& key, const QString& value) override
    {
        return load() && keyring_->write(key, value);
    }

    bool remove(const QString& key) override { return load() && keyring_->remove(key); }

    QString lastError() const override { return keyring_ ? keyring_->lastError() : loadError_; }

private:
    bool load()
    {
        if (keyring_)
            return true;
        if (tried_)
            return false;
        tried_ = true;
        // Never unloaded: the keyring's code must outlive every keyring object,
        // and QtKeychain's threads and D-Bus connections may outlive them all.
        QLibrary module(modulePath_);
        module.setLoadHints(QLibrary::PreventUnloadHint);
        const auto entry = reinterpret_cast<TaskhaulKeyringEntry>(module.resolve(TASKHAUL_KEYRING_ENTRY));
        if (!entry) {
            loadError_ = QStringLiteral("its module could not be loaded: %1").arg(module.errorString());
            return false;
        }
        keyring_.reset(entry(taskhaulKeyringInterface, service_));
        if (!keyring_)
            loadError_
                = QStringLiteral("its module %1 belongs to another version of the program").arg(modulePath_);
        return keyring_ != nullptr;
    }

    QString service_;
    QString modulePath_;
    bool tried_ = false;
    std::unique_ptr<PasswordKeyring> keyring_;
    QString loadError_;
};

} // namespace

QString desktopKeyringModulePath()
{
    return QString::fromStdString(base::companionFilePath("taskhaul-keyring.so"));
}

std::shared_ptr<PasswordKeyring> makeDesktopKeyring(const QString& service)
{
    return makeDesktopKeyring(service, desktopKeyringModulePath());
}

std::shared_ptr<PasswordKeyring> makeDesktopKeyring(const QString& service, const QString& modulePath)
{
    return std::make_shared<LoadedKeyring>(service, modulePath);
}

} // namespace taskhaul
