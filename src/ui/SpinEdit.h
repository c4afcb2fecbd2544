#pragma once

#include <QSpinBox>
#include <functional>

// A spin edit: the buttons move by the step and stop at the limits, a value set
// by code is brought into the limits, a typed value is brought into them when
// the control loses the focus, and while the text is not a whole number the
// value reads as the lower limit.
class TSpinEdit : public QSpinBox {
    Q_OBJECT
public:
    explicit TSpinEdit(QWidget* parent = nullptr);

    void setLimits(int minValue, int maxValue, int increment);
    int MinValue() const { return m_min; }
    int MaxValue() const { return m_max; }
    int Value() const;
    void setValue(int value);
    // Replaces the text as typing would, without bringing it into the limits.
    void setEditText(const QString& text);

    // Fired on every change of the text, typed or set by code.
    std::function<void()> OnChange;

    void stepBy(int steps) override;

protected:
    QValidator::State validate(QString& input, int& pos) const override;
    StepEnabled stepEnabled() const override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    int clamp(int value) const;

    int m_min = 0;
    int m_max = 100;
};
