#include "app/field_events.h"

#include <QAction>
#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QWidget>

namespace taskhaul {

CommandKeyPriority::CommandKeyPriority(QWidget* window, std::vector<QAction*> commands)
    : QObject(window)
    , window_(window)
    , commands_(std::move(commands))
{
    qApp->installEventFilter(this);
}

bool CommandKeyPriority::isCommandKey(const QEvent* event) const
{
    const auto* key = static_cast<const QKeyEvent*>(event);
    if (key->key() == 0 || key->key() == Qt::Key_unknown)
        return false;
    const QKeySequence pressed(QKeyCombination(key->modifiers() & ~Qt::KeypadModifier, Qt::Key(key->key())));
    for (const QAction* command : commands_)
        if (!command->shortcut().isEmpty() && command->shortcut() == pressed)
            return true;
    return false;
}

bool CommandKeyPriority::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::ShortcutOverride && type != QEvent::KeyPress)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != window_ || !isCommandKey(event))
        return false;
    // A shortcut override left unaccepted lets the command's shortcut fire. A
    // key press of the same key arrives only when the command is disabled: it is
    // dropped, so the field does not act on it either.
    event->ignore();
    return true;
}

bool focusMovesWithinWindow(const QFocusEvent& event)
{
    switch (event.reason()) {
    case Qt::MouseFocusReason:
    case Qt::TabFocusReason:
    case Qt::BacktabFocusReason:
    case Qt::ShortcutFocusReason:
    case Qt::OtherFocusReason:
        return true;
    case Qt::ActiveWindowFocusReason:
    case Qt::PopupFocusReason:
    case Qt::MenuBarFocusReason:
    case Qt::NoFocusReason:
        return false;
    }
    return false;
}

EmptyOnExit::EmptyOnExit(QLineEdit* edit, QString text)
    : QObject(edit)
    , edit_(edit)
    , text_(std::move(text))
{
    edit->installEventFilter(this);
}

bool EmptyOnExit::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusOut && focusMovesWithinWindow(*static_cast<QFocusEvent*>(event))
        && edit_->text().isEmpty())
        edit_->setText(text_);
    return QObject::eventFilter(watched, event);
}

} // namespace taskhaul
