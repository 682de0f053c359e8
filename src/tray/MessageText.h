#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace tray {

// A kept message as the person reads it: its header as it came, the text of each plain-text
// part as it is written (neither folded nor collapsed), and a line for each part not shown.
struct MessageText
{
    QString header;
    QStringList texts;
    QStringList notShown;
};

// Nothing in the message is fetched or rendered: HTML parts are named, never shown.
MessageText readMessageText(const QByteArray &message);

} // namespace tray
