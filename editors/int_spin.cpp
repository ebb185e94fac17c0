#include "editors/int_spin.h"

#include <QLineEdit>

#include <algorithm>
#include <limits>

namespace {

// Lowest and highest value a value text may name (a four-byte field read unsigned).
constexpr std::int64_t kLowest = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kHighest = std::numeric_limits<std::uint32_t>::max();

} // namespace

TIntSpinEdit::TIntSpinEdit(QWidget *parent) : QAbstractSpinBox(parent)
{
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    setAccelerated(true);
}

std::int64_t TIntSpinEdit::Value() const
{
    bool ok = false;
    const qlonglong value = text().toLongLong(&ok);
    return ok ? value : m_min;
}

void TIntSpinEdit::SetValue(std::int64_t value)
{
    lineEdit()->setText(QString::number(value));
}

void TIntSpinEdit::SetLimits(std::int64_t minimum, std::int64_t maximum)
{
    m_min = minimum;
    m_max = maximum;
}

QString TIntSpinEdit::Text() const
{
    return lineEdit()->text();
}

void TIntSpinEdit::SetText(const QString &text)
{
    lineEdit()->setText(text);
}

void TIntSpinEdit::stepBy(int steps)
{
    const std::int64_t low = Limited() ? std::min(m_min, m_max) : kLowest;
    const std::int64_t high = Limited() ? std::max(m_min, m_max) : kHighest;
    SetValue(std::clamp<std::int64_t>(Value() + steps, low, high));
    lineEdit()->selectAll();
}

QValidator::State TIntSpinEdit::validate(QString &input, int &) const
{
    if (input.isEmpty() || input == "-")
        return QValidator::Intermediate;
    bool ok = false;
    const qlonglong value = input.toLongLong(&ok);
    return ok && value >= kLowest && value <= kHighest ? QValidator::Acceptable : QValidator::Invalid;
}

QAbstractSpinBox::StepEnabled TIntSpinEdit::stepEnabled() const
{
    return StepUpEnabled | StepDownEnabled;
}
