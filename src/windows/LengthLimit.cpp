#include "windows/LengthLimit.h"

#include "windows/ListHelpers.h"

#include <QLineEdit>

LengthLimit::LengthLimit(QLineEdit *field, int maxLength, Count count)
    : QValidator(field)
    , m_field(field)
    , m_maxLength(maxLength)
    , m_count(count)
{
    field->setValidator(this);
}

QValidator::State LengthLimit::validate(QString &input, int &) const
{
    if (length(input) <= m_maxLength || length(input) < length(m_field->text()))
        return Acceptable;
    return Invalid;
}

qsizetype LengthLimit::length(const QString &text) const
{
    return m_count == Count::StoredBytes ? toStored(text).size() : text.size();
}
