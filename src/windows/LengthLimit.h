#pragma once

#include <QValidator>

class QLineEdit;

// Caps what the user types at a number of characters without cutting a longer text that the
// program put in the field: such a text can still be shortened, never lengthened.
class LengthLimit : public QValidator
{
    Q_OBJECT

public:
    LengthLimit(QLineEdit *field, int maxLength);

    State validate(QString &input, int &position) const override;

private:
    QLineEdit *m_field;
    int m_maxLength;
};
