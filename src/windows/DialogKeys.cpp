#include "windows/DialogKeys.h"

#include <QDialog>
#include <QKeyEvent>

EscapeCancels::EscapeCancels(QDialog *dialog)
    : QObject(dialog)
    , m_dialog(dialog)
{
    dialog->installEventFilter(this);
    for (QWidget *child : dialog->findChildren<QWidget *>())
        child->installEventFilter(this);
}

bool EscapeCancels::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
        if (static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
            if (event->type() == QEvent::KeyPress)
                m_dialog->reject();
            event->accept();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
