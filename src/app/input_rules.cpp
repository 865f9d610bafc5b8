#include "app/input_rules.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLocale>

namespace taskhaul {

bool DigitKeyFilter::accepts(QChar character)
{
    return (character >= QLatin1Char('0') && character <= QLatin1Char('9')) || character == QChar(8);
}

bool DigitKeyFilter::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    // Shortcuts (Ctrl+V and friends) and keys without text (arrows, Delete) pass.
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    const QString text = key->text();
    if (text.isEmpty() || key->key() == Qt::Key_Backspace)
        return false;
    for (const QChar character : text) {
        if (!character.isPrint())
            return false; // Tab, Enter, Escape keep their usual meaning
        if (!accepts(character))
            return true;
    }
    return false;
}

NumberField::NumberField(int minimum, int maximum, int step, QWidget* parent)
    : QSpinBox(parent)
{
    setRange(minimum, maximum);
    setSingleStep(step);
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
}

int NumberField::valueForText(const QString& text) const
{
    bool ok = false;
    const qlonglong number = text.trimmed().toLongLong(&ok);
    if (!ok)
        return minimum();
    return int(std::clamp<qlonglong>(number, minimum(), maximum()));
}

bool NumberField::acceptsTyped(QChar character) const
{
    return character.isDigit() || character == QLatin1Char('+') || character == QLatin1Char('-')
        || character == locale().decimalPoint().front();
}

QValidator::State NumberField::validate(QString& input, int&) const
{
    // Anything the keyboard lets through may stand in the field while it is
    // edited; leaving the field turns it into a value by valueForText.
    for (const QChar character : input) {
        if (!acceptsTyped(character) && !character.isSpace())
            return QValidator::Invalid;
    }
    return QValidator::Acceptable;
}

int NumberField::valueFromText(const QString& text) const
{
    return valueForText(text);
}

void NumberField::keyPressEvent(QKeyEvent* event)
{
    const bool shortcut = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (!shortcut) {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            QApplication::beep();
            event->accept();
            return;
        }
        const QString text = event->text();
        for (const QChar character : text) {
            if (character.isPrint() && !acceptsTyped(character)) {
                QApplication::beep();
                event->accept();
                return;
            }
        }
    }
    QSpinBox::keyPressEvent(event);
}

} // namespace taskhaul
