#pragma once

#include <QAbstractSpinBox>

#include <cstdint>

// An integer spin editor over the whole range a four-byte field can hold.
// Setting the limits never changes the value shown, and typed text is kept as
// typed: values outside the limits are the user's to enter.
class TIntSpinEdit : public QAbstractSpinBox {
    Q_OBJECT
public:
    explicit TIntSpinEdit(QWidget *parent = nullptr);

    std::int64_t Value() const;
    void SetValue(std::int64_t value);
    // Equal limits mean no limit at all.
    void SetLimits(std::int64_t minimum, std::int64_t maximum);
    std::int64_t MinValue() const { return m_min; }
    std::int64_t MaxValue() const { return m_max; }
    QString Text() const;
    void SetText(const QString &text);

    void stepBy(int steps) override;
    QValidator::State validate(QString &input, int &pos) const override;

protected:
    StepEnabled stepEnabled() const override;

private:
    bool Limited() const { return m_min != m_max; }

    std::int64_t m_min = 0;
    std::int64_t m_max = 0;
};
