#include "WidgetTest.h"
#include "accounts/AccountsPage.h"
#include "app/Form_Ostrove.h"
#include "configuration/ConfigurationPage.h"
#include "filters/AttachmentFilterPage.h"
#include "filters/PatternFilterPage.h"
#include "logwindow/LogWindow.h"
#include "platform/ProfileFile.h"
#include "store/RegistryPaths.h"
#include "store/Store.h"
#include "windows/CloseUpComboBox.h"
#include "windows/Form_About.h"
#include "windows/WholeNumberField.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

namespace {

// What a language without the keys "RunAsService" and "Autorun" shows: a Windows build the
// designed captions, a Linux build what it does here.
#ifdef Q_OS_WIN
const char *const kServiceCaption = "Run as Windows Service (Windows NT/2000/XP)";
const char *const kAutorunCaption = "Autorun on Windows startup";
#else
const char *const kServiceCaption = "Run as system service";
const char *const kAutorunCaption = "Start with the desktop session";
#endif

} // namespace

class TestMainWindow : public WidgetTest
{
    Q_OBJECT

private:
    std::unique_ptr<TfrmOstrove> m_window;

    void writeLanguageFile(const QByteArray &contents)
    {
        QFile file(t->folder.filePath(QStringLiteral("Ostrove.lng")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }
    void storeLanguage(const QByteArray &name)
    {
        seed([&](store::Access &a) {
            a.openOrCreate(store::kSettingsKey)->writeString(store::kLanguage, name);
        });
    }
    void addPattern(const char *key, const QByteArray &pattern)
    {
        seed([&](store::Access &a) { a.openOrCreate(key)->writeString(pattern, {}); });
    }
    void open()
    {
        m_window = std::make_unique<TfrmOstrove>(t->system);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }
    void choose(int item)
    {
        QListWidget *list = m_window->lvDodatki;
        const QRect area = list->visualItemRect(list->item(item));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, area.center());
    }
    QStringList navigationCaptions() const
    {
        QStringList captions;
        for (int i = 0; i < m_window->lvDodatki->count(); ++i)
            captions.append(m_window->lvDodatki->item(i)->text());
        return captions;
    }

    void tearDownTest() override { m_window.reset(); }

private slots:
    void opensOnTheAccountsPageWithItsSevenItems()
    {
        open();
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Ostrove Configuration"));
        QCOMPARE(navigationCaptions(),
                 (QStringList{"Mail accounts", "Address filter", "Subject filter", "Content filter",
                              "Attachment filter", "Configuration", "Statistics"}));
        for (int i = 0; i < 7; ++i)
            QVERIFY(!m_window->lvDodatki->item(i)->icon().isNull());
        QCOMPARE(m_window->PageControl1->currentWidget(), m_window->tsAccounts);
        QVERIFY(StoreReader(t->storePath).keyExists(store::kAccountsKey)); // the page loaded
        QCOMPARE(m_window->tsAccounts->findChild<QLabel *>(QStringLiteral("header"))->text(),
                 QStringLiteral(" List of email acounts you want to check"));
        QCOMPARE(takePromptTexts(), QStringList());
    }

    void choosingAPageLoadsItOnceEachTimeItBecomesVisible()
    {
        open();
        addPattern(store::kMailFilterKey, "first");
        choose(1);
        QCOMPARE(m_window->PageControl1->currentWidget(), m_window->tsIgnoreMail());
        QCOMPARE(m_window->tsIgnoreMail()->list()->count(), 1);

        addPattern(store::kMailFilterKey, "second");
        choose(1); // the same item again: no reload
        QCOMPARE(m_window->tsIgnoreMail()->list()->count(), 1);
        m_window->hide(); // showing the window again is no new choice of the page
        m_window->show();
        QCOMPARE(m_window->tsIgnoreMail()->list()->count(), 1);

        choose(2);
        choose(1);
        QCOMPARE(m_window->tsIgnoreMail()->list()->count(), 2);
    }

    // The window's action handlers reach the filter pages also before those were ever shown,
    // and the pages' own buttons run each handler once.
    void actionHandlersReachPagesNotYetShown()
    {
        open();
        scriptDialogs({fillPatternDialog(QStringLiteral("*@spam.example")),
                       fillPatternDialog(QStringLiteral("cheap")),
                       fillPatternDialog(QStringLiteral("lottery"))});
        m_window->acAddMailExecute();
        m_window->acAddSubjectExecute();
        m_window->acAddContentExecute();
        QCOMPARE(t->dialogsShown, 3);
        QCOMPARE(m_window->PageControl1->currentWidget(), m_window->tsAccounts);
        const StoreReader reader(t->storePath);
        QCOMPARE(reader.valueNames(store::withoutTrailingSeparator(store::kMailFilterKey)),
                 QList<QByteArray>{"*@spam.example"});
        QCOMPARE(reader.valueNames(store::withoutTrailingSeparator(store::kSubjectFilterKey)),
                 QList<QByteArray>{"cheap"});
        QCOMPARE(reader.valueNames(store::withoutTrailingSeparator(store::kContentFilterKey)),
                 QList<QByteArray>{"lottery"});

        choose(1);
        scriptDialogs({fillPatternDialog(QStringLiteral("*@more.example"))});
        m_window->tsIgnoreMail()->findChild<QPushButton *>(QStringLiteral("btnAddMail"))->click();
        QCOMPARE(t->dialogsShown, 4);
        QCOMPARE(m_window->tsIgnoreMail()->list()->count(), 2);
    }

    // The monitor writes its log beside the settings store, which need not be beside the program.
    void statisticsOpensTheLogBesideTheStoreAndKeepsThePage_data()
    {
        QTest::addColumn<bool>("relative");
        QTest::newRow("store named by its full path") << false;
        QTest::newRow("store named relative to the working folder") << true;
    }
    void statisticsOpensTheLogBesideTheStoreAndKeepsThePage()
    {
        QFETCH(bool, relative);
        QTemporaryDir storeFolder;
        const QString previousFolder = QDir::currentPath();
        const auto restore = qScopeGuard([&] { QDir::setCurrent(previousFolder); });
        const QString storePath = relative ? QStringLiteral("registry.db")
                                           : storeFolder.filePath(QStringLiteral("registry.db"));
        QVERIFY(QDir::setCurrent(relative ? storeFolder.path() : t->folder.path()));
        store::SqliteStore settings(storePath);
        platform::System system{settings,    t->prompts,       t->processes,       t->windows,
                                t->services, t->folder.path(), t->system.runModal, storePath};
        m_window = std::make_unique<TfrmOstrove>(system);
        const auto closeFirst = qScopeGuard([this] { m_window.reset(); }); // it holds `system`
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        choose(5);
        QCOMPARE(m_window->PageControl1->currentWidget(), m_window->tsConfiguration());
        choose(6);
        choose(6);
        QCOMPARE(m_window->PageControl1->currentWidget(), m_window->tsConfiguration());
        const QString log = storeFolder.path() + QStringLiteral("/Ostrove.log");
        // Created empty, owner-only, before the monitor's first check, so a viewer has a file.
        QCOMPARE(QFileInfo(log).size(), 0);
        QCOMPARE(QFile::permissions(log),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        QCOMPARE(t->processes.opened, (QStringList{log, log}));
    }

    // With the desktop's real opener standing in: one that cannot start, one that starts and
    // fails (no viewer for text), one that opens the file.
    void statisticsShowsTheLogItselfWhenNoViewerTakesIt_data()
    {
        QTest::addColumn<QString>("opener");
        QTest::addColumn<bool>("ownWindow");
        QTest::newRow("no opener") << QStringLiteral("/nonexistent/xdg-open") << true;
        QTest::newRow("the opener fails") << QStringLiteral("false") << true;
        QTest::newRow("a viewer opens it") << QStringLiteral("true") << false;
    }
    void statisticsShowsTheLogItselfWhenNoViewerTakesIt()
    {
        QFETCH(QString, opener);
        QFETCH(bool, ownWindow);
        // The real opener, and what it answered, seen after the window acted on the answer.
        struct Answers : platform::SystemProcesses
        {
            using SystemProcesses::SystemProcesses;
            void openDocument(const QString &path, QObject *context,
                              std::function<void(bool)> done) override
            {
                SystemProcesses::openDocument(path, context, [this, done](bool opened) {
                    done(opened);
                    answers.append(opened);
                });
            }
            QList<bool> answers;
        } processes(opener);
        platform::System system{t->store,    t->prompts,       processes,          t->windows,
                                t->services, t->folder.path(), t->system.runModal, t->storePath};
        m_window = std::make_unique<TfrmOstrove>(system);
        const auto closeFirst = qScopeGuard([this] { m_window.reset(); }); // it holds `system`
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        const QString log = QFileInfo(t->storePath).path() + QStringLiteral("/Ostrove.log");
        QFile file(log);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("Check ends: 1 accounts, 2 messages judged, 1 removed\n");
        file.close();
        choose(6);
        QTRY_COMPARE_WITH_TIMEOUT(processes.answers, QList<bool>{!ownWindow}, 10000);
        auto *window = m_window->findChild<LogWindow *>();
        QCOMPARE(window != nullptr, ownWindow);
        if (!window)
            return;
        QVERIFY(window->isVisible());
        QVERIFY(window->edLog->isReadOnly());
        QCOMPARE(window->edLog->toPlainText(),
                 QStringLiteral("Check ends: 1 accounts, 2 messages judged, 1 removed\n"));
        choose(6); // asked again: the same window, not a second one
        QTRY_COMPARE_WITH_TIMEOUT(processes.answers.size(), 2, 10000);
        QCOMPARE(m_window->findChildren<LogWindow *>().size(), 1);
    }

    // Both Enter keys: the one on the main block and the one on the number pad.
    void enterActsOnTheSelectedItemOnly_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("Return") << int(Qt::Key_Return) << int(Qt::NoModifier);
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier);
    }
    void enterActsOnTheSelectedItemOnly()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        const auto press = [&](QWidget *target) {
            QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        };
        open();
        QListWidget *list = m_window->lvDodatki;
        list->setFocus();
        list->clearSelection();
        press(list);
        QCOMPARE(m_window->PageControl1->currentWidget(), m_window->tsAccounts);
        list->setCurrentRow(4); // moving the selection does not switch pages
        QCOMPARE(m_window->PageControl1->currentWidget(), m_window->tsAccounts);
        press(list);
        QCOMPARE(m_window->PageControl1->currentWidget(),
                 static_cast<QWidget *>(m_window->tsIgnoreAttach()));

