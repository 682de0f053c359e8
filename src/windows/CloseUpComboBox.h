#pragma once

#include <QComboBox>

// A drop-down list that reports every closing of its open list, once the entry the user picked
// (if any) has become the current one. Arrow keys on the closed box report nothing.
class CloseUpComboBox : public QComboBox
{
    Q_OBJECT

public:
    using QComboBox::QComboBox;

    void hidePopup() override;

signals:
    void closedUp();
};
