#pragma once

#include "update/http_get.h"
#include "update/web_update_types.h"

#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>

class QNetworkAccessManager;

namespace taskhaul {

class TWebUpdate;

// Starts a downloaded installer. The desktop implementation hands the file to
// the desktop's "open"; tests record.
class InstallerLauncher {
public:
    virtual ~InstallerLauncher() = default;
    // False when the installer could not be started.
    virtual bool start(const QString& path, const QString& parameters) = 0;
};

// The optional window that shows the update information page before the
// download. Returns true when the user closed it with OK; `checkForUpdate` is
// the state of its "check in the future" box, in and out.
class UpdateInfoWindow {
public:
    virtual ~UpdateInfoWindow() = default;
    virtual bool exec(const QUrl& page, const TInfoCaption& captions, bool& checkForUpdate) = 0;
};

// Finds out whether a newer version of the product is published on the update
// information page, and when the host agrees, downloads the installer into the
// temporary folder and starts it. Everything the user sees is up to the host,
// which answers the events below; an event without a handler is skipped.
//
// RunUpdateCheck() waits for its transfers while the application's events keep
// running, so anything (another check included) may run inside it; a nested
// check returns false at once. Handlers must not throw.
class TWebUpdate {
public:
    using TNotifyEvent = std::function<void(TWebUpdate& sender)>;
    using TUpdateAvailableEvent = std::function<void(
        TWebUpdate& sender, const QString& actualVersion, const QString& newVersion, bool& canUpdate)>;
    using TShowInfoEvent = std::function<void(TWebUpdate& sender, bool& showInfo, bool& checkForUpdate)>;
    using TAfterShowInfoEvent = std::function<void(TWebUpdate& sender, bool checkForUpdate)>;
    using TGetClientFileNameEvent = std::function<void(TWebUpdate& sender, QString& fileName)>;
    using TClientFileExistsEvent
        = std::function<void(TWebUpdate& sender, QString& fileName, bool& overwrite)>;
    using TDownloadFileEvent = std::function<void(TWebUpdate& sender, const QString& fileName)>;
    using TDownloadEvent = std::function<void(TWebUpdate& sender, qint64 total, qint64 downloaded)>;

    // At most this many pages are read through a chain of redirection tags.
    static constexpr int kMaxPages = 10;
    // Pages larger than this fail.
    static constexpr qint64 kPageSizeLimit = 1024 * 1024;

    TWebUpdate();
    ~TWebUpdate();
    TWebUpdate(const TWebUpdate&) = delete;
    TWebUpdate& operator=(const TWebUpdate&) = delete;

    TProductInfo ProductInfo;
    TTagInfo TagInfo;
    TInfoCaption InfoCaption;
    QString UserName;
    QString Password;
    TUpdateOptions Options { TUpdateOption::uoRunUpdate, TUpdateOption::uoTerminate };

    // The component's own version.
    static QString Version() { return QStringLiteral("1.2"); }

    TNotifyEvent OnBeforeGetInfo;
    TNotifyEvent OnAfterGetInfo;
    TNotifyEvent OnNoUpdateFound;
    TUpdateAvailableEvent OnUpdateAvailable;
    TShowInfoEvent OnBeforeShowInfo;
    TAfterShowInfoEvent OnAfterShowInfo;
    TGetClientFileNameEvent OnGetClientFileName;
    TClientFileExistsEvent OnClientFileExists;
    TDownloadFileEvent OnBeforeDownload;
    TDownloadEvent OnDownload;
    TDownloadFileEvent OnAfterDownload;
    TNotifyEvent OnDownloadError;
    TNotifyEvent OnCannotExecute;

    // The whole check. True when an update was downloaded (and, with
    // uoRunUpdate, handed to the launcher); false for anything else: no
    // update, declined, failure, or a check already running.
    bool RunUpdateCheck();
    // Stops the running transfer; it fails without OnDownloadError.
    void CancelTransfer();
    // Whether the last transfer (page or installer) succeeded.
    bool TransferSucceeded() const { return transferSucceeded_; }
    bool isBusy() const { return busy_; }

    // The values of the last page read, and where the installer goes.
    const TPageValues& PageValues() const { return page_; }
    const QString& ClientFilePath() const { return clientFilePath_; }

    // Collaborators and bounds; the defaults suit the running program.
    void setInstallerLauncher(InstallerLauncher* launcher) { launcher_ = launcher; }
    void setInfoWindow(UpdateInfoWindow* window) { infoWindow_ = window; }
    // Folder the installer is stored in; QDir::tempPath() by default.
    void setTempFolder(const QString& folder) { tempFolder_ = folder; }
    const QString& tempFolder() const { return tempFolder_; }
    // A transfer that brings no byte for this long fails.
    void setStallTimeout(std::chrono::milliseconds timeout) { stallTimeout_ = timeout; }
    // Why the last transfer failed, for diagnostics.
    const QString& lastFailure() const { return http_.failure(); }

private:
    void fire(const TNotifyEvent& event);
    void getPage();
    bool showInfo();
    bool download();
    bool transfer(const QString& address, QByteArray* page, const QString& path);

    std::unique_ptr<QNetworkAccessManager> network_;
    HttpGet http_;
    InstallerLauncher* launcher_ = nullptr;
    UpdateInfoWindow* infoWindow_ = nullptr;
    QString tempFolder_;
    std::chrono::milliseconds stallTimeout_ { 60'000 };

    TPageValues page_;
    QString clientFilePath_;
    bool transferSucceeded_ = false;
    bool busy_ = false;
};

// A file name without any folder part: not empty, not "." or "..", no "/",
// "\" or NUL.
bool isBareFileName(const QString& name);

} // namespace taskhaul
