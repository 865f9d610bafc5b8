#pragma once

#include <QObject>
#include <QSpinBox>

class QLineEdit;

namespace taskhaul {

// Lets only the digits 0-9 and Backspace through to a port field; every other
// typed character is dropped without a sound. Pasting is not filtered.
class DigitKeyFilter : public QObject {
public:
    using QObject::QObject;
    // Whether a typed character may reach the field.
    static bool accepts(QChar character);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// A whole-number field with arrows. Text that is not a whole number reads as
// the lower bound; a value outside the range is put back into it when the field
// is left. Typing accepts digits, "+", "-", the decimal separator and control
// keys other than Enter; any other character is refused with a beep.
class NumberField : public QSpinBox {
    Q_OBJECT
public:
    NumberField(int minimum, int maximum, int step, QWidget* parent = nullptr);

    // The value the given text stands for, by the rules above.
    int valueForText(const QString& text) const;
    // Whether a typed character may reach the field.
    bool acceptsTyped(QChar character) const;

protected:
    QValidator::State validate(QString& input, int& pos) const override;
    int valueFromText(const QString& text) const override;
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace taskhaul
