#include "WidgetTest.h"

#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QTimer>

void WidgetTest::init()
{
    t = std::make_unique<WidgetTestSystem>();
    setUpTest();
}

void WidgetTest::cleanup()
{
    tearDownTest();
    // After a failure the rest of the script is left over as a matter of course; saying so
    // again would only hide the first failure.
    const QStringList unfinished =
        QTest::currentTestFailed() ? QStringList() : t->unfinishedScript();
    t.reset();
    QVERIFY2(unfinished.isEmpty(), qPrintable(QStringLiteral("the test did not go as scripted: ")
                                              + unfinished.join(QStringLiteral("; "))));
    // Anything still open here is a window or dialog that a test failed to close.
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

void WidgetTest::seed(const std::function<void(store::Access &)> &work)
{
    writeQuietly(t->store, work);
}

void WidgetTest::scriptDialogs(const QList<WidgetTestSystem::DialogStep> &steps)
{
    t->scriptDialogs(steps);
}

void WidgetTest::answerPrompts(const QList<platform::Answer> &answers)
{
    t->prompts.script(answers);
}

QList<platform::Prompt> WidgetTest::takePrompts()
{
    return t->prompts.takeNew();
}

QStringList WidgetTest::takePromptTexts()
{
    QStringList texts;
    for (const platform::Prompt &prompt : t->prompts.takeNew())
        texts.append(prompt.text);
    return texts;
}

int WidgetTest::execWith(QDialog &dialog, const std::function<void()> &step)
{
    QTimer::singleShot(0, &dialog, [this, &dialog, step] {
        dialog.activateWindow();
        if (!QTest::qWaitForWindowActive(&dialog))
            t->noteSurprise(QStringLiteral("the dialog \"%1\" did not become active")
                                .arg(dialog.windowTitle()));
        step();
        if (dialog.isVisible()) {
            t->noteSurprise(QStringLiteral("the dialog \"%1\" was still open after its step")
                                .arg(dialog.windowTitle()));
            dialog.done(99);
        }
    });
    return dialog.exec();
}
