#pragma once

#include <QEvent>
#include <QObject>
#include <QString>

#include <vector>

class QAction;
class QFocusEvent;
class QLineEdit;
class QWidget;

namespace taskhaul {

// Gives the shortcuts of the window's commands priority over the key bindings of
// its fields: on X11 a line edit keeps Ctrl+E (end of line) and Ctrl+D (delete
// the next character) for itself, so Connect and Disconnect would never see
// their keys while a field has the focus. Installed on the application, it acts
// on the widgets of `window` only. A command's key reaches no field even while
// the command is disabled: a disabled command does nothing.
class CommandKeyPriority : public QObject {
public:
    CommandKeyPriority(QWidget* window, std::vector<QAction*> commands);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool isCommandKey(const QEvent* event) const;

    QWidget* window_;
    std::vector<QAction*> commands_;
};

// Whether losing the focus in this way moves it to another control of the same
// window (Tab, Shift+Tab, a click, an access key, the program itself), rather
// than to a menu, a context menu or another window.
bool focusMovesWithinWindow(const QFocusEvent& event);

// The on-exit handler of a text field that must not stay empty: when the focus
// moves from the field to another control of the window and the field is empty,
// it gets `text`. Opening a menu or the field's context menu, switching to
// another window or hiding the window leaves the field as it is.
class EmptyOnExit : public QObject {
public:
    EmptyOnExit(QLineEdit* edit, QString text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* edit_;
    QString text_;
};

} // namespace taskhaul
