#include "windows/CloseUpComboBox.h"

#include <QTimer>

void CloseUpComboBox::hidePopup()
{
    QComboBox::hidePopup();
    // The picked entry becomes current only after the list has been hidden.
    QTimer::singleShot(0, this, &CloseUpComboBox::closedUp);
}
