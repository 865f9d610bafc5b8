#pragma once

#include <QPoint>
#include <QString>

#include <memory>

class QWidget;

namespace taskhaul {

class AboutBox;
class MessageBoxes;
class Shell;
class WildcardGuide;
struct LocalDateTime;

// The windows the main window opens: the About window and the wildcard guide,
// created once at start and kept for the whole run, and the message of the two
// validate buttons beside the name templates.
class AuxiliaryWindows {
public:
    AuxiliaryWindows(Shell& shell, QWidget* parent);
    ~AuxiliaryWindows();

    // About... (Action17): shows the About window modally.
    void showAbout();
    // Wild Cards Format... (Action10): shows the guide modally beside the main
    // window whose top-left corner is given.
    void showWildcardGuide(const QPoint& mainWindowTopLeft);

    // The text of the validate buttons: "The file name is: " + the expansion of
    // `nameTemplate` at `now` with sequence number `sequence`.
    static QString templateCheckText(const QString& nameTemplate, const LocalDateTime& now, int sequence);

private:
    std::unique_ptr<AboutBox> about_;
    std::unique_ptr<WildcardGuide> guide_;
};

} // namespace taskhaul
