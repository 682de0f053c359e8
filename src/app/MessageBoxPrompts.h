#pragma once

#include "platform/UserPrompts.h"

// Shows each prompt as a modal QMessageBox over the active window.
class MessageBoxPrompts : public platform::UserPrompts
{
public:
    platform::Answer show(const platform::Prompt &prompt) override;
};
