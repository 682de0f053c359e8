#include "windows/CloseUpComboBox.h"

#include <QAbstractItemView>
#include <QTimer>

void CloseUpComboBox::hidePopup()
{
    // The box is told to hide its list whenever it is hidden itself, open or not.
    const bool closedByUser = !m_hiding && view()->isVisible();
    QComboBox::hidePopup();
    // The picked entry becomes current only after the list has been hidden.
    if (closedByUser)
        QTimer::singleShot(0, this, &CloseUpComboBox::closedUp);
}

void CloseUpComboBox::hideEvent(QHideEvent *event)
{
    m_hiding = true;
    QComboBox::hideEvent(event);
    m_hiding = false;
}
