// The update information page: the input is the body of the page as it arrives
// over HTTP. It is split into lines and its tags read as the update component
// does, then the version it names is compared with an installed one.

#include "fuzz_check.h"
#include "update/update_page.h"
#include "update/version_compare.h"

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace taskhaul;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    const QStringList lines = splitPageLines(text);
    QString withoutBreaks = text;
    withoutBreaks.remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
    FUZZ_REQUIRE(lines.join(QString()) == withoutBreaks);

    // The component's default tag names and the ones the program sets.
    TTagInfo programTags;
    programTags.Author = QStringLiteral("UPAuthor");
    programTags.Email = QStringLiteral("UPEmail");
    programTags.ClientFileName = QStringLiteral("UPClientSideName");
    programTags.Download = QStringLiteral("UPDownload");
    programTags.ProductName = QStringLiteral("UPProduct");
    programTags.Redirection = QStringLiteral("UPRedirection");
    programTags.RunParameters = QStringLiteral("UPRunParameters");
    programTags.Version = QStringLiteral("UPVersion");

    const QString installed = QStringLiteral("1.1.1.9");
    for (const TTagInfo& tags : { TTagInfo {}, programTags }) {
        const TPageValues values = readPageTags(lines, tags);
        for (const QString* value : { &values.Author, &values.Email, &values.ClientFileName, &values.Download,
                 &values.ProductName, &values.Redirection, &values.RunParameters, &values.Version }) {
            FUZZ_REQUIRE(value->size() < 255);
            FUZZ_REQUIRE(!value->contains(QLatin1Char('"')));
        }
        for (const TVersionFormat format :
            { TVersionFormat::vfStandard, TVersionFormat::vfString, TVersionFormat::vfNumber }) {
            (void)isNewerVersion(installed, values.Version, format);
            (void)isNewerVersion(values.Version, installed, format);
            FUZZ_REQUIRE(!isNewerVersion(values.Version, values.Version, format));
        }
    }
    return 0;
}
