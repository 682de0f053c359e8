#pragma once

#include "filters/PatternFilterPage.h"

#include <QMainWindow>

class AccountsPage;
class AttachmentFilterPage;
class ConfigurationPage;
class QAction;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QStackedWidget;

namespace platform {
struct System;
}

// The one main window: the navigation list on the left, the six pages on the right, About and
// Close below. Built once by main with the system's parts; every page writes its changes at
// once, so closing saves nothing. A main window, so that assistive technology announces it as a
// window.
class TfrmOstrove : public QMainWindow
{
    Q_OBJECT

public:
    explicit TfrmOstrove(platform::System &system, QWidget *parent = nullptr);

    void FormCreate();
    void FormShow();
    void lvDodatkiClick();
    void btnCancelClick();
    void btnAboutClick();
    // Stores the language chosen when the configuration page's list closes.
    void cbLangCloseUp(const QByteArray &chosen);

    // The three pattern pages are one class; their show handlers by name.
    void tsIgnoreMailShow();
    void tsIgnoreSubjectShow();
    void tsIgnoreContentShow();

    void acAddAccountExecute();
    void acEditAccountExecute();
    void acRemoveAccountExecute();
    void acAddMailExecute();
    void acRemoveMailExecute();
    void acAddSubjectExecute();
    void acRemoveSubjectExecute();
    void acAddContentExecute();
    void acRemoveContentExecute();
    void acAddAttachmentExecute();
    void acEditAttachmentExecute();
    void acRemoveAttachmentExecute();

    QListWidget *lvDodatki = nullptr;
    QStackedWidget *PageControl1 = nullptr;
    AccountsPage *tsAccounts = nullptr;
    // The other pages are built when first shown or asked for: most starts show only the
    // accounts.
    ConfigurationPage *tsConfiguration();
    PatternFilterPage *tsIgnoreMail();
    PatternFilterPage *tsIgnoreSubject();
    PatternFilterPage *tsIgnoreContent();
    AttachmentFilterPage *tsIgnoreAttach();
    QPushButton *btnAbout = nullptr;
    QPushButton *btnCancel = nullptr;

    QAction *acAddAccount = nullptr;
    QAction *acEditAccount = nullptr;
    QAction *acRemoveAccount = nullptr;
    QAction *acAddMail = nullptr;
    QAction *acRemoveMail = nullptr;
    QAction *acAddSubject = nullptr;
    QAction *acRemoveSubject = nullptr;
    QAction *acAddContent = nullptr;
    QAction *acRemoveContent = nullptr;
    QAction *acAddAttachment = nullptr;
    QAction *acEditAttachment = nullptr;
    QAction *acRemoveAttachment = nullptr;

    QByteArray language() const { return FLanguage; }

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void buildActions();
    void buildNavigation();
    void pageChanged(int index);
    // The page at a place of PageControl1, built first if it is not yet.
    QWidget *builtPage(int index);
    PatternFilterPage *patternPage(PatternFilterPage *&page, int place,
                                   PatternFilterPage::Configuration (*configuration)(),
                                   QAction *add, QAction *remove);
    void fitNavigation();
    QString languageFilePath() const;

    platform::System &m_system;
    PatternFilterPage *m_ignoreMail = nullptr;
    PatternFilterPage *m_ignoreSubject = nullptr;
    PatternFilterPage *m_ignoreContent = nullptr;
    AttachmentFilterPage *m_ignoreAttach = nullptr;
    ConfigurationPage *m_configuration = nullptr;
    // The language file's languages, for the configuration page's list once it is built.
    QList<QByteArray> m_languages;
    QByteArray FLanguage;
    bool m_shownOnce = false;
};