        // The focused push button takes Enter, as it takes Space.
        int aboutBoxes = 0;
        scriptDialogs({[&aboutBoxes](QDialog &dialog) {
            aboutBoxes += qobject_cast<TfrmAbout *>(&dialog) != nullptr;
            dialog.reject();
        }});
        m_window->btnAbout->setFocus();
        press(m_window->btnAbout);
        QCOMPARE(aboutBoxes, 1);
    }

    // Service mode at the first size: why the service cannot be used, or the log's last check
    // and the logout; wrapped, whole, nothing pushed out; the log read anew at each showing.
    void serviceNotesShowWholeInTheDefaultWindow_data()
    {
        QTest::addColumn<bool>("capable");
        QTest::addColumn<QByteArray>("log");
        QTest::addColumn<QString>("expected");
        const QByteArray ended = "2026-12-08 16:40:12 Check ends: 1 account, 12 messages judged, "
                                 "3 removed, 1 account failed in 31.415 s\n";
        const QString linger = QStringLiteral("\nThe service stops at logout unless lingering is "
                                              "on: loginctl enable-linger someone");
        QTest::newRow("no user manager")
            << false << QByteArray()
            << QStringLiteral("Your own systemd manager does not answer (no user session bus): "
                              "the service cannot be used; the tray program can.");
        QTest::newRow("ended") << true << ended + "2026-12-08 16:41:00 Tray program starts\n"
                               << QStringLiteral("Last check 2026-12-08 16:40: 1 account, 12 "
                                                 "messages judged, 3 removed, 1 account failed")
                                      + linger;
        QTest::newRow("failed") << true << ended + "2026-12-08 16:55:12 Check failed: no settings\n"
                                << QStringLiteral("Last check 2026-12-08 16:55 failed: no settings")
                                       + linger;
    }
    void serviceNotesShowWholeInTheDefaultWindow()
    {
        QFETCH(bool, capable);
        QFETCH(QByteArray, log);
        QFETCH(QString, expected);
        t->services.capable = capable;
        t->services.reason = expected;
        t->services.note = expected.section(u'\n', 1);
        t->services.services = {{"OstroveSvc", "Ostrove"}};
        QFile file(QFileInfo(t->storePath).dir().filePath(QStringLiteral("Ostrove.log")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(log) == log.size());
        file.close();
        open();
        const QSize firstSize = m_window->size();
        choose(5);
        m_window->tsConfiguration()->rgService->click();
        QCOMPARE(m_window->size(), firstSize);
        auto *panel = m_window->tsConfiguration()->findChild<QWidget *>(QStringLiteral("Panel11"));
        QStringList notes;
        for (const QWidget *shown : panel->findChildren<QWidget *>()) {
            const auto *note = qobject_cast<const QLabel *>(shown);
            if (!shown->isVisible())
                continue;
            QVERIFY2(panel->rect().contains(shown->geometry()), qPrintable(shown->objectName()));
            if (note && note->wordWrap()) {
                QVERIFY(note->height() >= note->heightForWidth(note->width()));
                QCOMPARE(note->toolTip(), note->text());
                notes.append(note->text());
            }
        }
        QCOMPARE(notes, QStringList{expected});
        QVERIFY(file.remove());
        choose(4);
        choose(5);
        const auto *check = panel->findChild<QLabel *>(QStringLiteral("lblServiceCheck"));
        QVERIFY(!capable || check->text().startsWith(QStringLiteral("No check in Ostrove.log")));
    }

    // A page loads when the window first shows it. Choosing one before that reads nothing and
    // says nothing; the showing then loads the chosen page, and only that once.
    void aPageChosenBeforeTheFirstShowingLoadsWhenTheWindowShows()
    {
        seed([](store::Access &a) {
            const auto pattern = a.openOrCreate(QByteArray(store::kAttachmentsKey) + "*.zip");
            pattern->writeInteger(store::kSizeFrom, 3);
            pattern->writeString(store::kSizeTo, "not a number"); // reading it says so
        });
        m_window = std::make_unique<TfrmOstrove>(t->system);
        m_window->lvDodatki->setCurrentRow(4);
        m_window->lvDodatkiClick();
        QCOMPARE(m_window->PageControl1->currentWidget(),
                 static_cast<QWidget *>(m_window->tsIgnoreAttach()));
        QCOMPARE(m_window->tsIgnoreAttach()->lvFiles->topLevelItemCount(), 0);
        QCOMPARE(takePromptTexts(), QStringList());

        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QCOMPARE(m_window->tsIgnoreAttach()->lvFiles->topLevelItemCount(), 1);
        QCOMPARE(m_window->tsIgnoreAttach()->lvFiles->topLevelItem(0)->text(1),
                 QStringLiteral("3 kB"));
        QCOMPARE(takePromptTexts(), QStringList{"Error reading/writing to registry"});
    }

    // On a fresh store nothing has set the interval yet; the page shows the default silently.
    void aFreshStoreShowsTheConfigurationPageWithoutAMessage()
    {
        open();
        choose(5);
        QCOMPARE(m_window->PageControl1->currentWidget(), m_window->tsConfiguration());
        QCOMPARE(m_window->tsConfiguration()->seEvery->text(), QStringLiteral("15"));
        QCOMPARE(takePromptTexts(), QStringList());
    }

    void assistiveTechnologyIsToldItIsAWindow()
    {
        open();
        QAccessibleInterface *window = QAccessible::queryAccessibleInterface(m_window.get());
        QVERIFY(window);
        QCOMPARE(window->role(), QAccessible::Window);
        QCOMPARE(window->text(QAccessible::Name), QStringLiteral("Ostrove Configuration"));
        // Its controls are still reached from it.
        bool navigationFound = false;
        QList<QAccessibleInterface *> pending{window};
        while (!pending.isEmpty() && !navigationFound) {
            QAccessibleInterface *node = pending.takeFirst();
            navigationFound = node->object() == m_window->lvDodatki;
            for (int i = 0; i < node->childCount(); ++i)
                pending.append(node->child(i));
        }
        QVERIFY(navigationFound);
    }

    void closeEndsTheWindow()
    {
        open();
        m_window->btnCancel->click();
        QVERIFY(!m_window->isVisible());
    }

    void aboutOpensTheAboutBox()
    {
        open();
        bool seen = false;
        scriptDialogs({[&seen](QDialog &dialog) {
            seen = qobject_cast<TfrmAbout *>(&dialog) != nullptr;
            dialog.reject();
        }});
        m_window->btnAbout->click();
        QVERIFY(seen);
    }

    void theStoredLanguageRenamesTheCaptions()
    {
        writeLanguageFile("[English]\n[Polski]\nMailAccounts=Konta\nAdd=&Dodaj\nAbout=O programie\n"
                          "RunAsTray=W zasobniku\nCheckMailEvery=Co\n");
        storeLanguage("Polski");
        open();
        QCOMPARE(m_window->language(), QByteArray("Polski"));
        QCOMPARE(m_window->tsConfiguration()->cbLang->currentText(), QStringLiteral("Polski"));
        QCOMPARE(navigationCaptions().first(), QStringLiteral("Konta"));
        QCOMPARE(navigationCaptions().at(1), QStringLiteral("Address filter"));
        QCOMPARE(m_window->acAddAccount->text(), QStringLiteral("&Dodaj"));
        QCOMPARE(m_window->acAddSubject->text(), QStringLiteral("&Dodaj"));
        QCOMPARE(m_window->findChild<QPushButton *>(QStringLiteral("btnAddAccount"))->text(),
                 QStringLiteral("&Dodaj"));
        // Defaults carry no accelerator and no ellipsis.
        QCOMPARE(m_window->acEditAccount->text(), QStringLiteral("Edit"));
        QCOMPARE(m_window->btnCancel->text(), QStringLiteral("Close"));
        QCOMPARE(m_window->btnAbout->text(), QStringLiteral("O programie"));
        QCOMPARE(m_window->tsConfiguration()->rbTray->text(), QStringLiteral("W zasobniku"));
        QCOMPARE(m_window->tsConfiguration()->Label9->text(), QStringLiteral("Co"));
        // Keys the language lacks keep this build's captions; its own text wins where it has one.
        QCOMPARE(m_window->tsConfiguration()->cbxAutorun->text(), QLatin1String(kAutorunCaption));
        QCOMPARE(m_window->tsConfiguration()->rgService->text(), QLatin1String(kServiceCaption));
    }

    // The shipped file: every section complete, and each language's texts on all 26 captions.
    void eachShippedLanguageRenamesAllTwentySixCaptions_data()
    {
        QTest::addColumn<QByteArray>("language");
        for (const QByteArray &name :
             platform::ProfileFile(QStringLiteral(SHIPPED_LANGUAGES)).sectionNames())
            QTest::newRow(name.constData()) << name;
    }
    void eachShippedLanguageRenamesAllTwentySixCaptions()
    {
        QFETCH(QByteArray, language);
        QFile::copy(QStringLiteral(SHIPPED_LANGUAGES),
                    t->folder.filePath(QStringLiteral("Ostrove.lng")));
        const platform::ProfileFile file(QStringLiteral(SHIPPED_LANGUAGES));
        const QList<QByteArray> keys{
            "MailAccounts",  "AddressFilter", "SubjectFilter", "ContentFilter", "AttachmentFilter",
            "Configuration", "Statistics",    "Add",           "Remove",        "Edit",
            "About",         "Close",         "RunAsService",  "RunAsTray",     "Language",
            "Autorun",       "CheckMailEvery"};
        QHash<QByteArray, QString> text;
        for (const QByteArray &key : keys) {
            const QByteArray value = file.readString(language, key, "<missing>");
            QVERIFY2(value != "<missing>" && !value.isEmpty(), key.constData());
            text.insert(key, QString::fromUtf8(value));
        }
        storeLanguage(language);
        open();
        if (language == "English") {
            QCOMPARE(m_window->acAddAccount->text(), QStringLiteral("&Add")); // nothing applied
            return;
        }
        const QStringList navigation = navigationCaptions();
        for (int i = 0; i < 7; ++i)
            QCOMPARE(navigation[i], text.value(keys[i]));
        for (QAction *add : {m_window->acAddAccount, m_window->acAddMail, m_window->acAddSubject,
                             m_window->acAddContent, m_window->acAddAttachment})
            QCOMPARE(add->text(), text.value("Add"));
        for (QAction *remove :
             {m_window->acRemoveAccount, m_window->acRemoveMail, m_window->acRemoveSubject,
              m_window->acRemoveContent, m_window->acRemoveAttachment})
            QCOMPARE(remove->text(), text.value("Remove"));
        QCOMPARE(m_window->acEditAccount->text(), text.value("Edit"));
        QCOMPARE(m_window->acEditAttachment->text(), text.value("Edit"));
        QCOMPARE(m_window->btnAbout->text(), text.value("About"));
        QCOMPARE(m_window->btnCancel->text(), text.value("Close"));
        ConfigurationPage *page = m_window->tsConfiguration();
        QCOMPARE(page->rgService->text(), text.value("RunAsService"));
        QCOMPARE(page->rbTray->text(), text.value("RunAsTray"));
        QCOMPARE(page->Label5->text(), text.value("Language"));
        QCOMPARE(page->cbxAutorun->text(), text.value("Autorun"));
        QCOMPARE(page->Label9->text(), text.value("CheckMailEvery"));
    }

    // As the program sets it up: the layouts are made for an 8-point font.
    void everyLanguagesCaptionsShowWhole_data()
    {
        eachShippedLanguageRenamesAllTwentySixCaptions_data();
    }
    void everyLanguagesCaptionsShowWhole()
    {
        QFETCH(QByteArray, language);
        const QFont previous = QApplication::font();
        const auto restore = qScopeGuard([previous] { QApplication::setFont(previous); });
        QFont small = previous;
        small.setPointSize(8);
        QApplication::setFont(small);
        QFile::copy(QStringLiteral(SHIPPED_LANGUAGES),
                    t->folder.filePath(QStringLiteral("Ostrove.lng")));
        storeLanguage(language);
        open();
        // Every page, so that those built on first showing are measured too.
        for (int i = 1; i <= 5; ++i)
            choose(i);
        ConfigurationPage *page = m_window->tsConfiguration();
        for (QWidget *caption : std::initializer_list<QWidget *>{
                 page->Label9, page->Label5, page->rgService, page->rbTray, page->cbxAutorun})
            QVERIFY2(caption->width() >= caption->sizeHint().width(),
                     qPrintable(caption->objectName()));
        QVERIFY(page->seEvery->x() > page->Label9->geometry().right());
        QVERIFY(page->cbLang->x() > page->Label5->geometry().right());
        // The style gives a button room around its caption; a caption wider than that is cut.
        for (QPushButton *button : m_window->findChildren<QPushButton *>()) {
            const QString caption = QString(button->text()).remove(QLatin1Char('&'));
            QVERIFY2(button->fontMetrics().horizontalAdvance(caption) + 10 <= button->width(),
                     qPrintable(button->objectName()));
        }
        // Each navigation caption in full, on up to two lines under its picture, and all seven
        // items in view.
        QListWidget *list = m_window->lvDodatki;
        const QFontMetrics metrics(list->font());
        for (int i = 0; i < list->count(); ++i) {
            const QRect item = list->visualItemRect(list->item(i));
            const QRect text = metrics.boundingRect(QRect(0, 0, item.width() - 6, 1000),
                                                    Qt::TextWordWrap, list->item(i)->text());
            QVERIFY2(text.height() <= 2 * metrics.lineSpacing(), qPrintable(list->item(i)->text()));
            QVERIFY2(list->wordWrap() || text.height() <= metrics.lineSpacing(),
                     qPrintable(list->item(i)->text()));
            QVERIFY2(item.height() - list->iconSize().height() >= text.height(),
                     qPrintable(list->item(i)->text()));
            QVERIFY(item.bottom() <= list->viewport()->height());
        }
        m_window.reset();
    }

    void englishAndUnknownLanguages_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("addCaption");
        QTest::newRow("English") << QByteArray("English") << "English"
                                 << "&Add";
        QTest::newRow("not in the file") << QByteArray("Klingon") << "Deutsch"
                                         << "Add";
        QTest::newRow("other case") << QByteArray("POLSKI") << "Deutsch"
                                    << "&Dodaj";
    }
    void englishAndUnknownLanguages()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QString, selected);
        QFETCH(QString, addCaption);
        writeLanguageFile("[Deutsch]\n[English]\nAdd=Hinzu\n[Polski]\nAdd=&Dodaj\n");
        storeLanguage(stored);
        open();
        QCOMPARE(m_window->tsConfiguration()->cbLang->currentText(), selected);
        QCOMPARE(m_window->acAddMail->text(), addCaption);
    }

    void closingTheLanguageListStoresTheChoice()
    {
        writeLanguageFile("[English]\n[Polski]\nAdd=&Dodaj\n");
        open();
        CloseUpComboBox *languages = m_window->tsConfiguration()->cbLang;
        QCOMPARE(languages->count(), 2);
        choose(5);
        languages->setFocus();
        QTest::keyClick(languages, Qt::Key_Down); // arrows on the closed list store nothing
        QVERIFY(!StoreReader(t->storePath).value(store::kSettingsKey, "Language"));

        languages->showPopup();
        QAbstractItemView *popup = languages->view();
        QVERIFY(QTest::qWaitForWindowExposed(popup->window()));
        popup->setCurrentIndex(popup->model()->index(0, 0));
        QTest::keyClick(popup, Qt::Key_Return);
        QTRY_COMPARE(StoreReader(t->storePath).string(store::kSettingsKey, "Language"),
                     QByteArray("English"));
        QCOMPARE(m_window->acAddMail->text(), QStringLiteral("&Add")); // only at the next start

        languages->showPopup();
        QVERIFY(QTest::qWaitForWindowExposed(languages->view()->window()));
        QTest::keyClick(languages->view(), Qt::Key_Escape); // closing without a pick writes too
        StoreReader(t->storePath).exec("DELETE FROM vals WHERE name = 'Language'");
        languages->showPopup();
        languages->hidePopup();
        QTRY_COMPARE(StoreReader(t->storePath).string(store::kSettingsKey, "Language"),
                     QByteArray("English"));
    }

    void withoutALanguageFileTheListIsEmptyAndStoresNothing()
    {
        open();
        CloseUpComboBox *languages = m_window->tsConfiguration()->cbLang;
        QCOMPARE(languages->count(), 0);
        choose(5);
        languages->showPopup(); // an empty list does not open
        languages->hidePopup();
        choose(0);
        QCoreApplication::sendPostedEvents();
        QVERIFY(!StoreReader(t->storePath).value(store::kSettingsKey, "Language"));
    }

    void leavingThePageOrClosingTheWindowStoresNoLanguage()
    {
        writeLanguageFile("[Deutsch]\n[English]\n[Polski]\n");
        storeLanguage("polski");
        open();
        QCOMPARE(m_window->tsConfiguration()->cbLang->currentText(), QStringLiteral("Deutsch"));
        choose(5);
        choose(0);
        choose(5);
        m_window->btnCancel->click();
        QCoreApplication::sendPostedEvents();
        QCOMPARE(StoreReader(t->storePath).string(store::kSettingsKey, "Language"),
                 QByteArray("polski"));
        QCOMPARE(takePromptTexts(), QStringList());
    }

    void leavingThePageOfAReadOnlyStoreSaysNothing()
    {
        writeLanguageFile("[Deutsch]\n[English]\n");
        storeLanguage("English");
        store::SqliteStore readOnly(t->storePath, {5000, {}, true});
        platform::System system{readOnly,    t->prompts,       t->processes,      t->windows,
                                t->services, t->folder.path(), t->system.runModal};
        m_window = std::make_unique<TfrmOstrove>(system);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        choose(5);
        choose(1);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(takePromptTexts(), QStringList());
        m_window.reset();
    }

    void listColumnsKeepTheirWidths()
    {
        open();
        const QHeaderView *accounts = m_window->tsAccounts->lvAccounts->header();
        QCOMPARE(accounts->sectionSize(0), 85);
        QCOMPARE(accounts->sectionSize(1), 65);
        QCOMPARE(accounts->sectionSize(2), 110);
        choose(4);
        const QHeaderView *files = m_window->tsIgnoreAttach()->lvFiles->header();
        QCOMPARE(files->sectionSize(0), 120);
        QCOMPARE(files->sectionSize(1), 65);
        QCOMPARE(files->sectionSize(2), 65);
    }

    void aLanguageStoredAsANumberShowsTheMessageAndOpens()
    {
        writeLanguageFile("[Polski]\nAdd=&Dodaj\n");
        seed([](store::Access &a) {
            a.openOrCreate(store::kSettingsKey)->writeInteger(store::kLanguage, 3);
        });
        open();
        QCOMPARE(takePromptTexts(), QStringList{"Error reading/writing to registry"});
        QCOMPARE(m_window->tsConfiguration()->cbLang->count(), 1);
        QCOMPARE(m_window->acAddMail->text(), QStringLiteral("&Add"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
