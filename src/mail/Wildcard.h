#pragma once

#include <QStringView>

namespace mail {

// Wildcard patterns as the filter pages describe them: "*" stands for any run of characters
// (also none), "?" for exactly one character, everything else for itself. Both texts must
// already be case-folded; "?" counts characters, not UTF-16 units.
bool wildcardMatchesWhole(QStringView text, QStringView pattern);
bool wildcardMatchesPart(QStringView text, QStringView pattern);

// True for a pattern made only of "*" and "?": it matches nearly everything.
bool isOnlyWildcards(QStringView pattern);

} // namespace mail
