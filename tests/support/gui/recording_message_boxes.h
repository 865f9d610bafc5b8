#pragma once

#include "log/user_messages.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <vector>

namespace taskhaul::test {

// Records every message box instead of showing it; confirmations are answered
// from a script (Yes when the script has run out, unless told otherwise).
class RecordingMessageBoxes : public MessageBoxes {
public:
    enum class Kind { Information, Error, Warning, Confirmation, Plain };
    struct Shown {
        Kind kind;
        QString caption;
        QString text;
        QStringList buttons;
        QString defaultButton; // the button Enter presses
    };

    void information(const QString& caption, const QString& text) override;
    void error(const QString& caption, const QString& text) override;
    Answer confirm(const QString& caption, const QString& text) override;
    Answer confirmDefaultNo(const QString& caption, const QString& text) override;
    void warning(const QString& caption, const QString& text) override;
    void plain(const QString& caption, const QString& text) override;

    // Next confirmations are answered in this order.
    // Runs as each box is shown, before it is recorded (a test checks what is
    // going on at that moment).
    std::function<void()> onShow;

    void answerNext(Answer answer) { script_.push_back(answer); }
    void setDefaultAnswer(Answer answer) { defaultAnswer_ = answer; }

    const std::vector<Shown>& shown() const { return shown_; }
    QStringList texts() const;
    void clear() { shown_.clear(); }

private:
    Answer ask(const QString& caption, const QString& text, const QString& defaultButton);

    std::vector<Shown> shown_;
    std::deque<Answer> script_;
    Answer defaultAnswer_ = Answer::Yes;
};

} // namespace taskhaul::test
