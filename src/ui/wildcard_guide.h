#pragma once

#include <QDialog>
#include <QPoint>

#include <span>

namespace taskhaul {

// The wildcard guide: a small reference card of the name template fields and the
// two wildcards. A tool window of 362 x 353 (more when the font needs it) that
// stays on top and cannot be resized; Close or Enter closes it. Its objectName
// is "Twild".
class WildcardGuide : public QDialog {
    Q_OBJECT
public:
    // One line of the card: two pairs of code and description; the second pair
    // may be empty.
    struct Row {
        const char* code;
        const char* description;
        const char* secondCode;
        const char* secondDescription;
    };

    // The card's lines, top to bottom.
    static std::span<const Row> rows();

    // Where the guide stands for a main window whose top-left corner is
    // `mainWindowTopLeft`: 300 px to the right and 50 px below it.
    static QPoint placementFor(const QPoint& mainWindowTopLeft);

    explicit WildcardGuide(QWidget* parent = nullptr);

    // Moves the guide to its place beside the main window.
    void placeBeside(const QPoint& mainWindowTopLeft);
    // Places the guide, shows it modally and returns when it has been closed.
    void showBeside(const QPoint& mainWindowTopLeft);
};

} // namespace taskhaul
