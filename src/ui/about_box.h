#pragma once

#include "ui/about_texts.h"

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;

namespace taskhaul {

class Shell;

// The About window: product name, edition and version, copyright, a link to the
// maker's web site, the operating system and the physical memory. Its variable
// texts are filled in once, when it is created. Show it modally with exec();
// OK, Enter and Esc close it. Its objectName is "TAboutBox".
class AboutBox : public QDialog {
    Q_OBJECT
public:
    // Fills the texts from the running system. The link opens the maker's web
    // site through `shell`, which must outlive the window. With the main window
    // as parent, the picture is the main window's icon.
    explicit AboutBox(Shell& shell, QWidget* parent = nullptr);
    // Fills the texts from the given facts (tests, screenshots).
    AboutBox(Shell& shell, const SystemFacts& facts, QWidget* parent = nullptr);

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

    Shell& shell_;
    QLabel* versionLabel_ = nullptr; // Label4
    QLabel* osLabel_ = nullptr; // Label5
    QLabel* memoryLabel_ = nullptr; // PhysMem
    QPushButton* okButton_ = nullptr; // OKButton
};

} // namespace taskhaul
