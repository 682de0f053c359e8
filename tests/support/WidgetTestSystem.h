#pragma once

#include "TestSystem.h"

#include <QList>
#include <QString>

#include <functional>

class QDialog;
class QLineEdit;

// The system's parts for a test that drives windows: the modal dialogs the code opens are shown
// and answered by steps the test scripted ahead of the action.
class WidgetTestSystem : public TestSystem
{
public:
    // What the user does in the next modal dialog; the dialog then ends with its result.
    using DialogStep = std::function<void(QDialog &)>;
    // Steps for the next dialogs, one each in the order they come up, after any scripted before.
    void scriptDialogs(const QList<DialogStep> &steps);
    int dialogsShown = 0;

    // Adds dialog steps never used, dialogs nothing scripted and dialogs a step left open.
    QStringList unfinishedScript() const override;

protected:
    int runDialog(QDialog &dialog) override;

private:
    QList<DialogStep> m_dialogSteps;
};

// Types text into a field key by key, as the user would.
void typeInto(QLineEdit *field, const QString &text);

// What a user does in the account dialog: types the address, server, login and password and
// presses OK.
WidgetTestSystem::DialogStep fillAccountDialog(const QString &email, const QString &pop3,
                                               const QString &login, const QString &password);
// What a user does in a filter dialog: types the pattern and presses OK.
WidgetTestSystem::DialogStep fillPatternDialog(const QString &pattern);
