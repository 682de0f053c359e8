#pragma once

#include <QStringView>

namespace mail {

// Wildcard patterns as the filter pages describe them: "*" stands for any run of characters
// (also none), "?" for exactly one character, everything else for itself. Both texts must
// already be case-folded; "?" counts characters, not UTF-16 units.
bool wildcardMatchesWhole(QStringView text, QStringView pattern);
bool wildcardMatchesPart(QStringView text, QStringView pattern);

// False for a pattern such as "*", "*@*" or "?*@?*": without a letter or a digit of any script
// it matches nearly every address, subject or text.
bool hasLetterOrDigit(QStringView pattern);

} // namespace mail
