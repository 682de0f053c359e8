#include "WidgetTest.h"
#include "accounts/Form_AddEditAccount.h"
#include "app/MessageBoxPrompts.h"
#include "filters/Form_AddEditAttachment.h"
#include "filters/Form_AddEditContent.h"
#include "filters/Form_AddEditMail.h"
#include "filters/Form_AddEditSubject.h"
#include "store/RegistryAccess.h"
#include "windows/Form_About.h"
#include "windows/WholeNumberField.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QShortcut>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QTimer>

// A dialog on the base frame whose own layout already brings a header picture.
class PictureDialog : public TfrmRODefault
{
public:
    explicit PictureDialog(bool description)
        : TfrmRODefault(DeferCreate::Yes, nullptr)
    {
        QPixmap own(10, 10);
        own.fill(Qt::red);
        imgHeader->setPixmap(own);
        if (description)
            lblHeaderDescription->setText(QStringLiteral("What this dialog is for."));
        ROShowHeader = true;
        FormCreate();
    }
};

// Overrides the hook for a built dialog and records what it saw.
class HookedDialog : public TfrmRODefault
{
public:
    HookedDialog()
        : TfrmRODefault(DeferCreate::Yes, nullptr)
    {
        m_own = new QLabel(QStringLiteral("own"), body());
        FormCreate();
    }
    void InitWindow() override
    {
        ++calls;
        sawOwnControl = m_own != nullptr;
        developerTextSetYet = !lblDeveloper->text().isEmpty();
    }

    int calls = 0;
    bool sawOwnControl = false;
    bool developerTextSetYet = true;

private:
    QLabel *m_own = nullptr;
};

class TestDialogs : public WidgetTest
{
    Q_OBJECT

private slots:
    // The hook reaches a derived dialog's own override, once, with its controls built and
    // before the create handler's work.
    void initWindowReachesTheDerivedDialogOnceBuilt()
    {
        HookedDialog dialog;
        QCOMPARE(dialog.calls, 1);
        QVERIFY(dialog.sawOwnControl);
        QVERIFY(!dialog.developerTextSetYet);
        dialog.show();
        QCOMPARE(dialog.calls, 1);
    }

    void accountOkFollowsTheAddressOnly()
    {
        TfrmAddEditAccount dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Mail Account"));
        QVERIFY(!dialog.btnOK->isEnabled());
        dialog.edPop3->setText(QStringLiteral("server"));
        QVERIFY(!dialog.btnOK->isEnabled());
        QTest::keyClicks(dialog.edEmail, QStringLiteral("a"));
        QVERIFY(dialog.btnOK->isEnabled());
        QTest::keyClick(dialog.edEmail, Qt::Key_Backspace);
        QVERIFY(!dialog.btnOK->isEnabled());
        QCOMPARE(dialog.edPassword->echoMode(), QLineEdit::Password);
    }

    void accountFieldsTakeAHundredTypedCharactersButKeepALongerPreset()
    {
        TfrmAddEditAccount dialog;
        QTest::keyClicks(dialog.edLogin, QString(120, QLatin1Char('x')));
        QCOMPARE(dialog.edLogin->text().size(), 100);
        dialog.edPop3->setText(QString(150, QLatin1Char('y')));
        QCOMPARE(dialog.edPop3->text().size(), 150);
        QTest::keyClick(dialog.edPop3, Qt::Key_Backspace);
        QCOMPARE(dialog.edPop3->text().size(), 149);
    }

