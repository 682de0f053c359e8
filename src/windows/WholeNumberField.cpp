#include "windows/WholeNumberField.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QWheelEvent>

#include <limits>

namespace {

bool isNumberCharacter(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('+')
           || c == QLatin1Char('-');
}

} // namespace

WholeNumberField::WholeNumberField(QWidget *parent)
    : QAbstractSpinBox(parent)
{
    lineEdit()->setText(QStringLiteral("0"));
    setFocusPolicy(Qt::StrongFocus); // the wheel passing over it neither takes the focus nor steps
    connect(lineEdit(), &QLineEdit::textChanged, this, &WholeNumberField::textChanged);
}

void WholeNumberField::setBounds(qint32 minimum, qint32 maximum)
{
    m_bounds = std::make_pair(minimum, maximum);
}

std::optional<qint32> WholeNumberField::parse(const QString &text)
{
    bool ok = false;
    const qint64 number = text.toLongLong(&ok, 10);
    if (!ok || number < std::numeric_limits<qint32>::min()
        || number > std::numeric_limits<qint32>::max())
        return std::nullopt;
    // toLongLong accepts blanks around the digits; a typed field never holds them, but a
    // programmatically set one might.
    if (text.trimmed() != text)
        return std::nullopt;
    return static_cast<qint32>(number);
}

qint32 WholeNumberField::value() const
{
    return parse(text()).value_or(m_bounds ? m_bounds->first : 0);
}

void WholeNumberField::setValue(qint64 value)
{
    setText(QString::number(bounded(value)));
}

QString WholeNumberField::text() const
{
    return lineEdit()->text();
}

void WholeNumberField::setText(const QString &text)
{
    if (lineEdit()->text() != text)
        lineEdit()->setText(text);
}

void WholeNumberField::stepBy(int steps)
{
    if (steps == 0)
        return;
    // Qt steps by ten with a modifier held; here every step is one.
    setValue(qint64(value()) + (steps > 0 ? 1 : -1));
    selectAll();
}

QValidator::State WholeNumberField::validate(QString &input, int &) const
{
    for (const QChar c : std::as_const(input)) {
        if (!isNumberCharacter(c))
            return QValidator::Invalid;
    }
    return QValidator::Acceptable;
}

QAbstractSpinBox::StepEnabled WholeNumberField::stepEnabled() const
{
    return StepUpEnabled | StepDownEnabled;
}

void WholeNumberField::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown) {
        event->ignore();
        return;
    }
    const QString typed = event->text();
    if (!typed.isEmpty() && typed.at(0).isPrint() && !isNumberCharacter(typed.at(0))
        && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        QApplication::beep();
        event->accept();
        return;
    }
    QAbstractSpinBox::keyPressEvent(event);
}

void WholeNumberField::wheelEvent(QWheelEvent *event)
{
    if (!hasFocus()) {
        event->ignore();
        return;
    }
    QAbstractSpinBox::wheelEvent(event);
}

void WholeNumberField::focusOutEvent(QFocusEvent *event)
{
    if (m_bounds) {
        if (const auto number = parse(text()); number && bounded(*number) != *number)
            setValue(*number);
    }
    QAbstractSpinBox::focusOutEvent(event);
}

qint64 WholeNumberField::bounded(qint64 value) const
{
    const qint64 low = m_bounds ? m_bounds->first : std::numeric_limits<qint32>::min();
    const qint64 high = m_bounds ? m_bounds->second : std::numeric_limits<qint32>::max();
    return qBound(low, value, high);
}
