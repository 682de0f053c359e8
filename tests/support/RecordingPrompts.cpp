#include "RecordingPrompts.h"

namespace {

QString answerName(platform::Answer answer)
{
    switch (answer) {
    case platform::Answer::Ok:
        return QStringLiteral("OK");
    case platform::Answer::Yes:
        return QStringLiteral("Yes");
    case platform::Answer::No:
        return QStringLiteral("No");
    }
    return QStringLiteral("an unknown answer");
}

} // namespace

platform::Answer RecordingPrompts::show(const platform::Prompt &prompt)
{
    shown.append(prompt);
    if (onShow)
        onShow(prompt);
    if (!m_answers.isEmpty())
        return m_answers.takeFirst();
    if (prompt.buttons == platform::Prompt::Buttons::YesNo) {
        m_unanswered.append(prompt.text);
        return platform::Answer::No;
    }
    return platform::Answer::Ok;
}

QStringList RecordingPrompts::texts() const
{
    QStringList result;
    for (const platform::Prompt &prompt : shown)
        result.append(prompt.text);
    return result;
}

void RecordingPrompts::script(const QList<platform::Answer> &answers)
{
    m_answers.append(answers);
}

QList<platform::Prompt> RecordingPrompts::takeNew()
{
    QList<platform::Prompt> fresh = shown.mid(m_taken);
    m_taken = shown.size();
    return fresh;
}

QStringList RecordingPrompts::unfinishedScript() const
{
    QStringList result;
    for (const platform::Answer answer : m_answers)
        result.append(QStringLiteral("the answer %1 was never asked for").arg(answerName(answer)));
    for (const QString &text : m_unanswered)
        result.append(QStringLiteral("nothing answered the question \"%1\"").arg(text));
    for (qsizetype i = m_taken; i < shown.size(); ++i)
        result.append(QStringLiteral("the test never took the prompt \"%1\"").arg(shown[i].text));
    return result;
}
