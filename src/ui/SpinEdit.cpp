#include "ui/SpinEdit.h"

#include <QLineEdit>
#include <limits>

TSpinEdit::TSpinEdit(QWidget* parent) : QSpinBox(parent) {
    // The box itself accepts any whole number; our limits apply on top, so that
    // a typed text outside them is kept until the focus leaves.
    QSpinBox::setRange(std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
    setKeyboardTracking(true);
    connect(lineEdit(), &QLineEdit::textChanged, this, [this] {
        if (OnChange)
            OnChange();
    });
}

void TSpinEdit::setLimits(int minValue, int maxValue, int increment) {
    m_min = minValue;
    m_max = maxValue;
    setSingleStep(increment);
    setValue(Value());
}

int TSpinEdit::clamp(int value) const {
    if (m_max <= m_min)
        return value;
    return std::clamp(value, m_min, m_max);
}

int TSpinEdit::Value() const {
    bool ok = false;
    const int typed = text().trimmed().toInt(&ok);
    return ok ? clamp(typed) : m_min;
}

void TSpinEdit::setValue(int value) {
    const int bounded = clamp(value);
    if (text() == QString::number(bounded))
        return;
    lineEdit()->setText(QString::number(bounded));
    QSpinBox::setValue(bounded);
}

void TSpinEdit::setEditText(const QString& text) {
    lineEdit()->setText(text);
}

void TSpinEdit::stepBy(int steps) {
    const qint64 next = static_cast<qint64>(Value()) + static_cast<qint64>(steps) * singleStep();
    setValue(static_cast<int>(std::clamp<qint64>(next, m_min, m_max)));
}

QValidator::State TSpinEdit::validate(QString& input, int&) const {
    if (input.isEmpty() || input == QLatin1String("-"))
        return QValidator::Intermediate;
    bool ok = false;
    input.toInt(&ok);
    return ok ? QValidator::Acceptable : QValidator::Invalid;
}

QAbstractSpinBox::StepEnabled TSpinEdit::stepEnabled() const {
    StepEnabled enabled = StepNone;
    if (Value() < m_max)
        enabled |= StepUpEnabled;
    if (Value() > m_min)
        enabled |= StepDownEnabled;
    return enabled;
}

void TSpinEdit::focusOutEvent(QFocusEvent* event) {
    setValue(Value());
    QSpinBox::focusOutEvent(event);
}
