#pragma once

#include <QString>

namespace platform {

// What a modal message box asks; the real implementation shows it, tests answer it.
struct Prompt
{
    enum class Icon
    {
        Information,
        Question,
        Exclamation
    };
    enum class Buttons
    {
        Ok,
        YesNo
    };

    QString caption;
    QString text;
    Icon icon = Icon::Information;
    Buttons buttons = Buttons::Ok;
};

enum class Answer
{
    Ok,
    Yes,
    No
};

// The seam through which every message reaches the user.
class UserPrompts
{
public:
    virtual ~UserPrompts() = default;
    virtual Answer show(const Prompt &prompt) = 0;
};

} // namespace platform
