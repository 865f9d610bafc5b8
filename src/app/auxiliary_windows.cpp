#include "app/auxiliary_windows.h"

#include "transfer/file_template.h"
#include "ui/about_box.h"
#include "ui/wildcard_guide.h"

namespace taskhaul {

AuxiliaryWindows::AuxiliaryWindows(Shell& shell, QWidget* parent)
    : about_(std::make_unique<AboutBox>(shell, parent))
    , guide_(std::make_unique<WildcardGuide>(parent))
{
}

AuxiliaryWindows::~AuxiliaryWindows() = default;

void AuxiliaryWindows::showAbout()
{
    about_->exec();
}

void AuxiliaryWindows::showWildcardGuide(const QPoint& mainWindowTopLeft)
{
    guide_->showBeside(mainWindowTopLeft);
}

QString AuxiliaryWindows::templateCheckText(
    const QString& nameTemplate, const LocalDateTime& now, int sequence)
{
    // Templates are byte strings; the fields carry UTF-8.
    const QByteArray bytes = nameTemplate.toUtf8();
    return QString::fromUtf8(
        TemplateCheckMessage(std::string_view(bytes.constData(), std::size_t(bytes.size())), now, sequence));
}

} // namespace taskhaul
