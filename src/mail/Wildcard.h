#pragma once

#include <QStringView>

#include <memory>

namespace mail {

// A wildcard pattern as the filter pages describe it: "*" stands for any run of characters
// (also none), "?" for exactly one character, everything else for itself. Built once from the
// pattern as typed; its text is folded as foldedForMatching folds, and so must be the text it is
// matched against. "?" takes one character as a person sees it: a letter with its accents, or
// the "ss" that "ß" folds to.
class WildcardPattern
{
public:
    explicit WildcardPattern(QStringView pattern);

    bool matchesWhole(QStringView folded) const;
    bool matchesPart(QStringView folded) const;

private:
    class Compiled;
    std::shared_ptr<const Compiled> m_compiled;
};

// False for a pattern such as "*", "*@*" or "?*@?*": without a letter or a digit of any script
// it matches nearly every address, subject or text.
bool hasLetterOrDigit(QStringView pattern);

} // namespace mail
