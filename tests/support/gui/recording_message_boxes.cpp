#include "gui/recording_message_boxes.h"

namespace taskhaul::test {

void RecordingMessageBoxes::information(const QString& caption, const QString& text)
{
    if (onShow)
        onShow();
    shown_.push_back({ Kind::Information, caption, text, { QStringLiteral("OK") }, QStringLiteral("OK") });
}

void RecordingMessageBoxes::error(const QString& caption, const QString& text)
{
    if (onShow)
        onShow();
    shown_.push_back({ Kind::Error, caption, text, { QStringLiteral("OK") }, QStringLiteral("OK") });
}

void RecordingMessageBoxes::warning(const QString& caption, const QString& text)
{
    if (onShow)
        onShow();
    shown_.push_back({ Kind::Warning, caption, text, { QStringLiteral("OK") }, QStringLiteral("OK") });
}

void RecordingMessageBoxes::plain(const QString& caption, const QString& text)
{
    if (onShow)
        onShow();
    shown_.push_back({ Kind::Plain, caption, text, { QStringLiteral("OK") }, QStringLiteral("OK") });
}

MessageBoxes::Answer RecordingMessageBoxes::confirm(const QString& caption, const QString& text)
{
    return ask(caption, text, QStringLiteral("Yes"));
}

MessageBoxes::Answer RecordingMessageBoxes::confirmDefaultNo(const QString& caption, const QString& text)
{
    return ask(caption, text, QStringLiteral("No"));
}

MessageBoxes::Answer RecordingMessageBoxes::ask(
    const QString& caption, const QString& text, const QString& defaultButton)
{
    if (onShow)
        onShow();
    shown_.push_back({ Kind::Confirmation, caption, text, { QStringLiteral("Yes"), QStringLiteral("No") },
        defaultButton });
    if (script_.empty())
        return defaultAnswer_;
    const Answer answer = script_.front();
    script_.pop_front();
    return answer;
}

QStringList RecordingMessageBoxes::texts() const
{
    QStringList result;
    for (const auto& box : shown_)
        result << box.text;
    return result;
}

} // namespace taskhaul::test
