#pragma once

#include "platform/UserPrompts.h"

#include <QList>
#include <QStringList>

#include <functional>

// Answers prompts instead of showing boxes, and keeps what was asked.
class RecordingPrompts : public platform::UserPrompts
{
public:
    platform::Answer show(const platform::Prompt &prompt) override;

    QList<platform::Prompt> shown;
    // Runs as each prompt comes up, before it is answered: what the user would see behind it.
    std::function<void(const platform::Prompt &)> onShow;
    QStringList texts() const;

    // Answers for the next questions, taken in order after any scripted before. A message with
    // only OK needs none; a question without one is answered No and noted as unscripted.
    void script(const QList<platform::Answer> &answers);
    // The prompts that came up since the last call: a test takes each prompt it expects, so
    // one it never took is one it did not expect.
    QList<platform::Prompt> takeNew();

    // What did not go as scripted: answers never used, questions nothing answered, prompts
    // never taken.
    QStringList unfinishedScript() const;

private:
    QList<platform::Answer> m_answers;
    QStringList m_unanswered;
    qsizetype m_taken = 0;
};
