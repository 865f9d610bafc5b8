#pragma once

#include <QString>

namespace taskhaul {

// Modal message boxes. The window implements this with QMessageBox; tests use
// a recording implementation that answers from a script.
class MessageBoxes {
public:
    enum class Answer { Ok, Yes, No };

    virtual ~MessageBoxes() = default;
    // Information box with one OK button.
    virtual void information(const QString& caption, const QString& text) = 0;
    // Error box with one OK button.
    virtual void error(const QString& caption, const QString& text) = 0;
    // Confirmation box with Yes and No; returns Yes or No.
    virtual Answer confirm(const QString& caption, const QString& text) = 0;
    // The same box with No as its default button, the one Enter presses. This
    // fallback, for boxes that cannot mark a default, asks as `confirm` does.
    virtual Answer confirmDefaultNo(const QString& caption, const QString& text)
    {
        return confirm(caption, text);
    }
    // Warning box with one OK button. Implementations should show a warning
    // icon; this fallback uses the error box.
    virtual void warning(const QString& caption, const QString& text) { error(caption, text); }
    // Plain box without icon, one OK button. Implementations should show it
    // without an icon; this fallback uses the information box.
    virtual void plain(const QString& caption, const QString& text) { information(caption, text); }
};

// `write_message`: an information box captioned "Information" with one OK button.
inline void writeMessage(MessageBoxes& boxes, const QString& text)
{
    boxes.information(QStringLiteral("Information"), text);
}

} // namespace taskhaul
