#pragma once

#include <QString>
#include <QValidator>

class QLineEdit;

// Caps what the user types or pastes at a number of characters, or of bytes in the stored 8-bit
// form: a paste is cut to what fits. A longer text that the program put in the field is not cut;
// it can still be shortened, never lengthened.
class LengthLimit : public QValidator
{
    Q_OBJECT

public:
    enum class Count
    {
        Characters,
        StoredBytes
    };

    LengthLimit(QLineEdit *field, int maxLength, Count count = Count::Characters);

    State validate(QString &input, int &position) const override;

private:
    qsizetype length(const QString &text) const;

    QLineEdit *m_field;
    int m_maxLength;
    Count m_count;
    QString m_previous; // the field's text before the change being validated
};
