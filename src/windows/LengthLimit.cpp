#include "windows/LengthLimit.h"

#include "windows/ListHelpers.h"

#include <QLineEdit>

LengthLimit::LengthLimit(QLineEdit *field, int maxLength, Count count)
    : QValidator(field)
    , m_field(field)
    , m_maxLength(maxLength)
    , m_count(count)
    , m_previous(field->text())
{
    field->setValidator(this);
    connect(field, &QLineEdit::textChanged, this,
            [this](const QString &text) { m_previous = text; });
}

QValidator::State LengthLimit::validate(QString &input, int &position) const
{
    // The field already holds the new text here, so the text before the change is kept aside.
    if (length(input) <= m_maxLength || length(input) < length(m_previous)
        || !m_field->isModified())
        return Acceptable;
    // What was typed or pasted ends at the cursor: keep as much of its start as fits.
    qsizetype added = input.size() - m_previous.size();
    while (added > 0 && position > 0 && length(input) > m_maxLength) {
        const int width = position >= 2 && input.at(position - 1).isLowSurrogate()
                                  && input.at(position - 2).isHighSurrogate()
                              ? 2
                              : 1;
        position -= width;
        input.remove(position, width);
        added -= width;
    }
    return length(input) <= m_maxLength && input != m_previous ? Acceptable : Invalid;
}

qsizetype LengthLimit::length(const QString &text) const
{
    return m_count == Count::StoredBytes ? toStored(text).size() : text.size();
}
