#include "app/MessageBoxPrompts.h"

#include <QApplication>
#include <QMessageBox>

platform::Answer MessageBoxPrompts::show(const platform::Prompt &prompt)
{
    using Icon = platform::Prompt::Icon;
    const QMessageBox::Icon icon = prompt.icon == Icon::Question      ? QMessageBox::Question
                                   : prompt.icon == Icon::Exclamation ? QMessageBox::Warning
                                                                      : QMessageBox::Information;
    const bool yesNo = prompt.buttons == platform::Prompt::Buttons::YesNo;
    QMessageBox box(icon, prompt.caption, prompt.text,
                    yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setDefaultButton(yesNo ? QMessageBox::Yes : QMessageBox::Ok);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return platform::Answer::Yes;
    case QMessageBox::No:
        return platform::Answer::No;
    default:
        return yesNo ? platform::Answer::No : platform::Answer::Ok;
    }
}
