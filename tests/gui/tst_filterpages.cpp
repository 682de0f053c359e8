#include "WidgetTest.h"
#include "filters/AttachmentFilterPage.h"
#include "filters/Form_AddEditAttachment.h"
#include "filters/PatternFilterPage.h"
#include "store/RegistryPaths.h"
#include "store/Store.h"
#include "windows/WholeNumberField.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

namespace {

WidgetTestSystem::DialogStep enterPattern(const QString &text)
{
    return [=](QDialog &dialog) {
        auto &entry = dynamic_cast<FilterEntryDialog &>(dialog);
        typeInto(entry.field(), text);
        entry.btnOK->click();
    };
}

WidgetTestSystem::DialogStep enterAttachment(const QString &name,
                                             const std::optional<QPair<QString, QString>> &sizes)
{
    return [=](QDialog &dialog) {
        auto &entry = dynamic_cast<TfrmAddEditAttachment &>(dialog);
        if (!name.isEmpty())
            typeInto(entry.edFileName, name);
        entry.cbxSize->setChecked(sizes.has_value());
        if (sizes) {
            entry.seSizeFrom->setText(sizes->first);
            entry.seSizeTo->setText(sizes->second);
        }
        entry.btnOK->click();
    };
}

QByteArray patternKey(const QByteArray &pattern)
{
    return QByteArray(store::kAttachmentsKey) + pattern;
}

} // namespace

class TestFilterPages : public WidgetTest
{
    Q_OBJECT

private:
    QAction m_add{QStringLiteral("&Add")};
    QAction m_edit{QStringLiteral("&Edit")};
    QAction m_remove{QStringLiteral("&Remove")};

