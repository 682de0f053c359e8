#include "app/Form_Ostrove.h"

#include "accounts/AccountsPage.h"
#include "app/LanguageTexts.h"
#include "configuration/ConfigurationPage.h"
#include "contract/MonitorContract.h"
#include "filters/AttachmentFilterPage.h"
#include "filters/PatternFilterPage.h"
#include "logwindow/LogWindow.h"
#include "platform/Processes.h"
#include "platform/ProfileFile.h"
#include "platform/System.h"
#include "store/RegistryAccess.h"
#include "store/RegistryPaths.h"
#include "store/Store.h"
#include "windows/Form_About.h"
#include "windows/ListHelpers.h"
#include "windows/PngImage.h"

#include <QAction>
#include <QFontMetrics>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

// Tall enough for the seven navigation items without a scroll bar, and wide enough for the
// configuration page's captions, in the fonts of Linux desktops.
constexpr QSize kWindowSize(440, 372);
// Wider than designed so that "Attachment filter" fits in the fonts of Linux desktops.
constexpr int kNavigationWidth = 106;
constexpr int kBottomBarHeight = 32;
constexpr QSize kButtonSize(75, 25);
// Places of the pages in PageControl1, and so of their navigation items.
enum PagePlace
{
    kAccountsPage,
    kMailPage,
    kSubjectPage,
    kContentPage,
    kAttachmentPage,
    kConfigurationPage,
    kLogItem
};

struct NavigationItem
{
    const char *caption;
    int image; // in the image list
};

constexpr NavigationItem kNavigation[] = {
    {"Mail accounts", 0},     {"Address filter", 1}, {"Subject filter", 6}, {"Content filter", 2},
    {"Attachment filter", 3}, {"Configuration", 5},  {"Statistics", 4},
};

// The seven 32 x 32 pictures side by side in one image, decoded once.
constexpr char kImageList[] = ":/icons/ImageList1.png";
constexpr int kImageSize = 32;

} // namespace

