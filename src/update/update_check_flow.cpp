#include "update/update_check_flow.h"

#include "update/news_source.h"
#include "update/web_update.h"

#include <limits>
#include <utility>

namespace taskhaul {

ProgressSteps progressSteps(qint64 total, qint64 downloaded)
{
    total = std::max<qint64>(total, 0);
    downloaded = std::clamp<qint64>(downloaded, 0, total);
    constexpr qint64 kIntMax = std::numeric_limits<int>::max();
    const qint64 divisor = total > kIntMax ? total / kIntMax + 1 : 1;
    return { static_cast<int>(total / divisor), static_cast<int>(downloaded / divisor) };
}

void configureWebUpdate(TWebUpdate& webUpdate, const QString& site)
{
    webUpdate.ProductInfo.setURL(site + update_site::kPagePath);
    webUpdate.ProductInfo.setVersion(update_site::kInstalledVersion);
    webUpdate.ProductInfo.setVersionFormat(TVersionFormat::vfStandard);
    TTagInfo& tags = webUpdate.TagInfo;
    tags.Author = QStringLiteral("UPAuthor");
    tags.Email = QStringLiteral("UPEmail");
    tags.ClientFileName = QStringLiteral("UPClientSideName");
    tags.Download = QStringLiteral("UPDownload");
    tags.ProductName = QStringLiteral("UPProduct");
    tags.Redirection = QStringLiteral("UPRedirection");
    tags.RunParameters = QStringLiteral("UPRunParameters");
    tags.Version = QStringLiteral("UPVersion");
    webUpdate.InfoCaption = TInfoCaption {};
    webUpdate.Options = TUpdateOption::uoRunUpdate;
    webUpdate.UserName.clear();
    webUpdate.Password.clear();
}

UpdateCheckFlow::UpdateCheckFlow(
    TWebUpdate& webUpdate, UpdateStatusWindows& windows, MessageBoxes& boxes, NewsSource& news)
    : webUpdate_(webUpdate)
    , windows_(windows)
    , boxes_(boxes)
    , news_(news)
{
    webUpdate_.OnBeforeGetInfo = [this](TWebUpdate&) { WebUpdate1BeforeGetInfo(); };
    webUpdate_.OnAfterGetInfo = [this](TWebUpdate&) { WebUpdate1AfterGetInfo(); };
    webUpdate_.OnNoUpdateFound = [this](TWebUpdate&) { WebUpdate1NoUpdateFound(); };
    webUpdate_.OnUpdateAvailable = [this](TWebUpdate&, const QString& actual, const QString& newer,
                                       bool& can) { WebUpdate1UpdateAvailable(actual, newer, can); };
    // The component's own information window is never shown.
    webUpdate_.OnBeforeShowInfo = [](TWebUpdate&, bool& showInfo, bool&) { showInfo = false; };
    // An old installer of the same name is always replaced.
    webUpdate_.OnClientFileExists = [](TWebUpdate&, QString&, bool& overwrite) { overwrite = true; };
    webUpdate_.OnBeforeDownload = [this](TWebUpdate&, const QString&) { WebUpdate1BeforeDownload(); };
    webUpdate_.OnDownload
        = [this](TWebUpdate&, qint64 total, qint64 downloaded) { WebUpdate1Download(total, downloaded); };
    webUpdate_.OnAfterDownload = [this](TWebUpdate&, const QString&) { WebUpdate1AfterDownload(); };
    webUpdate_.OnDownloadError = [this](TWebUpdate&) { WebUpdate1DownloadError(); };
}

UpdateCheckFlow::~UpdateCheckFlow()
{
    webUpdate_.OnBeforeGetInfo = {};
    webUpdate_.OnAfterGetInfo = {};
    webUpdate_.OnNoUpdateFound = {};
    webUpdate_.OnUpdateAvailable = {};
    webUpdate_.OnBeforeShowInfo = {};
    webUpdate_.OnClientFileExists = {};
    webUpdate_.OnBeforeDownload = {};
    webUpdate_.OnDownload = {};
    webUpdate_.OnAfterDownload = {};
    webUpdate_.OnDownloadError = {};
}

void UpdateCheckFlow::Action16Execute()
{
    // A check already running returns at once and must not touch that check's state.
    if (webUpdate_.isBusy())
        return;
    errorShown_ = errorPending_ = readingInfo_ = false;
    webUpdate_.RunUpdateCheck();
}

QString UpdateCheckFlow::questionText(
    const QString& actualVersion, const QString& newVersion, const QString& news)
{
    const QString crlf = QStringLiteral("\r\n");
    return QStringLiteral("You are using version ") + actualVersion + QStringLiteral(", but version ")
        + newVersion + QStringLiteral(" is available.") + crlf + crlf + news + crlf + crlf
        + QStringLiteral("Do you wish to update to version ") + newVersion + QStringLiteral(" now?");
}

void UpdateCheckFlow::WebUpdate1BeforeGetInfo()
{
    readingInfo_ = true;
    windows_.showMessage(kLookingText);
}

void UpdateCheckFlow::WebUpdate1AfterGetInfo()
{
    readingInfo_ = false;
    windows_.closeMessage();
    // A page that could not be read is told once the search window has gone.
    if (std::exchange(errorPending_, false))
        WebUpdate1DownloadError();
}

void UpdateCheckFlow::WebUpdate1NoUpdateFound()
{
    boxes_.information(kInformationCaption, kLatestText);
}

void UpdateCheckFlow::WebUpdate1UpdateAvailable(
    const QString& actualVersion, const QString& newVersion, bool& canUpdate)
{
    const QString news = news_.fetchNews();
    canUpdate = boxes_.confirm(kConfirmCaption, questionText(actualVersion, newVersion, news))
        == MessageBoxes::Answer::Yes;
    if (!canUpdate)
        windows_.closeMessage();
}

void UpdateCheckFlow::WebUpdate1BeforeDownload()
{
    windows_.showDownload();
}

void UpdateCheckFlow::WebUpdate1Download(qint64 total, qint64 downloaded)
{
    const ProgressSteps steps = progressSteps(total, downloaded);
    windows_.setDownloadProgress(kDownloadingText, steps.maximum, steps.position);
}

void UpdateCheckFlow::WebUpdate1AfterDownload()
{
    windows_.closeDownload();
    if (webUpdate_.TransferSucceeded())
        boxes_.information(kInformationCaption, kDownloadedText);
}

void UpdateCheckFlow::WebUpdate1DownloadError()
{
    // The component may report one failure more than once (a page that could
    // not be fetched at all fails its transfer and then lacks its tags): the
    // user hears of it once per click.
    if (readingInfo_) {
        errorPending_ = true;
        return;
    }
    if (std::exchange(errorShown_, true))
        return;
    boxes_.error(kErrorCaption, kServiceErrorText);
}

} // namespace taskhaul
