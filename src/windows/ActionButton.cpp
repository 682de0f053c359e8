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
        fitCaption(button);
    });
    return button;
}

void fitCaption(QPushButton *button)
{
    constexpr int kCaptionPadding = 12; // the style's frame and margins around the caption
    const QString caption = QString(button->text()).remove(QLatin1Char('&'));
    const int needed = button->fontMetrics().horizontalAdvance(caption) + kCaptionPadding;
    if (needed > button->width())
        button->setFixedWidth(needed);
}
