#pragma once

class QAction;
class QPushButton;
class QWidget;

// A push button that stands for an action: it shows the action's caption (also after the
// interface language renames it) and triggers it when pressed.
QPushButton *makeActionButton(QAction *action, QWidget *parent = nullptr);

// Widens a button of designed width whose caption, in another language, no longer fits it.
void fitCaption(QPushButton *button);
