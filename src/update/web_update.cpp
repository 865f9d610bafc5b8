#include "update/web_update.h"

#include "update/update_page.h"
#include "update/version_compare.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>

namespace taskhaul {

namespace {

// The desktop's own proxy configuration (on Linux the *_proxy variables).
class SystemProxyFactory : public QNetworkProxyFactory {
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override
    {
        return systemProxyForQuery(query);
    }
};

class BusyScope {
public:
    explicit BusyScope(bool& busy)
        : busy_(busy)
    {
        busy_ = true;
    }
    ~BusyScope() { busy_ = false; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    bool& busy_;
};

} // namespace

void TProductInfo::setURL(const QString& url)
{
    url_ = withHttpScheme(url);
}

QString withHttpScheme(const QString& address)
{
    if (address.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
        || address.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        return address;
    return QStringLiteral("http://") + address;
}

bool isBareFileName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
        && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && !name.contains(QChar(0));
}

TWebUpdate::TWebUpdate()
    : network_(std::make_unique<QNetworkAccessManager>())
    , http_(*network_)
    , tempFolder_(QDir::tempPath())
{
    network_->setProxyFactory(new SystemProxyFactory);
}

TWebUpdate::~TWebUpdate()
{
    CancelTransfer();
}

void TWebUpdate::CancelTransfer()
{
    http_.cancel();
}

void TWebUpdate::fire(const TNotifyEvent& event)
{
    if (event)
        event(*this);
}

bool TWebUpdate::RunUpdateCheck()
{
    if (busy_)
        return false;
    const BusyScope busy(busy_);
    page_.Redirection.clear();

    fire(OnBeforeGetInfo);
    getPage();
    fire(OnAfterGetInfo);

    if (page_.ProductName.isEmpty() || page_.Version.isEmpty()) {
        fire(OnDownloadError);
        transferSucceeded_ = false;
    }
    if (!transferSucceeded_)
        return false;

    if (!isNewerVersion(ProductInfo.Version(), page_.Version, ProductInfo.VersionFormat())) {
        fire(OnNoUpdateFound);
        return false;
    }

    bool canUpdate = true;
    if (OnUpdateAvailable)
        OnUpdateAvailable(*this, ProductInfo.Version(), page_.Version, canUpdate);
    if (!canUpdate)
        return false;
    if (!showInfo())
        return false;
    if (!download())
        return false;

    if (Options.testFlag(TUpdateOption::uoRunUpdate)) {
        if (!launcher_ || !launcher_->start(clientFilePath_, page_.RunParameters))
            fire(OnCannotExecute);
        if (Options.testFlag(TUpdateOption::uoTerminate))
            QCoreApplication::quit();
    }
    return true;
}

void TWebUpdate::getPage()
{
    for (int pages = 0;; ++pages) {
        // The redirection and the client file name of the page that led here
        // stay until the next page is read.
        const QString redirection = page_.Redirection;
        const QString clientFileName = page_.ClientFileName;
        page_ = TPageValues {};
        page_.Redirection = redirection;
        page_.ClientFileName = clientFileName;

        if (pages == kMaxPages) {
            // A chain that does not end (or runs in a circle) is no page at all.
            page_ = TPageValues {};
            transferSucceeded_ = false;
            fire(OnDownloadError);
            return;
        }
        const QString address = redirection.isEmpty() ? ProductInfo.URL() : withHttpScheme(redirection);
        QByteArray body;
        if (!transfer(address, &body, {}))
            return;
        page_ = readPageTags(splitPageLines(QString::fromUtf8(body)), TagInfo);
        if (page_.Redirection.isEmpty())
            return;
    }
}

bool TWebUpdate::showInfo()
{
    bool show = true;
    bool checkForUpdate = true;
    if (OnBeforeShowInfo)
        OnBeforeShowInfo(*this, show, checkForUpdate);
    // Without a window to show it in, the host's yes to the update stands.
    if (!show || !infoWindow_)
        return true;
    const QUrl page(page_.Redirection.isEmpty() ? ProductInfo.URL() : withHttpScheme(page_.Redirection));
    const bool ok = infoWindow_->exec(page, InfoCaption, checkForUpdate);
    if (OnAfterShowInfo)
        OnAfterShowInfo(*this, checkForUpdate);
    return ok;
}

bool TWebUpdate::download()
{
    transferSucceeded_ = false;
    clientFilePath_.clear();
    // The name comes from the web: it may only name a file in the temporary
    // folder, never reach outside it.
    if (!isBareFileName(page_.ClientFileName)) {
        fire(OnDownloadError);
        return false;
    }
    QString path = QDir(tempFolder_).filePath(page_.ClientFileName);
    if (OnGetClientFileName)
        OnGetClientFileName(*this, path);

    if (QFileInfo::exists(path)) {
        bool overwrite = Options.testFlag(TUpdateOption::uoOverwrite);
        if (OnClientFileExists)
            OnClientFileExists(*this, path, overwrite);
        if (!overwrite) {
            fire(OnDownloadError);
            return false;
        }
    }
    clientFilePath_ = path;

    if (OnBeforeDownload)
        OnBeforeDownload(*this, path);
    transfer(withHttpScheme(page_.Download), nullptr, path);
    if (OnAfterDownload)
        OnAfterDownload(*this, path);
    return transferSucceeded_;
}

bool TWebUpdate::transfer(const QString& address, QByteArray* page, const QString& path)
{
    HttpGet::Request request;
    request.url = QUrl(address, QUrl::TolerantMode);
    if (!UserName.isEmpty())
        request.url.setUserName(UserName);
    if (!Password.isEmpty())
        request.url.setPassword(Password);
    request.headers = { { "User-Agent", "TWebUpdate" }, { "Accept", "*/*" } };
    request.stallTimeout = stallTimeout_;
    if (page)
        request.sizeLimit = kPageSizeLimit;
    else
        request.requireContentLength = true;

    const auto progress = [this](qint64 total, qint64 received) {
        if (OnDownload)
            OnDownload(*this, total, received);
    };
    const HttpGet::Result result
        = page ? http_.fetch(request, *page, progress) : http_.download(request, path, progress);
    transferSucceeded_ = result == HttpGet::Result::Succeeded;
    if (result == HttpGet::Result::Failed)
        fire(OnDownloadError);
    return transferSucceeded_;
}

} // namespace taskhaul
