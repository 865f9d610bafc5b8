#include "app/event_guard.h"

#include "log/error_text.h"
#include "log/silent_stop.h"
#include "log/user_messages.h"

#include <exception>

namespace taskhaul {

bool runGuarded(MessageBoxes& boxes, const std::function<void()>& body)
{
    const QString caption = QStringLiteral("Taskhaul");
    try {
        body();
        return true;
    } catch (const SilentStop&) {
    } catch (const std::exception& error) {
        boxes.error(caption, errorBoxText(QString::fromUtf8(error.what())));
    } catch (...) {
        boxes.error(caption, errorBoxText(QStringLiteral("Unknown error")));
    }
    return false;
}

} // namespace taskhaul
