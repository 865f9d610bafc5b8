#include "app/edit_commands.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QStyle>

namespace taskhaul {

namespace {

QLineEdit* focusedTextField()
{
    QWidget* focus = QApplication::focusWidget();
    if (auto* edit = qobject_cast<QLineEdit*>(focus))
        return edit;
    if (auto* spin = qobject_cast<QAbstractSpinBox*>(focus))
        return spin->findChild<QLineEdit*>();
    return nullptr;
}

} // namespace

void runEditCommand(Command command)
{
    QLineEdit* edit = focusedTextField();
    if (!edit)
        return;
    switch (command) {
    case Command::EditUndo:
        edit->undo();
        break;
    case Command::EditCut:
        edit->cut();
        break;
    case Command::EditCopy:
        edit->copy();
        break;
    case Command::EditPaste:
        edit->paste();
        break;
    case Command::EditDelete:
        edit->del();
        break;
    case Command::EditSelectAll:
        edit->selectAll();
        break;
    default:
        break;
    }
}

void updateEditCommands(const std::array<QAction*, kCommandCount>& actions)
{
    const bool field = focusedTextField() != nullptr;
    for (Command command : { Command::EditUndo, Command::EditCut, Command::EditCopy, Command::EditPaste,
             Command::EditDelete, Command::EditSelectAll })
        actions[std::size_t(command)]->setEnabled(field);
}

void setCommandIcons(const std::array<QAction*, kCommandCount>& actions, const QStyle* style)
{
    const std::pair<Command, QStyle::StandardPixmap> icons[] = {
        { Command::OpenConfiguration, QStyle::SP_DialogOpenButton },
        { Command::SaveConfiguration, QStyle::SP_DialogSaveButton },
        { Command::Connect, QStyle::SP_DriveNetIcon },
        { Command::Disconnect, QStyle::SP_DialogCloseButton },
        { Command::Transfer, QStyle::SP_ArrowDown },
        { Command::StopTransfer, QStyle::SP_MediaStop },
        { Command::StartStopScheduler, QStyle::SP_MediaPlay },
        { Command::ViewLocalFolder, QStyle::SP_DirOpenIcon },
        { Command::ViewLogFile, QStyle::SP_FileDialogDetailedView },
    };
    for (const auto& [command, pixmap] : icons)
        actions[std::size_t(command)]->setIcon(style->standardIcon(pixmap));
}

} // namespace taskhaul
