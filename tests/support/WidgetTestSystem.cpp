#include "WidgetTestSystem.h"

#include "accounts/Form_AddEditAccount.h"
#include "filters/FilterEntryDialog.h"

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

void WidgetTestSystem::scriptDialogs(const QList<DialogStep> &steps)
{
    m_dialogSteps.append(steps);
}

QStringList WidgetTestSystem::unfinishedScript() const
{
    QStringList result = TestSystem::unfinishedScript();
    if (!m_dialogSteps.isEmpty())
        result.append(
            QStringLiteral("%1 scripted dialog step(s) never ran").arg(m_dialogSteps.size()));
    return result;
}

int WidgetTestSystem::runDialog(QDialog &dialog)
{
    ++dialogsShown;
    if (m_dialogSteps.isEmpty()) {
        noteSurprise(QStringLiteral("the dialog \"%1\" came up and nothing was scripted for it")
                         .arg(dialog.windowTitle()));
        return int(QDialog::Rejected);
    }
    dialog.setResult(QDialog::Rejected);
    dialog.show();
    dialog.activateWindow();
    if (!QTest::qWaitForWindowActive(&dialog))
        noteSurprise(
            QStringLiteral("the dialog \"%1\" did not become active").arg(dialog.windowTitle()));
    m_dialogSteps.takeFirst()(dialog);
    // A step that neither confirms nor cancels would leave exec() waiting.
    if (dialog.isVisible())
        noteSurprise(QStringLiteral("the dialog \"%1\" was still open after its step")
                         .arg(dialog.windowTitle()));
    const int result = dialog.result();
    dialog.hide();
    return result;
}

void typeInto(QLineEdit *field, const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x80)
            QTest::keyClick(field, c.toLatin1());
        else
            field->insert(QString(c)); // QTest types only ASCII keys
    }
}

WidgetTestSystem::DialogStep fillAccountDialog(const QString &email, const QString &pop3,
                                               const QString &login, const QString &password)
{
    return [=](QDialog &dialog) {
        auto &account = dynamic_cast<TfrmAddEditAccount &>(dialog);
        typeInto(account.edEmail, email);
        account.edPop3->clear();
        typeInto(account.edPop3, pop3);
        account.edLogin->clear();
        typeInto(account.edLogin, login);
        typeInto(account.edPassword, password);
        account.btnOK->click();
    };
}

WidgetTestSystem::DialogStep fillPatternDialog(const QString &pattern)
{
    return [=](QDialog &dialog) {
        auto &entry = dynamic_cast<FilterEntryDialog &>(dialog);
        typeInto(entry.field(), pattern);
        entry.btnOK->click();
    };
}
