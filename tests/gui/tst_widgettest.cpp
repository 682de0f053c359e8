#include "WidgetTest.h"
#include "windows/Form_About.h"

#include <QApplication>
#include <QDialog>
#include <QProcess>
#include <QTest>

namespace {

const char *const kRunUnfinished = "OSTROVE_RUN_UNFINISHED_SCRIPTS";

platform::Prompt question(const char *text)
{
    return {QStringLiteral("Remove"), QLatin1String(text), platform::Prompt::Icon::Question,
            platform::Prompt::Buttons::YesNo};
}

platform::Prompt message(const char *text)
{
    return {QStringLiteral("Error"), QLatin1String(text), platform::Prompt::Icon::Exclamation,
            platform::Prompt::Buttons::Ok};
}

} // namespace

// Widget tests whose scripts do not play out. They run only in a child process that
// TestWidgetTest starts and reads: each of them but the last must fail in its cleanup.
class UnfinishedScripts : public WidgetTest
{
    Q_OBJECT

private slots:
    void leavesAnAnswerUnused() { answerPrompts({platform::Answer::Yes}); }

    void leavesADialogStepUnused()
    {
        scriptDialogs({[](QDialog &dialog) {
            dialog.reject();
        }});
    }

    void meetsADialogNothingScripted()
    {
        TfrmAbout about;
        QCOMPARE(t->system.runModal(about), int(QDialog::Rejected));
    }

    void neverTakesAPrompt() { t->prompts.show(message("Error reading/writing to registry")); }

    void playsItsScriptOut()
    {
        answerPrompts({platform::Answer::Yes});
        QCOMPARE(t->prompts.show(question("Remove selected value?")), platform::Answer::Yes);
        QCOMPARE(takePromptTexts(), QStringList{"Remove selected value?"});
    }
};

// The bookkeeping behind WidgetTest's cleanup, and the cleanup failing a test whose script did
// not play out.
class TestWidgetTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QVERIFY(QApplication::topLevelWidgets().isEmpty()); }

    void aScriptThatPlaysOutLeavesNothingOver()
    {
        WidgetTestSystem system;
        system.scriptDialogs({[](QDialog &dialog) {
            dialog.accept();
        }});
        system.prompts.script({platform::Answer::Yes});
        TfrmAbout about;
        QCOMPARE(system.system.runModal(about), int(QDialog::Accepted));
        QCOMPARE(system.prompts.show(question("Remove selected value?")), platform::Answer::Yes);
        system.prompts.show(message("Error reading/writing to registry"));
        QCOMPARE(system.prompts.takeNew().size(), 2);
        QCOMPARE(system.unfinishedScript(), QStringList());
    }

    void anAnswerNeverAskedForIsReported()
    {
        WidgetTestSystem system;
        system.prompts.script({platform::Answer::Yes, platform::Answer::No});
        QCOMPARE(system.prompts.show(question("Remove selected value?")), platform::Answer::Yes);
        system.prompts.takeNew();
        QCOMPARE(system.unfinishedScript(), QStringList{"the answer No was never asked for"});
    }

    void aDialogStepThatNeverRanIsReported()
    {
        WidgetTestSystem system;
        system.scriptDialogs({[](QDialog &dialog) { dialog.reject(); },
                              [](QDialog &dialog) {
                                  dialog.reject();
                              }});
        TfrmAbout about;
        system.system.runModal(about);
        QCOMPARE(system.unfinishedScript(), QStringList{"1 scripted dialog step(s) never ran"});
    }

    void aDialogNothingScriptedIsCancelledAndReported()
    {
        WidgetTestSystem system;
        TfrmAbout about;
        QCOMPARE(system.system.runModal(about), int(QDialog::Rejected));
        QVERIFY(!about.isVisible());
        QCOMPARE(system.dialogsShown, 1);
        QCOMPARE(system.unfinishedScript(),
                 QStringList{"the dialog \"About\" came up and nothing was scripted for it"});
    }

    void aStepThatLeavesItsDialogOpenIsReported()
    {
        WidgetTestSystem system;
        system.scriptDialogs({[](QDialog &) {
        }});
        TfrmAbout about;
        QCOMPARE(system.system.runModal(about), int(QDialog::Rejected));
        QVERIFY(!about.isVisible());
        QCOMPARE(system.unfinishedScript(),
                 QStringList{"the dialog \"About\" was still open after its step"});
    }

    void aQuestionNothingAnsweredIsAnsweredNoAndReported()
    {
        WidgetTestSystem system;
        QCOMPARE(system.prompts.show(question("Remove selected account?")), platform::Answer::No);
        system.prompts.takeNew();
        QCOMPARE(system.unfinishedScript(),
                 QStringList{"nothing answered the question \"Remove selected account?\""});
    }

    void aPromptNeverTakenIsReportedUntilItIsTaken()
    {
        WidgetTestSystem system;
        system.prompts.show(message("first"));
        QCOMPARE(system.prompts.takeNew().size(), 1);
        system.prompts.show(message("second"));
        system.prompts.show(message("third"));
        QCOMPARE(system.unfinishedScript(),
                 (QStringList{"the test never took the prompt \"second\"",
                              "the test never took the prompt \"third\""}));
        const QList<platform::Prompt> taken = system.prompts.takeNew();
        QCOMPARE(taken.size(), 2);
        QCOMPARE(taken.first().text, QStringLiteral("second"));
        QCOMPARE(system.unfinishedScript(), QStringList());
    }

    // The cleanup itself, in a child process so that its failures do not count against this test.
    void theCleanupFailsEachTestThatLeftItsScriptUnfinished()
    {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QLatin1String(kRunUnfinished), QStringLiteral("1"));
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("-o"), QStringLiteral("-,txt")});
        QVERIFY(child.waitForFinished(60000));
        const QString out = QString::fromLocal8Bit(child.readAllStandardOutput());
        QCOMPARE(child.exitCode(), 4);

        const auto failedWith = [&out](const char *function, const char *reason) {
            const QString head =
                QStringLiteral("FAIL!  : UnfinishedScripts::%1()").arg(QLatin1String(function));
            const qsizetype at = out.indexOf(head);
            return at >= 0
                   && out.mid(at, out.indexOf(QLatin1Char('\n'), at) - at)
                          .contains(QLatin1String(reason));
        };
        QVERIFY2(failedWith("leavesAnAnswerUnused", "the answer Yes was never asked for"),
                 qPrintable(out));
        QVERIFY2(failedWith("leavesADialogStepUnused", "1 scripted dialog step(s) never ran"),
                 qPrintable(out));
        QVERIFY2(failedWith("meetsADialogNothingScripted",
                            "the dialog \"About\" came up and nothing was scripted for it"),
                 qPrintable(out));
        QVERIFY2(failedWith("neverTakesAPrompt",
                            "the test never took the prompt \"Error reading/writing to registry\""),
                 qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("PASS   : UnfinishedScripts::playsItsScriptOut()")),
                 qPrintable(out));
    }
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    if (qEnvironmentVariableIsSet(kRunUnfinished)) {
        UnfinishedScripts scripts;
        return QTest::qExec(&scripts, argc, argv);
    }
    TestWidgetTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_widgettest.moc"