    void pastingIntoAnAccountFieldKeepsWhatFits()
    {
        TfrmAddEditAccount dialog;
        typeInto(dialog.edLogin, QStringLiteral("ab"));
        QApplication::clipboard()->setText(QString(120, QLatin1Char('x')));
        dialog.edLogin->paste();
        QCOMPARE(dialog.edLogin->text(), QStringLiteral("ab") + QString(98, QLatin1Char('x')));
        dialog.edLogin->paste();
        QCOMPARE(dialog.edLogin->text().size(), 100);
        QApplication::clipboard()->setText(QString(60, QChar(0x0416)));
        dialog.edPassword->paste();
        QCOMPARE(dialog.edPassword->text(), QString(50, QChar(0x0416)));
        // A longer text the page put in stays whole and can be shortened, never lengthened.
        dialog.edPop3->setText(QString(150, QLatin1Char('y')));
        QTest::keyClick(dialog.edPop3, Qt::Key_Z);
        QCOMPARE(dialog.edPop3->text(), QString(150, QLatin1Char('y')));
        QTest::keyClick(dialog.edPop3, Qt::Key_Backspace);
        QCOMPARE(dialog.edPop3->text().size(), 149);
    }

    void leavingTheAddressFillsServerAndLogin_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("login");
        QTest::newRow("plain") << "ann@example.com"
                               << "example.com"
                               << "ann";
        QTest::newRow("leading @") << "@example.com"
                                   << "example.com"
                                   << "";
        QTest::newRow("trailing @") << "ann@"
                                    << ""
                                    << "ann";
        QTest::newRow("two @") << "a@b@c"
                               << "b@c"
                               << "a";
        QTest::newRow("no @") << "annexample"
                              << ""
                              << "";
    }
    void leavingTheAddressFillsServerAndLogin()
    {
        QFETCH(QString, address);
        QFETCH(QString, server);
        QFETCH(QString, login);
        TfrmAddEditAccount dialog;
        execWith(dialog, [&] {
            QTest::keyClicks(dialog.edEmail, address);
            QTest::keyClick(dialog.edEmail, Qt::Key_Tab);
            QCOMPARE(dialog.edPop3->text(), server);
            QCOMPARE(dialog.edLogin->text(), login);
            dialog.reject();
        });
    }

    void typedServerAndLoginStay()
    {
        TfrmAddEditAccount dialog;
        execWith(dialog, [&] {
            dialog.edPop3->setText(QStringLiteral("pop.mine"));
            QTest::keyClicks(dialog.edEmail, QStringLiteral("me@there"));
            QTest::keyClick(dialog.edEmail, Qt::Key_Tab);
            QCOMPARE(dialog.edPop3->text(), QStringLiteral("pop.mine"));
            QCOMPARE(dialog.edLogin->text(), QStringLiteral("me"));
            dialog.reject();
        });
    }

    void enterConfirmsOnlyWithAnAddress()
    {
        TfrmAddEditAccount dialog;
        const int result = execWith(dialog, [&] {
            QTest::keyClick(dialog.edEmail, Qt::Key_Return);
            QVERIFY(dialog.isVisible());
            QTest::keyClicks(dialog.edEmail, QStringLiteral("x@y"));
            QTest::keyClick(dialog.edEmail, Qt::Key_Return);
        });
        QCOMPARE(result, int(QDialog::Accepted));
        QCOMPARE(dialog.edLogin->text(), QStringLiteral("x")); // confirming filled it first
    }

    void escapeWithAnyModifierCancels_data()
    {
        QTest::addColumn<int>("modifiers");
        QTest::newRow("plain") << int(Qt::NoModifier);
        QTest::newRow("shift") << int(Qt::ShiftModifier);
        QTest::newRow("ctrl") << int(Qt::ControlModifier);
        QTest::newRow("alt") << int(Qt::AltModifier);
    }
    void escapeWithAnyModifierCancels()
    {
        QFETCH(int, modifiers);
        TfrmAddEditAccount account;
        QCOMPARE(execWith(account,
                          [&] {
                              QTest::keyClick(account.edPassword, Qt::Key_Escape,
                                              Qt::KeyboardModifiers(modifiers));
                          }),
                 int(QDialog::Rejected));
        TfrmAddEditAttachment attachment;
        QCOMPARE(execWith(attachment,
                          [&] {
                              attachment.cbxSize->setChecked(true);
                              attachment.seSizeFrom->setFocus();
                              QTest::keyClick(attachment.seSizeFrom, Qt::Key_Escape,
                                              Qt::KeyboardModifiers(modifiers));
                          }),
                 int(QDialog::Rejected));
    }

    // A dialog claims Escape before shortcuts are looked up, so nothing bound to Escape can take
    // the key away from it: Escape still cancels, and the other binding does not fire.
    void escapeIsClaimedAheadOfAnyShortcut_data() { escapeWithAnyModifierCancels_data(); }
    void escapeIsClaimedAheadOfAnyShortcut()
    {
        QFETCH(int, modifiers);
        const QKeyCombination escape(Qt::KeyboardModifiers(modifiers), Qt::Key_Escape);
        TfrmAddEditAccount account;
        TfrmAddEditAttachment attachment;
        attachment.cbxSize->setChecked(true);
        const QList<std::pair<QDialog *, QWidget *>> cases{{&account, account.edPassword},
                                                           {&attachment, attachment.seSizeFrom}};
        for (const auto &[dialog, field] : cases) {
            int taken = 0;
            QShortcut binding(QKeySequence(escape), dialog);
            connect(&binding, &QShortcut::activated, [&taken] { ++taken; });
            bool claimed = false;
            const int result = execWith(*dialog, [&, field = field] {
                field->setFocus();
                QKeyEvent overrideAsked(QEvent::ShortcutOverride, Qt::Key_Escape,
                                        escape.keyboardModifiers());
                overrideAsked.ignore();
                QApplication::sendEvent(field, &overrideAsked);
                claimed = overrideAsked.isAccepted();
                QTest::keyClick(field, Qt::Key_Escape, escape.keyboardModifiers());
            });
            QCOMPARE(result, int(QDialog::Rejected));
            QCOMPARE(taken, 0);
            QVERIFY2(claimed, qPrintable(dialog->windowTitle()));
        }
    }

    void filterDialogsShareTheOkRule()
    {
        TfrmAddEditMail mail;
        TfrmAddEditSubject subject;
        TfrmAddEditContent content;
        TfrmAddEditAttachment attachment;
        const QList<FilterEntryDialog *> dialogs{&mail, &subject, &content, &attachment};
        const QStringList captions{"Mail", "Subject", "Content", "Attachment"};
        for (int i = 0; i < dialogs.size(); ++i) {
            FilterEntryDialog *dialog = dialogs[i];
            QCOMPARE(dialog->windowTitle(), captions[i]);
            QVERIFY(!dialog->btnOK->isEnabled());
            QTest::keyClicks(dialog->field(), QStringLiteral(" "));
            QVERIFY(dialog->btnOK->isEnabled()); // a blank counts
            QCOMPARE(dialog->text(), QStringLiteral(" "));
            dialog->field()->clear();
            QVERIFY(!dialog->btnOK->isEnabled());
            QTest::keyClicks(dialog->field(), QString(130, QLatin1Char('z')));
            QCOMPARE(dialog->text().size(), 100);
        }
        QCOMPARE(mail.edEmail, mail.field());
        QCOMPARE(subject.edWords->objectName(), QStringLiteral("edWords"));
        QCOMPARE(attachment.edFileName->objectName(), QStringLiteral("edFileName"));
        QVERIFY(!content.findChild<QWidget *>(QStringLiteral("note")));
        QVERIFY(subject.findChild<QWidget *>(QStringLiteral("note")));
    }

    // As the program sets it up: the layouts are made for an 8-point font.
    void everyNoteLineShowsWholeInTheEightPointFont()
    {
        const QFont previous = QApplication::font();
        const auto restore = qScopeGuard([previous] { QApplication::setFont(previous); });
        QFont small = previous;
        small.setPointSize(8);
        QApplication::setFont(small);
        TfrmAddEditMail mail;
        TfrmAddEditSubject subject;
        TfrmAddEditAttachment attachment;
        for (FilterEntryDialog *dialog :
             std::initializer_list<FilterEntryDialog *>{&mail, &subject, &attachment}) {
            dialog->show();
            QVERIFY(QTest::qWaitForWindowExposed(dialog));
            const auto *note = dialog->findChild<QPlainTextEdit *>(QStringLiteral("note"));
            QVERIFY(note);
            QVERIFY(note->toPlainText().endsWith(QStringLiteral(".zip"))
                    || note->toPlainText().endsWith(QStringLiteral("???"))
                    || note->toPlainText().endsWith(QStringLiteral("*sex*")));
            // Every line of text fits the width, and nothing is left to scroll down to.
            const qreal room = note->viewport()->width() - 2 * note->document()->documentMargin();
            for (QTextBlock block = note->document()->begin(); block.isValid();
                 block = block.next()) {
                for (int i = 0; i < block.layout()->lineCount(); ++i)
                    QVERIFY2(block.layout()->lineAt(i).naturalTextWidth() <= room,
                             qPrintable(block.text()));
            }
            QCOMPARE(note->verticalScrollBar()->maximum(), 0);
            const QRect end = note->cursorRect(QTextCursor(note->document()->lastBlock()));
            QVERIFY(end.bottom() <= note->viewport()->height());
            QVERIFY(note->geometry().bottom() < dialog->btnOK->geometry().top());
            dialog->hide();
        }
    }

    void sizeBoxEnablesTheBoundsAndKeepsTheirNumbers()
    {
        TfrmAddEditAttachment dialog;
        QVERIFY(!dialog.cbxSize->isChecked());
        QVERIFY(!dialog.seSizeFrom->isEnabled());
        QCOMPARE(dialog.seSizeFrom->text(), QStringLiteral("0"));
        const auto labels = dialog.findChildren<QLabel *>();
        const auto label = [&labels](const QString &text) {
            for (QLabel *candidate : labels) {
                if (candidate->text() == text)
                    return candidate;
            }
            return static_cast<QLabel *>(nullptr);
        };
        QVERIFY(label(QStringLiteral("kB and ")) && !label(QStringLiteral("kB and "))->isEnabled());
        dialog.cbxSize->click();
        QVERIFY(dialog.seSizeFrom->isEnabled() && dialog.seSizeTo->isEnabled());
        QVERIFY(label(QStringLiteral("kB and "))->isEnabled()
                && label(QStringLiteral("kB"))->isEnabled());
        dialog.seSizeTo->setValue(12);
        dialog.cbxSize->click();
        QVERIFY(!dialog.seSizeTo->isEnabled());
        QCOMPARE(dialog.seSizeTo->value(), 12);
    }

    void enterInABoundFieldConfirmsTheDialog()
    {
        TfrmAddEditAttachment dialog;
        const int result = execWith(dialog, [&] {
            QTest::keyClicks(dialog.edFileName, QStringLiteral("*.zip"));
            dialog.cbxSize->click();
            dialog.seSizeTo->setFocus();
            QTest::keyClicks(dialog.seSizeTo, QStringLiteral("12"));
            QTest::keyClick(dialog.seSizeTo, Qt::Key_Return);
        });
        QCOMPARE(result, int(QDialog::Accepted));
        QCOMPARE(dialog.seSizeTo->value(), 12);
    }

    void wholeNumberFieldTakesDigitsAndSignsOnly()
    {
        WholeNumberField field;
        field.show();
        field.setText(QString());
        QCOMPARE(field.value(), 0);
        QTest::keyClicks(&field, QStringLiteral("1a2"));
        QCOMPARE(field.text(), QStringLiteral("12"));
        field.setText(QString());
        QTest::keyClicks(&field, QStringLiteral("--1"));
        QCOMPARE(field.text(), QStringLiteral("--1"));
        QCOMPARE(field.value(), 0);
        for (const char *text : {"+", "-", "2147483648", "-2147483649"}) {
            field.setText(QLatin1String(text));
            QCOMPARE(field.value(), 0);
        }
        field.setText(QStringLiteral("-2147483648"));
        QCOMPARE(field.value(), std::numeric_limits<qint32>::min());
        field.setText(QStringLiteral("+7"));
        QCOMPARE(field.value(), 7);
    }

    void wholeNumberFieldStepsWithoutLimits()
    {
        WholeNumberField field;
        field.show();
        QTest::keyClick(&field, Qt::Key_Up);
        QCOMPARE(field.value(), 1);
        field.setValue(0);
        QTest::keyClick(&field, Qt::Key_Down);
        QCOMPARE(field.value(), -1);
        field.setValue(std::numeric_limits<qint32>::max());
        QTest::keyClick(&field, Qt::Key_Up);
        QCOMPARE(field.value(), std::numeric_limits<qint32>::max());
    }

    void aboutBoxClosesEveryWay()
    {
        TfrmAbout about;
        QCOMPARE(about.windowTitle(), QStringLiteral("About"));
        QVERIFY(!about.btnOk->isVisible());
        QCOMPARE(about.btnCancel->text(), QStringLiteral("&Close"));
        QVERIFY(about.lblHeader && about.pnlHeader);
        QCOMPARE(about.lblHeaderDescription->text(), QStringLiteral("About author."));
        QVERIFY(!about.imgHeader->pixmap().isNull());
        QCOMPARE(about.lblDeveloper->text(), QStringLiteral("  "));
        QCOMPARE(about.edFirma->maxLength(), 200);
        QVERIFY(about.edWWW->isReadOnly());

        QCOMPARE(execWith(about, [&] { QTest::keyClick(about.edMail, Qt::Key_Escape); }),
                 int(QDialog::Rejected));
        QCOMPARE(about.lblHeader->height(), 20);
        QCOMPARE(execWith(about, [&] { QTest::keyClick(&about, Qt::Key_Return); }),
                 int(QDialog::Rejected));
        QCOMPARE(execWith(about, [&] { about.btnCancel->click(); }), int(QDialog::Rejected));
        QCOMPARE(execWith(about, [&] { about.close(); }), int(QDialog::Rejected));
    }

    // Elsewhere a recorder answers instead of real boxes; these prove the real ones are wired.
    void theRealErrorBoxShowsTheOneMessage()
    {
        MessageBoxPrompts prompts;
        QString caption, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QVERIFY(box);
            caption = box->windowTitle();
            text = box->text();
            icon = box->icon();
            QVERIFY(box->button(QMessageBox::Ok));
            QVERIFY(!box->button(QMessageBox::Cancel));
            box->button(QMessageBox::Ok)->click();
        });
        store::showStoreError(prompts);
        QCOMPARE(caption, QStringLiteral("Error"));
        QCOMPARE(text, QStringLiteral("Error reading/writing to registry"));
        QCOMPARE(icon, QMessageBox::Warning);
    }

    void theRealQuestionBoxOffersYesAndNo_data()
    {
        QTest::addColumn<int>("pressed");
        QTest::addColumn<int>("answer");
        QTest::newRow("yes") << int(QMessageBox::Yes) << int(platform::Answer::Yes);
        QTest::newRow("no") << int(QMessageBox::No) << int(platform::Answer::No);
        QTest::newRow("escape") << int(QMessageBox::Escape) << int(platform::Answer::No);
    }
    void theRealQuestionBoxOffersYesAndNo()
    {
        QFETCH(int, pressed);
        QFETCH(int, answer);
        MessageBoxPrompts prompts;
        QTimer::singleShot(0, [pressed] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QVERIFY(box);
            QCOMPARE(box->windowTitle(), QStringLiteral("Remove"));
            QCOMPARE(box->icon(), QMessageBox::Question);
            QCOMPARE(box->defaultButton(), box->button(QMessageBox::Yes));
            if (pressed == QMessageBox::Escape)
                QTest::keyClick(box, Qt::Key_Escape);
            else
                box->button(QMessageBox::StandardButton(pressed))->click();
        });
        const platform::Answer given =
            prompts.show({QStringLiteral("Remove"), QStringLiteral("Remove selected account?"),
                          platform::Prompt::Icon::Question, platform::Prompt::Buttons::YesNo});
        QCOMPARE(int(given), answer);
    }

    void aPictureOfTheLayoutIsKeptAndTheTitleFitsTheDescription()
    {
        PictureDialog alone(false);
        QCOMPARE(alone.imgHeader->pixmap().size(), QSize(10, 10)); // AppLogo only when empty
        alone.show();
        QCOMPARE(alone.lblHeader->height(), 48);
        PictureDialog described(true);
        described.show();
        QCOMPARE(described.lblHeader->height(), 20);
    }

    void baseDialogOpensOnOkAndEnterConfirms()
    {
        TfrmRODefault plain;
        QCOMPARE(execWith(plain,
                          [&] {
                              QCOMPARE(QApplication::focusWidget(), plain.btnOk);
                              QTest::keyClick(plain.btnOk, Qt::Key_Tab);
                              QCOMPARE(QApplication::focusWidget(), plain.btnCancel);
                              QTest::keyClick(plain.btnCancel, Qt::Key_Tab);
                              QCOMPARE(QApplication::focusWidget(), plain.btnOk);
                              QTest::keyClick(plain.btnOk, Qt::Key_Backtab);
                              QCOMPARE(QApplication::focusWidget(), plain.btnCancel);
                              QTest::keyClick(plain.btnCancel, Qt::Key_Backtab);
                              QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
                          }),
                 int(QDialog::Accepted));
    }

    void onlyMovingTheFocusInsideTheDialogFillsServerAndLogin()
    {
        TfrmAddEditAccount dialog;
        dialog.show();
        dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QVERIFY(dialog.edEmail->hasFocus());
        QTest::keyClicks(dialog.edEmail, QStringLiteral("ann@exa"));

        QWidget elsewhere;
        elsewhere.show();
        elsewhere.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
        QCOMPARE(dialog.edPop3->text(), QString());
        QCOMPARE(dialog.edLogin->text(), QString());

        dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QVERIFY(dialog.edEmail->hasFocus());
        QFocusEvent toMenu(QEvent::FocusOut, Qt::PopupFocusReason); // its context menu opens
        QApplication::sendEvent(dialog.edEmail, &toMenu);
        QCOMPARE(dialog.edPop3->text(), QString());

        QTest::keyClicks(dialog.edEmail, QStringLiteral("mple.com"));
        QTest::keyClick(dialog.edEmail, Qt::Key_Tab);
        QCOMPARE(dialog.edPop3->text(), QStringLiteral("example.com"));
        QCOMPARE(dialog.edLogin->text(), QStringLiteral("ann"));
    }

    void thePasswordTakesAHundredBytesAsStored()
    {
        TfrmAddEditAccount dialog;
        typeInto(dialog.edPassword, QString(60, QChar(0x0416)));
        QCOMPARE(dialog.edPassword->text(), QString(50, QChar(0x0416)));
        dialog.edPassword->clear();
        typeInto(dialog.edPassword, QString(120, QLatin1Char('x')));
        QCOMPARE(dialog.edPassword->text().size(), 100);
        // The other fields count characters.
        typeInto(dialog.edLogin, QString(60, QChar(0x0416)));
        QCOMPARE(dialog.edLogin->text().size(), 60);
    }

    void baseDialogWithoutSwitchesHasNoHeaderAndIgnoresEscape()
    {
        TfrmRODefault plain;
        QVERIFY(!plain.pnlHeader);
        QVERIFY(!plain.lblHeader);
        QCOMPARE(execWith(plain,
                          [&] {
                              QTest::keyClick(plain.btnOk, Qt::Key_Escape);
                              QVERIFY(plain.isVisible());
                              plain.btnOk->click();
                          }),
                 int(QDialog::Accepted));
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
