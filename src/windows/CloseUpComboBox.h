#pragma once

#include <QComboBox>

// A drop-down list that reports every closing of its open list by the user, once the entry the
// user picked (if any) has become the current one. Arrow keys on the closed box report nothing,
// and neither does the box being hidden with its page or window.
class CloseUpComboBox : public QComboBox
{
    Q_OBJECT

public:
    using QComboBox::QComboBox;

    void hidePopup() override;

signals:
    void closedUp();

protected:
    void hideEvent(QHideEvent *event) override;

private:
    bool m_hiding = false;
};
