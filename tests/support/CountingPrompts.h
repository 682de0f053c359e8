#pragma once

#include "platform/UserPrompts.h"

// Prompts for the helper programs the tests start: nobody is there to answer, so every message
// is taken as read, and counted, so that the helper can tell a refused write from a done one.
class CountingPrompts : public platform::UserPrompts
{
public:
    platform::Answer show(const platform::Prompt &) override
    {
        ++shown;
        return platform::Answer::Ok;
    }
    int shown = 0;
};
