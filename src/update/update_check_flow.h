#pragma once

#include "log/user_messages.h"

#include <QString>

namespace taskhaul {

class NewsSource;
class TWebUpdate;

// The maker's site and where the update check finds its page and news.
namespace update_site {
inline const QString kMakerSite = QStringLiteral("https://www.velmora.example");
inline const QString kPagePath = QStringLiteral("/updatecentral/taskhaul/1/oskra/updatecheck.htm");
inline const QString kNewsPath = QStringLiteral("/updatecentral/taskhaul/1/oskra/whatsnew/news.txt");
inline const QString kInstalledVersion = QStringLiteral("1.1.9");
} // namespace update_site

// The two status windows of the update check: `frm_message` while the update
// information page is read, `frm_download` while the installer is fetched.
// Showing one makes it visible and brings it to the front without making it
// modal; closing it hides it.
class UpdateStatusWindows {
public:
    virtual ~UpdateStatusWindows() = default;
    // Sets the label of frm_message, shows the window and paints it at once.
    virtual void showMessage(const QString& text) = 0;
    virtual void closeMessage() = 0;
    virtual void showDownload() = 0;
    // Sets the label of frm_download and shows its progress bar with this
    // range and position (a maximum of 0 means the size is unknown).
    virtual void setDownloadProgress(const QString& text, int maximum, int position) = 0;
    virtual void closeDownload() = 0;
};

// A progress bar's int range for 64-bit byte counts.
struct ProgressSteps {
    int maximum = 0;
    int position = 0;
    bool operator==(const ProgressSteps&) const = default;
};
ProgressSteps progressSteps(qint64 total, qint64 downloaded);

// Settings of the update component as this program uses it: its page on the
// maker's site (`site` without a trailing slash), its version, the tag names,
// and the installer started after the download without ending the program.
void configureWebUpdate(TWebUpdate& webUpdate, const QString& site = update_site::kMakerSite);

// The Check for Updates command: runs the update component and answers its
// events with the status windows and message boxes.
class UpdateCheckFlow {
public:
    static inline const QString kLookingText
        = QStringLiteral("Looking for a newer version of Taskhaul Oskra...");
    static inline const QString kLatestText
        = QStringLiteral("You are using the latest version of Taskhaul Oskra Edition.");
    static inline const QString kDownloadingText = QStringLiteral("Downloading update... Please wait.");
    static inline const QString kDownloadedText
        = QStringLiteral("The update has been downloaded.\r\nInstallation will begin after you click OK.");
    static inline const QString kServiceErrorText
        = QStringLiteral("The update service is not available at this time.  Try again later.");
    static inline const QString kInformationCaption = QStringLiteral("Information");
    static inline const QString kErrorCaption = QStringLiteral("Error");
    static inline const QString kConfirmCaption = QStringLiteral("Confirm");

    // Binds the component's events; the flow must outlive the component's use.
    UpdateCheckFlow(
        TWebUpdate& webUpdate, UpdateStatusWindows& windows, MessageBoxes& boxes, NewsSource& news);
    ~UpdateCheckFlow();
    UpdateCheckFlow(const UpdateCheckFlow&) = delete;
    UpdateCheckFlow& operator=(const UpdateCheckFlow&) = delete;

    // Check for Updates. A check started while one runs returns at once.
    void Action16Execute();

    // The question asked when a newer version exists. The news text goes in
    // as it stands (a percent sign in it is just a percent sign).
    static QString questionText(const QString& actualVersion, const QString& newVersion, const QString& news);

private:
    void WebUpdate1BeforeGetInfo();
    void WebUpdate1AfterGetInfo();
    void WebUpdate1NoUpdateFound();
    void WebUpdate1UpdateAvailable(const QString& actualVersion, const QString& newVersion, bool& canUpdate);
    void WebUpdate1BeforeDownload();
    void WebUpdate1Download(qint64 total, qint64 downloaded);
    void WebUpdate1AfterDownload();
    void WebUpdate1DownloadError();

    TWebUpdate& webUpdate_;
    UpdateStatusWindows& windows_;
    MessageBoxes& boxes_;
    NewsSource& news_;
    // The present check: the page is being read; a failure came meanwhile; a
    // failure has been shown.
    bool readingInfo_ = false;
    bool errorPending_ = false;
    bool errorShown_ = false;
};

} // namespace taskhaul
