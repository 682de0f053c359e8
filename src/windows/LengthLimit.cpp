#include "windows/LengthLimit.h"

#include <QLineEdit>

LengthLimit::LengthLimit(QLineEdit *field, int maxLength)
    : QValidator(field)
    , m_field(field)
    , m_maxLength(maxLength)
{
    field->setValidator(this);
}

QValidator::State LengthLimit::validate(QString &input, int &) const
{
    if (input.size() <= m_maxLength || input.size() < m_field->text().size())
        return Acceptable;
    return Invalid;
}
