#pragma once

#include "WidgetTestSystem.h"

#include <QObject>

#include <functional>
#include <memory>

// The base of the widget tests. Each test function (each data row) gets a fresh TestSystem: a
// store file of its own in a temporary folder and fakes for the rest of the system. A test
// seeds the store, scripts the dialogs and the answers to questions ahead of the action, and
// takes the prompts it expects; the cleanup fails it when the script did not play out (a step
// or an answer left unused, a dialog or question nothing scripted, a prompt it never took) or a
// window was left open. Derived classes build their widgets in setUpTest() and destroy them in
// tearDownTest(); they declare no init() or cleanup() of their own, which would hide these.
class WidgetTest : public QObject
{
    Q_OBJECT

protected:
    virtual void setUpTest() {}
    virtual void tearDownTest() {}

    // Starting values written straight into this test's store.
    void seed(const std::function<void(store::Access &)> &work);
    // What the user does in the next dialogs, in the order they come up.
    void scriptDialogs(const QList<WidgetTestSystem::DialogStep> &steps);
    // The answers to the next questions, in order.
    void answerPrompts(const QList<platform::Answer> &answers);
    // The prompts that came up since the last take; each one a test expects it takes.
    QList<platform::Prompt> takePrompts();
    QStringList takePromptTexts();
    // Runs a dialog modally with exec() and does `step` from inside its event loop; a step that
    // leaves the dialog open fails the test, and the dialog is then ended with 99.
    int execWith(QDialog &dialog, const std::function<void()> &step);

    std::unique_ptr<WidgetTestSystem> t;

private slots:
    void init();
    void cleanup();
};