TfrmOstrove::TfrmOstrove(platform::System &system, QWidget *parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                              | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , m_system(system)
{
    setObjectName(QStringLiteral("frmOstrove"));
    setWindowTitle(QStringLiteral("Ostrove Configuration"));
    resize(kWindowSize);

    buildActions();
    buildNavigation();

    PageControl1 = new QStackedWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    tsAccounts = new AccountsPage(system, {acAddAccount, acEditAccount, acRemoveAccount});
    // The other pages hold places until they are built.
    PageControl1->addWidget(tsAccounts);
    for (int place = kMailPage; place <= kConfigurationPage; ++place)
        PageControl1->addWidget(new QWidget);
    PageControl1->setCurrentWidget(tsAccounts);

    auto *navigationPanel = new QFrame(this);
    navigationPanel->setFrameStyle(QFrame::Box | QFrame::Plain);
    navigationPanel->setFixedWidth(kNavigationWidth);
    auto *navigationLayout = new QVBoxLayout(navigationPanel);
    navigationLayout->setContentsMargins(1, 1, 1, 1);
    navigationLayout->addWidget(lvDodatki);

    btnAbout = new QPushButton(QStringLiteral("&About..."), this);
    btnAbout->setObjectName(QStringLiteral("btnAbout"));
    btnAbout->setFixedSize(kButtonSize);
    btnCancel = new QPushButton(QStringLiteral("&Close"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setFixedSize(kButtonSize);
    auto *bottomBar = new QWidget(this);
    bottomBar->setFixedHeight(kBottomBarHeight);
    auto *bottomLayout = new QHBoxLayout(bottomBar);
    bottomLayout->setContentsMargins(6, 4, 6, 3);
    bottomLayout->addWidget(btnAbout);
    bottomLayout->addStretch(1);
    bottomLayout->addWidget(btnCancel);

    auto *upper = new QHBoxLayout;
    upper->setSpacing(0);
    upper->addWidget(navigationPanel);
    upper->addWidget(PageControl1, 1);
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);
    auto *layout = new QVBoxLayout(client);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(upper, 1);
    layout->addWidget(bottomBar);

    setTabOrder(lvDodatki, PageControl1);
    connect(btnAbout, &QPushButton::clicked, this, &TfrmOstrove::btnAboutClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmOstrove::btnCancelClick);
    connect(PageControl1, &QStackedWidget::currentChanged, this, &TfrmOstrove::pageChanged);

    if (const QScreen *screen = this->screen()) {
        QRect centred(QPoint(), frameSize());
        centred.moveCenter(screen->availableGeometry().center());
        move(centred.topLeft());
    }
    FormCreate();
}

void TfrmOstrove::buildActions()
{
    // The window owns the actions, whose captions follow the interface language; each page
    // connects them to its own handlers.
    const auto action = [this](const char *name, const char *caption) {
        auto *created = new QAction(QLatin1String(caption), this);
        created->setObjectName(QLatin1String(name));
        return created;
    };
    acAddAccount = action("acAddAccount", "&Add");
    acEditAccount = action("acEditAccount", "&Edit");
    acRemoveAccount = action("acRemoveAccount", "&Remove");
    acAddMail = action("acAddMail", "&Add");
    acRemoveMail = action("acRemoveMail", "&Remove");
    acAddSubject = action("acAddSubject", "&Add");
    acRemoveSubject = action("acRemoveSubject", "&Remove");
    acAddContent = action("acAddContent", "&Add");
    acRemoveContent = action("acRemoveContent", "&Remove");
    acAddAttachment = action("acAddAttachment", "&Add");
    acEditAttachment = action("acEditAttachment", "&Edit");
    acRemoveAttachment = action("acRemoveAttachment", "&Remove");
}

void TfrmOstrove::buildNavigation()
{
    lvDodatki = new QListWidget(this);
    lvDodatki->setObjectName(QStringLiteral("lvDodatki"));
    lvDodatki->setViewMode(QListView::IconMode);
    lvDodatki->setIconSize(QSize(32, 32));
    lvDodatki->setFlow(QListView::TopToBottom);
    lvDodatki->setWrapping(false);
    lvDodatki->setMovement(QListView::Static);
    lvDodatki->setResizeMode(QListView::Adjust);
    lvDodatki->setGridSize(QSize(100, 47));
    lvDodatki->setFrameStyle(QFrame::NoFrame);
    lvDodatki->setSelectionMode(QAbstractItemView::SingleSelection);
    lvDodatki->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvDodatki->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QPalette colours = lvDodatki->palette();
    colours.setColor(QPalette::Base, QColor(128, 128, 128));
    colours.setColor(QPalette::Text, Qt::white);
    lvDodatki->setPalette(colours);
    const QPixmap ImageList1 = pngPixmap(QLatin1String(kImageList));
    for (const NavigationItem &entry : kNavigation) {
        const QIcon picture(ImageList1.copy(entry.image * kImageSize, 0, kImageSize, kImageSize));
        auto *item = new QListWidgetItem(picture, QLatin1String(entry.caption), lvDodatki);
        item->setTextAlignment(Qt::AlignHCenter | Qt::AlignTop);
        item->setSizeHint(lvDodatki->gridSize());
    }
    lvDodatki->installEventFilter(this);
    connect(lvDodatki, &QListWidget::itemClicked, this, &TfrmOstrove::lvDodatkiClick);
}

void TfrmOstrove::FormCreate()
{
    m_languages = platform::ProfileFile(languageFilePath()).sectionNames();
    if (m_configuration)
        m_configuration->setLanguages(m_languages);
    store::registryAccess(m_system.store, m_system.prompts, [this](store::Access &access) {
        const auto settings = access.openOrCreate(store::kSettingsKey);
        if (!settings->valueExists(store::kLanguage))
            return;
        FLanguage = settings->readString(store::kLanguage);
        // The list matches the stored name byte for byte, unlike the file's own lookups.
        if (m_configuration)
            m_configuration->selectLanguage(FLanguage);
    });
}

void TfrmOstrove::FormShow()
{
    if (isDesignedLanguage(FLanguage))
        return;
    const platform::ProfileFile file(languageFilePath());
    applyLanguage(
        file, FLanguage,
        {lvDodatki,
         {acAddAccount, acAddMail, acAddContent, acAddAttachment, acAddSubject},
         {acRemoveAccount, acRemoveMail, acRemoveContent, acRemoveAttachment, acRemoveSubject},
         {acEditAccount, acEditAttachment},
         btnAbout,
         btnCancel,
         m_configuration});
    fitNavigation();
}

void TfrmOstrove::fitNavigation()
{
    constexpr int kTextMargins = 6; // the item's own margins around its caption
    const QFontMetrics metrics(lvDodatki->font());
    const QSize grid = lvDodatki->gridSize();
    bool wraps = false;
    for (int i = 0; i < lvDodatki->count(); ++i)
        wraps =
            wraps
            || metrics.horizontalAdvance(lvDodatki->item(i)->text()) > grid.width() - kTextMargins;
    if (!wraps)
        return;
    // A caption wider than its item wraps to a second line, and the items and the window grow
    // by that line so that all seven stay in view.
    const QSize taller(grid.width(), grid.height() + metrics.lineSpacing() + 2);
    lvDodatki->setWordWrap(true);
    lvDodatki->setGridSize(taller);
    for (int i = 0; i < lvDodatki->count(); ++i)
        lvDodatki->item(i)->setSizeHint(taller);
    resize(width(), height() + lvDodatki->count() * (taller.height() - grid.height()));
}

void TfrmOstrove::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // Only the first showing loads the active page; restoring a minimised window reloads nothing.
    if (m_shownOnce)
        return;
    m_shownOnce = true;
    if (auto *page = qobject_cast<Page *>(PageControl1->currentWidget()))
        page->pageShown();
    FormShow();
}

void TfrmOstrove::pageChanged(int index)
{
    QWidget *page = builtPage(index);
    if (!m_shownOnce)
        return;
    if (auto *shown = qobject_cast<Page *>(page))
        shown->pageShown();
}

QWidget *TfrmOstrove::builtPage(int index)
{
    QWidget *page = nullptr;
    switch (index) {
    case kMailPage:
        page = tsIgnoreMail();
        break;
    case kSubjectPage:
        page = tsIgnoreSubject();
        break;
    case kContentPage:
        page = tsIgnoreContent();
        break;
    case kAttachmentPage:
        page = tsIgnoreAttach();
        break;
    case kConfigurationPage:
        page = tsConfiguration();
        break;
    default:
        page = PageControl1->widget(index);
    }
    return page;
}

namespace {

// The page of a place, built by make the first time and put where the place holder stood,
// showing it if the place was showing.
template <typename P, typename Make>
P *builtOnce(P *&page, QStackedWidget *pages, int index, const Make &make)
{
    if (page)
        return page;
    page = make();
    QWidget *holder = pages->widget(index);
    const bool showing = pages->currentIndex() == index;
    {
        // Only what a place shows changes, not which place is current.
        const QSignalBlocker quiet(pages);
        pages->insertWidget(index, page);
        pages->removeWidget(holder);
        if (showing)
            pages->setCurrentIndex(index);
    }
    delete holder;
    return page;
}

} // namespace

PatternFilterPage *TfrmOstrove::patternPage(PatternFilterPage *&page, int place,
                                            PatternFilterPage::Configuration (*configuration)(),
                                            QAction *add, QAction *remove)
{
    return builtOnce(page, PageControl1, place,
                     [&] { return new PatternFilterPage(m_system, configuration(), add, remove); });
}

PatternFilterPage *TfrmOstrove::tsIgnoreMail()
{
    return patternPage(m_ignoreMail, kMailPage, &PatternFilterPage::addressFilter, acAddMail,
                       acRemoveMail);
}

PatternFilterPage *TfrmOstrove::tsIgnoreSubject()
{
    return patternPage(m_ignoreSubject, kSubjectPage, &PatternFilterPage::subjectFilter,
                       acAddSubject, acRemoveSubject);
}

PatternFilterPage *TfrmOstrove::tsIgnoreContent()
{
    return patternPage(m_ignoreContent, kContentPage, &PatternFilterPage::contentFilter,
                       acAddContent, acRemoveContent);
}

ConfigurationPage *TfrmOstrove::tsConfiguration()
{
    return builtOnce(m_configuration, PageControl1, kConfigurationPage, [this] {
        auto *page = new ConfigurationPage(m_system);
        // What creating the window read: the languages, the stored one chosen, its captions.
        page->setLanguages(m_languages);
        page->selectLanguage(FLanguage);
        if (m_shownOnce && !isDesignedLanguage(FLanguage))
            applyLanguage(platform::ProfileFile(languageFilePath()), FLanguage, page);
        connect(page, &ConfigurationPage::languageListClosed, this, &TfrmOstrove::cbLangCloseUp);
        return page;
    });
}

AttachmentFilterPage *TfrmOstrove::tsIgnoreAttach()
{
    return builtOnce(m_ignoreAttach, PageControl1, kAttachmentPage, [this] {
        return new AttachmentFilterPage(m_system,
                                        {acAddAttachment, acEditAttachment, acRemoveAttachment});
    });
}

void TfrmOstrove::lvDodatkiClick()
{
    const QList<QListWidgetItem *> selected = lvDodatki->selectedItems();
    if (selected.isEmpty())
        return;
    const int index = lvDodatki->row(selected.first());
    if (index == kLogItem) {
        const QString log = contract::logPathFor(m_system.storePath);
        // A viewer is given a file even before the monitor's first check.
        createLogIfMissing(log);
        // Where no viewer for text starts, or one starts and fails, the log is shown in a
        // window of our own.
        m_system.processes.openDocument(log, this, [this, log](bool opened) {
            if (opened)
                return;
            auto *window = findChild<LogWindow *>();
            if (!window) {
                window = new LogWindow(log, this);
                window->setAttribute(Qt::WA_DeleteOnClose);
            }
            window->reload();
            window->show();
            window->raise();
            window->activateWindow();
        });
        return;
    }
    // The page already shown is not shown again.
    PageControl1->setCurrentWidget(builtPage(index));
}

bool TfrmOstrove::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == lvDodatki && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            lvDodatkiClick();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TfrmOstrove::keyPressEvent(QKeyEvent *event)
{
    // Outside a dialog a push button leaves Enter to its window; here Enter presses it, as
    // Space does, so that a keyboard user need not learn which key each button takes.
    const int key = event->key();
    auto *button = qobject_cast<QPushButton *>(focusWidget());
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && button && button->isEnabled()
        && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        button->click();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void TfrmOstrove::btnCancelClick()
{
    close();
}

void TfrmOstrove::btnAboutClick()
{
    TfrmAbout about;
    m_system.runModal(about);
}

void TfrmOstrove::cbLangCloseUp(const QByteArray &chosen)
{
    store::registryAccess(m_system.store, m_system.prompts, [&chosen](store::Access &access) {
        access.openOrCreate(store::kSettingsKey)->writeString(store::kLanguage, chosen);
    });
}

QString TfrmOstrove::languageFilePath() const
{
    return m_system.programFolder + QStringLiteral("/Ostrove.lng");
}

void TfrmOstrove::tsIgnoreMailShow()
{
    tsIgnoreMail()->load();
}
void TfrmOstrove::tsIgnoreSubjectShow()
{
    tsIgnoreSubject()->load();
}
void TfrmOstrove::tsIgnoreContentShow()
{
    tsIgnoreContent()->load();
}

void TfrmOstrove::acAddAccountExecute()
{
    tsAccounts->acAddAccountExecute();
}
void TfrmOstrove::acEditAccountExecute()
{
    tsAccounts->acEditAccountExecute();
}
void TfrmOstrove::acRemoveAccountExecute()
{
    tsAccounts->acRemoveAccountExecute();
}
void TfrmOstrove::acAddMailExecute()
{
    tsIgnoreMail()->addExecute();
}
void TfrmOstrove::acRemoveMailExecute()
{
    tsIgnoreMail()->removeExecute();
}
void TfrmOstrove::acAddSubjectExecute()
{
    tsIgnoreSubject()->addExecute();
}
void TfrmOstrove::acRemoveSubjectExecute()
{
    tsIgnoreSubject()->removeExecute();
}
void TfrmOstrove::acAddContentExecute()
{
    tsIgnoreContent()->addExecute();
}
void TfrmOstrove::acRemoveContentExecute()
{
    tsIgnoreContent()->removeExecute();
}
void TfrmOstrove::acAddAttachmentExecute()
{
    tsIgnoreAttach()->acAddAttachmentExecute();
}
void TfrmOstrove::acEditAttachmentExecute()
{
    tsIgnoreAttach()->acEditAttachmentExecute();
}
void TfrmOstrove::acRemoveAttachmentExecute()
{
    tsIgnoreAttach()->acRemoveAttachmentExecute();
}
