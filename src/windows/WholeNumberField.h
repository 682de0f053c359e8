#pragma once

#include <QAbstractSpinBox>

#include <optional>

// A text field with spin buttons holding a signed 32-bit whole number. It takes only digits and
// signs (anything else beeps), keeps whatever the user types, and reads unparsable text as the
// lower bound, or 0 without bounds. With bounds, the arrows stay inside them and leaving the
// field brings an out-of-range number back to the nearest bound. Only the arrow buttons, the Up
// and Down keys and, with the focus, the wheel step it, by one: each step may be a write.
class WholeNumberField : public QAbstractSpinBox
{
    Q_OBJECT

public:
    explicit WholeNumberField(QWidget *parent = nullptr);

    void setBounds(qint32 minimum, qint32 maximum);

    qint32 value() const;
    void setValue(qint64 value);
    QString text() const;
    void setText(const QString &text);

    static std::optional<qint32> parse(const QString &text);

    void stepBy(int steps) override;
    QValidator::State validate(QString &input, int &position) const override;

signals:
    void textChanged(const QString &text);

protected:
    StepEnabled stepEnabled() const override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    qint64 bounded(qint64 value) const;

    std::optional<std::pair<qint32, qint32>> m_bounds;
};
