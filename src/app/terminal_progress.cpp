#include "app/terminal_progress.h"

#include "app/progress_text.h"
#include "log/one_line.h"

namespace taskhaul {

QString TerminalProgress::line(const QString& name, const ProgressState& state)
{
    // A run over several connections: the run's files and bytes, no one name.
    if (state.filesTotal >= 0)
        return filesDoneText(state.filesDone, state.filesTotal) + QStringLiteral(": ")
            + progressText(state.received, state.size, state.bytesPerSecond);
    return oneLine(name) + QStringLiteral(": ")
        + progressText(state.received, state.size, state.bytesPerSecond);
}

TerminalProgress::TerminalProgress(std::FILE* terminal)
    : terminal_(terminal)
{
}

void TerminalProgress::show(const QString& name, const ProgressState& state)
{
    if (!state.active) {
        clear();
        return;
    }
    // Carriage return, the line, and "erase to the end of the line".
    std::fputs(("\r" + line(name, state) + "\x1b[K").toLocal8Bit().constData(), terminal_);
    std::fflush(terminal_);
    shown_ = true;
}

void TerminalProgress::clear()
{
    if (!shown_)
        return;
    std::fputs("\r\x1b[K", terminal_);
    std::fflush(terminal_);
    shown_ = false;
}

} // namespace taskhaul
