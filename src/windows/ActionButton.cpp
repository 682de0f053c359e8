#include "windows/ActionButton.h"

#include <QAction>
#include <QPushButton>

QPushButton *makeActionButton(QAction *action, QWidget *parent)
{
    auto *button = new QPushButton(action->text(), parent);
    button->setObjectName(QStringLiteral("btn") + action->objectName().mid(2));
    QObject::connect(button, &QPushButton::clicked, action, &QAction::trigger);
    QObject::connect(action, &QAction::changed, button, [button, action] {
        button->setText(action->text());
        button->setEnabled(action->isEnabled());
    });
    return button;
}
