#pragma once

#include <QString>

namespace mail {

// The text a reader sees in an HTML part: markup, comments, scripts and styles removed,
// character references decoded, each run of blanks one space. Words inside tags or attributes
// are not text. The text takes the place of the markup it is read from.
QString htmlToText(QString html);

} // namespace mail