    static QStringList lines(const QListWidget *list)
    {
        QStringList result;
        for (int i = 0; i < list->count(); ++i)
            result.append(list->item(i)->text());
        return result;
    }
    static QStringList row(const QTreeWidget *list, int index)
    {
        const QTreeWidgetItem *item = list->topLevelItem(index);
        return {item->text(0), item->text(1), item->text(2)};
    }

private slots:
    void addStoresTheTextAsAnEmptyString_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QByteArray>("key");
        QTest::newRow("address") << 0 << QByteArray(store::kMailFilterKey);
        QTest::newRow("subject") << 1 << QByteArray(store::kSubjectFilterKey);
        QTest::newRow("content") << 2 << QByteArray(store::kContentFilterKey);
    }
    void addStoresTheTextAsAnEmptyString()
    {
        QFETCH(int, page);
        QFETCH(QByteArray, key);
        const PatternFilterPage::Configuration configurations[] = {
            PatternFilterPage::addressFilter(), PatternFilterPage::subjectFilter(),
            PatternFilterPage::contentFilter()};
        PatternFilterPage filter(t->system, configurations[page], &m_add, &m_remove);
        filter.load();

        const QString longest(100, QLatin1Char('x'));
        scriptDialogs({enterPattern(QStringLiteral(" *Casino* ")), enterPattern(longest),
                       enterPattern(QStringLiteral("*")), enterPattern(QStringLiteral("ćma"))});
        for (int i = 0; i < 4; ++i)
            filter.addExecute();

        const StoreReader reader(t->storePath);
        const QList<QByteArray> expected{" *Casino* ", longest.toLatin1(), "*", "ćma"};
        QCOMPARE(reader.valueNames(key), expected);
        for (const QByteArray &name : expected) {
            QCOMPARE(reader.value(key, name)->type, 1);
            QCOMPARE(reader.value(key, name)->data, QByteArray(1, '\0'));
        }
        QCOMPARE(lines(filter.list()).size(), 4);
        QVERIFY(filter.list()->selectedItems().isEmpty());
        QCOMPARE(takePromptTexts(), QStringList());
    }

    void addRefusesAnEqualTextInAnyCaseButNotAPrefix()
    {
        PatternFilterPage filter(t->system, PatternFilterPage::subjectFilter(), &m_add, &m_remove);
        filter.load();
        scriptDialogs({enterPattern(QStringLiteral("Viagra")),
                       enterPattern(QStringLiteral("VIAGRA")), enterPattern(QStringLiteral("Viag")),
                       enterPattern(QStringLiteral("ŻÓŁW")), enterPattern(QStringLiteral("żółw"))});
        for (int i = 0; i < 5; ++i)
            filter.addExecute();
        QCOMPARE(StoreReader(t->storePath).valueNames(store::kSubjectFilterKey),
                 (QList<QByteArray>{"Viagra", "Viag", "ŻÓŁW"}));
        QCOMPARE(takePromptTexts(), QStringList());
    }

    // The store folds case itself, so a second write of an equal name would leave the same list
    // and even the same file bytes behind; only counting the writes shows whether the page wrote.
    void anEqualPatternInOtherLettersIsNeverWritten_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("typed");
        QTest::newRow("address") << 0 << QByteArray(store::kMailFilterKey) << "*@Spam.example"
                                 << "*@sPAM.EXAMPLE";
        QTest::newRow("subject") << 1 << QByteArray(store::kSubjectFilterKey) << "Viagra"
                                 << "VIAGRA";
        QTest::newRow("content") << 2 << QByteArray(store::kContentFilterKey) << "żółw"
                                 << "ŻÓŁW";
    }
    void anEqualPatternInOtherLettersIsNeverWritten()
    {
        QFETCH(int, page);
        QFETCH(QByteArray, key);
        QFETCH(QString, stored);
        QFETCH(QString, typed);
        const PatternFilterPage::Configuration configurations[] = {
            PatternFilterPage::addressFilter(), PatternFilterPage::subjectFilter(),
            PatternFilterPage::contentFilter()};
        seed([&](store::Access &a) { a.openOrCreate(key)->writeString(stored.toUtf8(), {}); });
        PatternFilterPage filter(t->system, configurations[page], &m_add, &m_remove);
        filter.load();
        const StoreWriteCounter counter(t->storePath);

        scriptDialogs({enterPattern(typed)});
        filter.addExecute();

        QCOMPARE(counter.writes(), 0);
        QCOMPARE(StoreReader(t->storePath).valueNames(key), QList<QByteArray>{stored.toUtf8()});
        QCOMPARE(lines(filter.list()), QStringList{stored});
        QCOMPARE(takePromptTexts(), QStringList());
    }

    void theListsAreIndependent()
    {
        PatternFilterPage subject(t->system, PatternFilterPage::subjectFilter(), &m_add, &m_remove);
        PatternFilterPage content(t->system, PatternFilterPage::contentFilter(), &m_add, &m_remove);
        scriptDialogs({enterPattern(QStringLiteral("same")), enterPattern(QStringLiteral("same"))});
        subject.addExecute();
        content.addExecute();
        QCOMPARE(lines(subject.list()), QStringList{"same"});
        QCOMPARE(lines(content.list()), QStringList{"same"});
    }

    void aFailedCommitListsWhatIsStored()
    {
        seed([](store::Access &a) {
            a.openOrCreate(store::kSubjectFilterKey)->writeString("kept", {});
            a.openOrCreate(QByteArray(store::kAttachmentsKey) + "kept.zip");
        });
        store::SqliteStore quick(t->storePath, {200, {}, false});
        platform::System system{quick,       t->prompts,       t->processes,      t->windows,
                                t->services, t->folder.path(), t->system.runModal};
        PatternFilterPage subject(system, PatternFilterPage::subjectFilter(), &m_add, &m_remove);
        AttachmentFilterPage attachments(system, {&m_add, &m_edit, &m_remove});
        subject.load();
        attachments.tsIgnoreAttachShow();
        scriptDialogs(
            {enterPattern(QStringLiteral("new")), enterPattern(QStringLiteral("new.zip"))});
        {
            const ReaderInTheWay reader(t->storePath);
            subject.addExecute();
            attachments.acAddAttachmentExecute();
        }
        QCOMPARE(takePromptTexts(), QStringList(2, "Error reading/writing to registry"));
        QCOMPARE(lines(subject.list()), QStringList{"kept"});
        QCOMPARE(attachments.lvFiles->topLevelItemCount(), 1);
        QCOMPARE(row(attachments.lvFiles, 0).first(), QStringLiteral("kept.zip"));
        const StoreReader reader(t->storePath);
        QCOMPARE(reader.valueNames(store::kSubjectFilterKey), QList<QByteArray>{"kept"});
        QCOMPARE(reader.subkeys(store::kAttachmentsKey), QList<QByteArray>{"kept.zip"});
    }

    void aLongPatternInAnotherScriptIsAccepted()
    {
        AttachmentFilterPage attachments(t->system, {&m_add, &m_edit, &m_remove});
        attachments.tsIgnoreAttachShow();
        const QString pattern = QString(QChar(0x6587)).repeated(89) + QStringLiteral("*");
        scriptDialogs({enterPattern(pattern)});
        attachments.acAddAttachmentExecute();
        QCOMPARE(takePromptTexts(), QStringList());
        QCOMPARE(StoreReader(t->storePath).subkeys(store::kAttachmentsKey),
                 QList<QByteArray>{pattern.toUtf8()});
        QCOMPARE(row(attachments.lvFiles, 0).first(), pattern);
    }

    void removeAsksWithThePageText()
    {
        seed([](store::Access &a) {
            const auto key = a.openOrCreate(store::kMailFilterKey);
            key->writeString("*@spam.example", {});
            key->writeString("other", "data that is never read");
            key->writeInteger("odd type", 7);
        });
        PatternFilterPage filter(t->system, PatternFilterPage::addressFilter(), &m_add, &m_remove);
        filter.load();
        QCOMPARE(lines(filter.list()), (QStringList{"*@spam.example", "other", "odd type"}));

        filter.removeExecute(); // nothing selected: nothing asked
        QCOMPARE(takePromptTexts(), QStringList());

        filter.list()->setCurrentRow(2);
        answerPrompts({platform::Answer::No, platform::Answer::Yes});
        filter.removeExecute();
        const QList<platform::Prompt> asked = takePrompts();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked.first().text, QStringLiteral("Remove selected eMail?"));
        QCOMPARE(asked.first().caption, QStringLiteral("Remove"));
        QCOMPARE(lines(filter.list()).size(), 3);
        filter.list()->setCurrentRow(2);
        filter.removeExecute();
        filter.list()->setCurrentRow(1);
        answerPrompts({platform::Answer::Yes});
        filter.removeExecute();
        QCOMPARE(takePromptTexts(), QStringList(2, "Remove selected eMail?"));
        QCOMPARE(StoreReader(t->storePath).valueNames(store::kMailFilterKey),
                 QList<QByteArray>{"*@spam.example"});
        QCOMPARE(lines(filter.list()), QStringList{"*@spam.example"});

        PatternFilterPage subject(t->system, PatternFilterPage::subjectFilter(), &m_add, &m_remove);
        seed([](store::Access &a) {
            a.openOrCreate(store::kSubjectFilterKey)->writeString("w", {});
        });
        subject.load();
        subject.list()->setCurrentRow(0);
        answerPrompts({platform::Answer::No});
        subject.removeExecute();
        QCOMPARE(takePromptTexts(), QStringList{"Remove selected value?"});
    }

    void attachmentAddStoresTheSizeRange()
    {
        AttachmentFilterPage page(t->system, {&m_add, &m_edit, &m_remove});
        page.tsIgnoreAttachShow();
        scriptDialogs(
            {enterAttachment(QStringLiteral("*.zip"), std::nullopt),
             enterAttachment(QStringLiteral("*.exe"), QPair<QString, QString>("0", "0")),
             enterAttachment(QStringLiteral("doc*.zip"), QPair<QString, QString>("500", "-1"))});
        for (int i = 0; i < 3; ++i)
            page.acAddAttachmentExecute();

        const StoreReader reader(t->storePath);
        QCOMPARE(reader.subkeys(store::kAttachmentsKey),
                 (QList<QByteArray>{"*.exe", "*.zip", "doc*.zip"}));
        QVERIFY(reader.valueNames(patternKey("*.zip")).isEmpty());
        QCOMPARE(reader.dword(patternKey("*.exe"), "SizeFrom"), 0);
        QCOMPARE(reader.dword(patternKey("*.exe"), "SizeTo"), 0);
        QCOMPARE(reader.value(patternKey("doc*.zip"), "SizeTo")->data,
                 QByteArray("\xFF\xFF\xFF\xFF", 4));
        QCOMPARE(row(page.lvFiles, 0), (QStringList{"*.exe", "0 kB", "0 kB"}));
        QCOMPARE(row(page.lvFiles, 1), (QStringList{"*.zip", "", ""}));
        QCOMPARE(row(page.lvFiles, 2), (QStringList{"doc*.zip", "500 kB", "-1 kB"}));
        QVERIFY(page.lvFiles->topLevelItem(2)->textAlignment(1) & Qt::AlignRight);
    }

    void attachmentAddRefusesOnlyAnEqualPattern()
    {
        AttachmentFilterPage page(t->system, {&m_add, &m_edit, &m_remove});
        page.tsIgnoreAttachShow();
        scriptDialogs({enterAttachment(QStringLiteral("*.zip"), std::nullopt),
                       enterAttachment(QStringLiteral("*.ZIP"), QPair<QString, QString>("1", "2")),
                       enterAttachment(QStringLiteral("*.zi"), std::nullopt),
                       enterAttachment(QStringLiteral("*.zipx"), std::nullopt)});
        for (int i = 0; i < 4; ++i)
            page.acAddAttachmentExecute();
        const StoreReader reader(t->storePath);
        QCOMPARE(reader.subkeys(store::kAttachmentsKey),
                 (QList<QByteArray>{"*.zi", "*.zip", "*.zipx"}));
        QVERIFY(reader.valueNames(patternKey("*.zip")).isEmpty());
        QCOMPARE(takePromptTexts(), QStringList());
    }

    void attachmentAddRefusesABackslash()
    {
        AttachmentFilterPage page(t->system, {&m_add, &m_edit, &m_remove});
        scriptDialogs({enterAttachment(QStringLiteral("dir\\*.zip"), std::nullopt)});
        page.acAddAttachmentExecute();
        QCOMPARE(takePromptTexts(), QStringList{"A file name pattern cannot contain a backslash "
                                                "(\\). The pattern was not added."});
        QVERIFY(StoreReader(t->storePath).subkeys(store::kAttachmentsKey).isEmpty());
    }

    void attachmentEditLoadsAndRewritesTheRange()
    {
        seed([](store::Access &a) {
            const auto key = a.openOrCreate(patternKey("*.pif"));
            key->writeInteger("SizeFrom", -5);
            key->writeInteger("SizeTo", 7);
        });
        AttachmentFilterPage page(t->system, {&m_add, &m_edit, &m_remove});
        page.tsIgnoreAttachShow();
        page.lvFiles->setCurrentItem(page.lvFiles->topLevelItem(0));
        scriptDialogs({[](QDialog &dialog) {
            auto &entry = dynamic_cast<TfrmAddEditAttachment &>(dialog);
            QVERIFY(!entry.edFileName->isEnabled());
            QCOMPARE(entry.edFileName->text(), QStringLiteral("*.pif"));
            QVERIFY(entry.btnOK->isEnabled());
            QVERIFY(entry.cbxSize->isChecked());
            QVERIFY(entry.seSizeFrom->isEnabled());
            QCOMPARE(entry.seSizeFrom->value(), -5);
            QCOMPARE(entry.seSizeTo->value(), 7);
            entry.cbxSize->setChecked(false);
            entry.btnOK->click();
        }});
        page.acEditAttachmentExecute();
        QCOMPARE(t->dialogsShown, 1);
        QVERIFY(StoreReader(t->storePath).valueNames(patternKey("*.pif")).isEmpty());
        QCOMPARE(row(page.lvFiles, 0), (QStringList{"*.pif", "", ""}));
    }

    void attachmentEditWithHalfARangeShowsTheMessageThenTheDialog()
    {
        seed([](store::Access &a) {
            a.openOrCreate(patternKey("*.scr"))->writeInteger("SizeFrom", 3);
        });
        AttachmentFilterPage page(t->system, {&m_add, &m_edit, &m_remove});
        page.tsIgnoreAttachShow();
        QCOMPARE(row(page.lvFiles, 0), (QStringList{"*.scr", "3 kB", ""}));
        page.lvFiles->setCurrentItem(page.lvFiles->topLevelItem(0));
        scriptDialogs({[this](QDialog &dialog) {
            QCOMPARE(takePromptTexts(), QStringList{"Error reading/writing to registry"});
            auto &entry = dynamic_cast<TfrmAddEditAttachment &>(dialog);
            QCOMPARE(entry.seSizeFrom->value(), 3);
            QVERIFY(!entry.cbxSize->isChecked());
            entry.btnOK->click();
        }});
        page.acEditAttachmentExecute();
        QVERIFY(StoreReader(t->storePath).valueNames(patternKey("*.scr")).isEmpty());
    }

    // The sizes fill the columns from the left, as the list appends them: a range with only its
    // upper bound stored shows that bound in the first size column.
    void anUpperBoundAloneIsListedInTheFirstSizeColumn()
    {
        seed([](store::Access &a) {
            a.openOrCreate(patternKey("*.doc"))->writeInteger("SizeTo", 9);
        });
        AttachmentFilterPage page(t->system, {&m_add, &m_edit, &m_remove});
        page.tsIgnoreAttachShow();
        QCOMPARE(row(page.lvFiles, 0), (QStringList{"*.doc", "9 kB", ""}));
        QCOMPARE(takePromptTexts(), QStringList());
    }

    void attachmentLoadStopsAtASizeOfTheWrongType()
    {
        seed([](store::Access &a) {
            a.openOrCreate(patternKey("a"))->writeInteger("SizeFrom", 1);
            a.openOrCreate(patternKey("a"))->writeInteger("SizeTo", 2);
            a.openOrCreate(patternKey("b"))->writeInteger("SizeFrom", 3);
            a.openOrCreate(patternKey("b"))->writeString("SizeTo", "4");
            a.openOrCreate(patternKey("c"));
        });
        AttachmentFilterPage page(t->system, {&m_add, &m_edit, &m_remove});
        page.tsIgnoreAttachShow();
        QCOMPARE(takePromptTexts(), QStringList{"Error reading/writing to registry"});
        QCOMPARE(page.lvFiles->topLevelItemCount(), 2);
        QCOMPARE(row(page.lvFiles, 1), (QStringList{"b", "3 kB", ""}));
    }

    void attachmentRemoveTakesTheWholeKey()
    {
        seed([](store::Access &a) {
            a.openOrCreate(patternKey("*.zip"))->writeInteger("SizeFrom", 1);
            a.openOrCreate(patternKey("*.zip"))->writeInteger("SizeTo", 2);
        });
        AttachmentFilterPage page(t->system, {&m_add, &m_edit, &m_remove});
        page.tsIgnoreAttachShow();
        page.acRemoveAttachmentExecute();
        QCOMPARE(takePromptTexts(), QStringList());
        page.lvFiles->setCurrentItem(page.lvFiles->topLevelItem(0));
        answerPrompts({platform::Answer::Yes});
        page.acRemoveAttachmentExecute();
        QCOMPARE(takePromptTexts(), QStringList{"Remove selected value?"});
        QVERIFY(StoreReader(t->storePath).subkeys(store::kAttachmentsKey).isEmpty());
        QCOMPARE(page.lvFiles->topLevelItemCount(), 0);
    }

    void aReadOnlyStoreRefusesAnAttachmentWithoutSizes()
    {
        seed([](store::Access &a) { a.openOrCreate(store::kAttachmentsKey); });
        store::SqliteStore readOnly(t->storePath, {5000, {}, true});
        platform::System system{readOnly,    t->prompts,       t->processes,      t->windows,
                                t->services, t->folder.path(), t->system.runModal};
        AttachmentFilterPage page(system, {&m_add, &m_edit, &m_remove});
        scriptDialogs({enterAttachment(QStringLiteral("*.zip"), std::nullopt)});
        page.acAddAttachmentExecute();
        QCOMPARE(takePromptTexts(), QStringList{"Error reading/writing to registry"});
    }
};

QTEST_MAIN(TestFilterPages)
#include "tst_filterpages.moc"
