#pragma once

#include "ui/about_texts.h"

#include <QDialog>
#include <QString>

#include <functional>

class QLabel;
class QPushButton;

namespace taskhaul {

// The maker's web site, behind the About window's link.
inline constexpr char kMakerWebSite[] = "https://www.velmora.example";

// The About window: product name, edition and version, copyright, a link to the
// maker's web site, the operating system and the physical memory. Its variable
// texts are filled in once, when it is created. Show it modally with exec();
// OK, Enter and Esc close it. Its objectName is "TAboutBox".
class AboutBox : public QDialog {
    Q_OBJECT
public:
    // Asks the desktop to open a web address (the link's click calls it).
    using OpenLink = std::function<void(const QString& url)>;

    // Fills the texts from the running system.
    explicit AboutBox(OpenLink openLink, QWidget* parent = nullptr);
    // Fills the texts from the given facts (tests, screenshots).
    AboutBox(OpenLink openLink, const SystemFacts& facts, QWidget* parent = nullptr);

    QString versionText() const;
    QString osText() const;
    QString memoryText() const;

    // What a click on the link does: opens the maker's web site.
    void openWebSite();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildLayout();
    void fillIn(const SystemFacts& facts);

    OpenLink openLink_;
    QLabel* versionLabel_ = nullptr;   // Label4
    QLabel* osLabel_ = nullptr;        // Label5
    QLabel* memoryLabel_ = nullptr;    // PhysMem
    QPushButton* okButton_ = nullptr;  // OKButton
};

} // namespace taskhaul
