#pragma once

#include <QFlags>
#include <QString>

namespace taskhaul {

// How a published version is compared with the installed one.
enum class TVersionFormat {
    vfStandard, // dotted numbers, compared part by part
    vfString, // plain text, compared by character codes
    vfNumber, // one decimal number, a fraction allowed
};

enum class TUpdateOption {
    uoRunUpdate = 0x1, // start the installer after a successful download
    uoTerminate = 0x2, // end the application after starting the installer
    uoOverwrite = 0x4, // default answer when a local installer file already exists
};
Q_DECLARE_FLAGS(TUpdateOptions, TUpdateOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TUpdateOptions)

// The product whose updates are looked for.
class TProductInfo {
public:
    // The address of the update information page. Only http and https reach
    // the network: anything that does not start with one of them gets "http://"
    // in front.
    const QString& URL() const { return url_; }
    void setURL(const QString& url);

    const QString& Version() const { return version_; }
    void setVersion(const QString& version) { version_ = version; }

    TVersionFormat VersionFormat() const { return format_; }
    void setVersionFormat(TVersionFormat format) { format_ = format; }

private:
    QString url_;
    QString version_ = QStringLiteral("1.0");
    TVersionFormat format_ = TVersionFormat::vfStandard;
};

// Puts "http://" in front of an address that does not start with "http://" or
// "https://" (in any case).
QString withHttpScheme(const QString& address);

// The names under which the values stand on the update information page.
struct TTagInfo {
    QString Author = QStringLiteral("wuAuthor");
    QString Email = QStringLiteral("wuEmail");
    QString ClientFileName = QStringLiteral("wuClientSideName");
    QString Download = QStringLiteral("wuDownload");
    QString ProductName = QStringLiteral("wuProduct");
    QString Redirection = QStringLiteral("wuRedirection");
    QString RunParameters = QStringLiteral("wuRunParameters");
    QString Version = QStringLiteral("wuVersion");
};

// Captions of the optional information window.
struct TInfoCaption {
    QString OkButton = QStringLiteral("&OK");
    QString CancelButton = QStringLiteral("&Cancel");
    QString CheckForUpdate = QStringLiteral("C&heck for updates in the future");
};

// The values read from the update information page; empty when the page
// lacks the tag.
struct TPageValues {
    QString Author;
    QString Email;
    QString ClientFileName;
    QString Download;
    QString ProductName;
    QString Redirection;
    QString RunParameters;
    QString Version;

    bool operator==(const TPageValues&) const = default;
};

} // namespace taskhaul
