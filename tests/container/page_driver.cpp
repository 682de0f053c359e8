// OstroveConf driven as a person would, offscreen, for the tests that run inside a container
// with a real systemd. Each argument is one step, taken in order:
//   tsAccounts, tsIgnoreMail, tsConfiguration, ...  clicks that page's place in the navigation
//   name=text                                        types text into the field `name`
//   name                                             clicks the button `name`
// Fields and buttons are those of the open dialog, or else of the page shown; one that is not
// there yet is waited for a while. After each page step and click it prints which of the
// page's buttons are enabled, the rows of its list and the status line; the text of any
// message box, which it then closes. It lives beside OstroveService and OstroveTray, so that
// the page finds them where the installed program would.
#include "accounts/AccountsPage.h"
#include "app/Form_Ostrove.h"
#include "app/RealSystem.h"
#include "configuration/ConfigurationPage.h"
#include "filters/AttachmentFilterPage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QStackedWidget>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kStepWaitMs = 10000;
constexpr int kWholeRunMs = 45000; // within the minute the tests give a command inside

QWidget *pageNamed(TfrmOstrove &window, const QString &name)
{
    if (name == QLatin1String("tsAccounts"))
        return window.tsAccounts;
    if (name == QLatin1String("tsIgnoreMail"))
        return window.tsIgnoreMail();
    if (name == QLatin1String("tsIgnoreSubject"))
        return window.tsIgnoreSubject();
    if (name == QLatin1String("tsIgnoreContent"))
        return window.tsIgnoreContent();
    if (name == QLatin1String("tsIgnoreAttach"))
        return window.tsIgnoreAttach();
    if (name == QLatin1String("tsConfiguration"))
        return window.tsConfiguration();
    return nullptr;
}

void report(QWidget *page)
{
    for (QAbstractButton *button : page->findChildren<QAbstractButton *>()) {
        if (button->objectName().startsWith(QLatin1String("btn")))
            std::printf("%s %s\n", qPrintable(button->objectName()),
                        button->isEnabled() ? "enabled" : "disabled");
    }
    for (QTreeWidget *list : page->findChildren<QTreeWidget *>()) {
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            std::printf("row: %s\n", qPrintable(list->topLevelItem(i)->text(0)));
    }
    for (QListWidget *list : page->findChildren<QListWidget *>()) {
        for (int i = 0; i < list->count(); ++i)
            std::printf("row: %s\n", qPrintable(list->item(i)->text()));
    }
    if (auto *status = page->findChild<QLabel *>(QStringLiteral("lblServiceStatus")))
        std::printf("status: %s\n", qPrintable(status->text()));
    std::fflush(stdout);
}

// The events a person's mouse and keyboard send; QtTest would do the same, but the container
// holds only the libraries that the programs need.
void leftClick(QWidget *widget, const QPoint &at)
{
    QMouseEvent press(QEvent::MouseButtonPress, at, widget->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, widget->mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

void typeInto(QWidget *field, const QString &text)
{
    for (const QChar character : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(character));
        QApplication::sendEvent(field, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(character));
        QApplication::sendEvent(field, &release);
    }
}

[[noreturn]] void giveUp(const char *what, const QString &step, int code)
{
    std::printf("%s %s\n", what, qPrintable(step));
    std::fflush(stdout);
    // A dialog may still wait in a loop of its own; nothing here is worth unwinding.
    std::_Exit(code);
}

} // namespace

int main(int argc, char *argv[])
{
    // Only the page is offscreen: what it starts (the tray program) uses the display that the
    // environment names, as on a person's desktop.
    qunsetenv("QT_QPA_PLATFORM");
    std::vector<char *> qtArguments(argv, argv + argc);
    char platformOption[] = "-platform";
    char offscreen[] = "offscreen";
    qtArguments.push_back(platformOption);
    qtArguments.push_back(offscreen);
    int qtArgumentCount = static_cast<int>(qtArguments.size());
    qtArguments.push_back(nullptr);
    QApplication application(qtArgumentCount, qtArguments.data());
    const QStringList steps = QApplication::arguments().mid(1);

    RealSystem::setUpApplication();
    RealSystem parts;
    TfrmOstrove frmOstrove(parts.system());
    frmOstrove.show();
    QApplication::processEvents();

    qsizetype next = 0;
    QDeadlineTimer stepDeadline(kStepWaitMs);
    const QDeadlineTimer wholeRun(kWholeRunMs);
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        if (wholeRun.hasExpired())
            giveUp("timed out at", next < steps.size() ? steps[next] : QStringLiteral("the end"),
                   3);
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            std::printf("message: %s\n", qPrintable(box->text()));
            std::fflush(stdout);
            box->accept();
            return;
        }
        if (next == steps.size()) {
            if (!modal)
                QApplication::exit(0);
            return;
        }
        const QString &step = steps[next];
        QWidget *scope = modal ? modal : frmOstrove.PageControl1->currentWidget();

        if (QWidget *page = modal ? nullptr : pageNamed(frmOstrove, step)) {
            std::printf("page %s\n", qPrintable(step));
            QListWidget *navigation = frmOstrove.lvDodatki;
            QListWidgetItem *place = navigation->item(frmOstrove.PageControl1->indexOf(page));
            if (!place)
                giveUp("no place in the navigation for", step, 2);
            navigation->scrollToItem(place);
            leftClick(navigation->viewport(), navigation->visualItemRect(place).center());
            if (frmOstrove.PageControl1->currentWidget() != page)
                giveUp("the navigation did not show", step, 2);
            report(page);
        } else if (const qsizetype equals = step.indexOf(u'='); equals > 0) {
            auto *field = scope->findChild<QLineEdit *>(step.left(equals));
            if (!field) {
                if (stepDeadline.hasExpired())
                    giveUp("no field", step.left(equals), 2);
                return;
            }
            std::printf("type %s\n", qPrintable(step.left(equals)));
            field->setFocus();
            field->selectAll(); // what the dialog filled in itself is typed over
            typeInto(field, step.mid(equals + 1));
        } else {
            auto *control = scope->findChild<QAbstractButton *>(step);
            if (!control) {
                if (stepDeadline.hasExpired())
                    giveUp("no control", step, 2);
                return;
            }
            std::printf("click %s\n", qPrintable(step));
            std::fflush(stdout);
            // Posted: a click that opens a dialog returns only once the dialog has closed, and
            // the steps meanwhile go on in the dialog's own loop.
            QWidget *shown = frmOstrove.PageControl1->currentWidget();
            QTimer::singleShot(0, control, [control, shown] {
                control->click();
                QApplication::processEvents();
                report(shown);
            });
        }
        ++next;
        stepDeadline.setRemainingTime(kStepWaitMs);
    });
    ticks.start(50);
    return QApplication::exec();
}
