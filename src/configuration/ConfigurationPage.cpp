#include "configuration/ConfigurationPage.h"

#include "contract/MonitorContract.h"
#include "platform/Processes.h"
#include "platform/ServiceManager.h"
#include "platform/System.h"
#include "platform/TopLevelWindows.h"
#include "store/RegistryAccess.h"
#include "store/RegistryPaths.h"
#include "store/Store.h"
#include "store/StoreError.h"
#include "windows/CloseUpComboBox.h"
#include "windows/ListHelpers.h"
#include "windows/WholeNumberField.h"

#include <QCheckBox>
#include <QEvent>
#include <QFile>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QVBoxLayout>

#include <optional>

namespace {

// The window does not answer while a service start or stop is awaited; say so with the cursor.
class WaitCursor
{
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

// The stored interval, if there is one that reads as a number.
std::optional<qint32> storedInterval(store::RegistryKey &settings)
{
    if (!settings.valueExists(store::kScanEvery))
        return std::nullopt;
    try {
        return settings.readInteger(store::kScanEvery);
    } catch (const store::StoreError &) {
        return std::nullopt; // not a number: the write replaces it
    }
}

// The notes below the service buttons run across the page, as wide as it is.
constexpr int kNotesLeft = 15;
constexpr int kNotesRight = 8;
constexpr int kNotesTop = 80;
constexpr int kNoteGap = 4;

// The log's last check (the service's, in service mode): when it began, to the minute, and
// its outcome without the seconds it took, so that it takes two lines of the page, not three.
QString lastCheckInLog(const QString &logPath)
{
    QFile log(logPath);
    if (!log.open(QIODevice::ReadOnly))
        return {};
    // The log's end holds the last check; it may be a mebibyte long.
    constexpr qint64 kTailBytes = 64 * 1024;
    if (log.size() > kTailBytes)
        log.seek(log.size() - kTailBytes);
    const QList<QByteArray> lines = log.readAll().split('\n');
    static const QRegularExpression check(
        QStringLiteral("^(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d):\\d\\d Check (ends|failed): (.*?)( "
                       "in [0-9.]+ s)?$"));
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        const QRegularExpressionMatch found = check.match(QString::fromUtf8(*line).trimmed());
        if (!found.hasMatch())
            continue;
        return found.captured(2) == QLatin1String("ends")
                   ? QStringLiteral("Last check %1: %2").arg(found.captured(1), found.captured(3))
                   : QStringLiteral("Last check %1 failed: %2")
                         .arg(found.captured(1), found.captured(3));
    }
    return {};
}

QFrame *separator(QWidget *parent, const QRect &geometry)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(geometry);
    return line;
}

} // namespace

ConfigurationPage::ConfigurationPage(platform::System &system, QWidget *parent)
    : Page(QStringLiteral("tsConfiguration"), QStringLiteral(" Settings"), parent)
    , m_system(system)
    , m_services(system.services)
{
    QWidget *panel = new QWidget(body());
    panel->setObjectName(QStringLiteral("Panel11"));
    bodyLayout()->addWidget(panel, 1);
    m_panel = panel;

    const auto button = [panel](const char *name, const char *caption, int x, int y) {
        auto *created = new QPushButton(QLatin1String(caption), panel);
        created->setObjectName(QLatin1String(name));
        created->setGeometry(x, y, 75, 22);
        return created;
    };

    rgService = new QRadioButton(QLatin1String(configuration::kRunAsServiceCaption), panel);
    rgService->setObjectName(QStringLiteral("rgService"));
    rgService->setGeometry(7, 11, 290, 17);
    btnInstallService = button("btnInstallService", "Install", 45, 30);
    btnUninstallService = button("btnUninstallService", "Uninstall", 128, 30);
    btnStartService = button("btnStartService", "Start", 45, 54);
    btnStopService = button("btnStopService", "Stop", 128, 54);
    lblServiceStatus = new QLabel(panel);
    lblServiceStatus->setObjectName(QStringLiteral("lblServiceStatus"));
    lblServiceCheck = new QLabel(panel);
    lblServiceCheck->setObjectName(QStringLiteral("lblServiceCheck"));
    for (QLabel *note : {lblServiceStatus, lblServiceCheck}) {
        note->setWordWrap(true);
        note->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        note->setTextInteractionFlags(Qt::TextSelectableByMouse);
        note->hide();
    }
    QFrame *serviceEnd = separator(panel, QRect(15, 79, 250, 5));
    rbTray = new QRadioButton(QLatin1String(configuration::kRunAsTrayCaption), panel);
    rbTray->setObjectName(QStringLiteral("rbTray"));
    rbTray->setGeometry(7, 91, 290, 17);
    btnStartTray = button("btnStartTray", "Start", 45, 110);
    btnStopTray = button("btnStopTray", "Stop", 128, 110);
    cbxAutorun = new QCheckBox(QLatin1String(configuration::kAutorunCaption), panel);
    cbxAutorun->setObjectName(QStringLiteral("cbxAutorun"));
    cbxAutorun->setGeometry(45, 136, 230, 17);
    QFrame *trayEnd = separator(panel, QRect(15, 160, 250, 5));

    Label9 = new QLabel(QStringLiteral("Check mailbox every"), panel);
    Label9->setObjectName(QStringLiteral("Label9"));
    Label9->move(15, 177);
    Label9->adjustSize();
    seEvery = new WholeNumberField(panel);
    seEvery->setObjectName(QStringLiteral("seEvery"));
    seEvery->setBounds(contract::kMinScanEvery, contract::kMaxScanEvery);
    seEvery->setValue(contract::kDefaultScanEvery);
    Label9->setBuddy(seEvery);
    m_minutes = new QLabel(QStringLiteral("min."), panel);
    m_minutes->setObjectName(QStringLiteral("Label10"));

    Label5 = new QLabel(QStringLiteral("Language"), panel);
    Label5->setObjectName(QStringLiteral("Label5"));
    Label5->move(15, 213);
    Label5->adjustSize();
    cbLang = new CloseUpComboBox(panel);
    cbLang->setObjectName(QStringLiteral("cbLang"));
    Label5->setBuddy(cbLang);
    for (QWidget *below : std::initializer_list<QWidget *>{
             serviceEnd, rbTray, btnStartTray, btnStopTray, cbxAutorun, trayEnd, Label9, Label5})
        m_belowNotes.append({below, below->y()});
    panel->installEventFilter(this);
    connect(cbLang, &CloseUpComboBox::closedUp, this, [this] {
        Q_EMIT languageListClosed(cbLang->currentIndex() >= 0 ? cbLang->currentData().toByteArray()
                                                              : QByteArray());
    });
    placeFields();

    setTabOrder(rgService, rbTray);
    setTabOrder(rbTray, btnInstallService);
    setTabOrder(btnInstallService, btnUninstallService);
    setTabOrder(btnUninstallService, btnStartService);
    setTabOrder(btnStartService, btnStopService);
    setTabOrder(btnStopService, btnStartTray);
    setTabOrder(btnStartTray, btnStopTray);
    setTabOrder(btnStopTray, cbxAutorun);
    setTabOrder(cbxAutorun, seEvery);
    setTabOrder(seEvery, cbLang);

    // At every start the tray mode is chosen and the service buttons wait for the service mode.
    rbTray->setChecked(true);
    for (QPushButton *serviceButton :
         {btnInstallService, btnUninstallService, btnStartService, btnStopService})
        serviceButton->setEnabled(false);

    connect(rgService, &QRadioButton::toggled, this, &ConfigurationPage::rgServiceClick);
    connect(seEvery, &WholeNumberField::textChanged, this, &ConfigurationPage::seEveryChange);
    connect(btnInstallService, &QPushButton::clicked, this,
            &ConfigurationPage::btnInstallServiceClick);
    connect(btnUninstallService, &QPushButton::clicked, this,
            &ConfigurationPage::btnUninstallServiceClick);
    connect(btnStartService, &QPushButton::clicked, this, &ConfigurationPage::btnStartServiceClick);
    connect(btnStopService, &QPushButton::clicked, this, &ConfigurationPage::btnStopServiceClick);
    connect(btnStartTray, &QPushButton::clicked, this, &ConfigurationPage::btnStartTrayClick);
    connect(btnStopTray, &QPushButton::clicked, this, &ConfigurationPage::btnStopTrayClick);
    connect(cbxAutorun, &QCheckBox::clicked, this, &ConfigurationPage::cbxAutorunClick);
}

ConfigurationPage::~ConfigurationPage()
{
    // The interval field loses the focus while the page is torn down and may correct its
    // number then; that change must not reach a page that is already half gone.
    seEvery->disconnect(this);
}

void ConfigurationPage::setLanguages(const QList<QByteArray> &names)
{
    cbLang->clear();
    for (const QByteArray &name : names)
        cbLang->addItem(fromStored(name), name);
    if (cbLang->count() > 0)
        cbLang->setCurrentIndex(0);
}

bool ConfigurationPage::selectLanguage(const QByteArray &name)
{
    for (int i = 0; i < cbLang->count(); ++i) {
        if (cbLang->itemData(i).toByteArray() == name) {
            cbLang->setCurrentIndex(i);
            return true;
        }
    }
    return false;
}

void ConfigurationPage::fitCaptions()
{
    for (QWidget *caption : std::initializer_list<QWidget *>{rgService, rbTray, cbxAutorun})
        caption->resize(qMax(caption->width(), caption->sizeHint().width()), caption->height());
    Label9->adjustSize();
    Label5->adjustSize();
    placeFields();
}

void ConfigurationPage::placeFields()
{
    // After their labels, however wide the font or the language makes them.
    const int fieldLeft = qMax(125, Label9->geometry().right() + 6);
    seEvery->setGeometry(fieldLeft, 174 + m_notesHeight, 60, 23);
    m_minutes->setGeometry(fieldLeft + 64, 177 + m_notesHeight, 40, 17);
    cbLang->setGeometry(qMax(74, Label5->geometry().right() + 6), 211 + m_notesHeight, 145, 23);
}

bool ConfigurationPage::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_panel && event->type() == QEvent::Resize)
        placeServiceNotes();
    return Page::eventFilter(watched, event);
}

void ConfigurationPage::setServiceStatus(const QString &text)
{
    lblServiceStatus->setText(text);
    lblServiceStatus->setToolTip(text);
    placeServiceNotes();
}

void ConfigurationPage::showServiceNotes(bool service)
{
    QStringList notes;
    if (service && m_services.isServiceCapableSystem()
        && m_services.IsServiceInstalled(contract::kServiceName)) {
        const QString lastCheck = lastCheckInLog(contract::logPathFor(m_system.storePath));
        notes.append(
            lastCheck.isEmpty()
                ? QStringLiteral("No check in %1 yet.").arg(QLatin1String(contract::kLogFile))
                : lastCheck);
        if (const QString lifetime = m_services.lifetimeNote(); !lifetime.isEmpty())
            notes.append(lifetime);
    }
    lblServiceCheck->setText(notes.join(u'\n'));
    lblServiceCheck->setToolTip(lblServiceCheck->text());
    placeServiceNotes();
}

void ConfigurationPage::placeServiceNotes()
{
    const int width = qMax(0, m_panel->width() - kNotesLeft - kNotesRight);
    int bottom = kNotesTop;
    for (QLabel *note : {lblServiceStatus, lblServiceCheck}) {
        note->setVisible(!note->text().isEmpty());
        if (note->text().isEmpty())
            continue;
        const int height = note->heightForWidth(width);
        note->setGeometry(kNotesLeft, bottom, width, height);
        bottom += height + kNoteGap;
    }
    m_notesHeight = bottom - kNotesTop;
    for (const auto &[widget, top] : std::as_const(m_belowNotes))
        widget->move(widget->x(), top + m_notesHeight);
    placeFields();
    // Where a large font needs more than the window has, the window grows: nothing is cut.
    m_panel->setMinimumHeight(cbLang->geometry().bottom() + kNoteGap);
}

bool ConfigurationPage::trayWindowExists()
{
    return m_system.windows.exists(QLatin1String(contract::kTrayWindowTitle));
}

void ConfigurationPage::tsConfigurationShow()
{
    const bool trayRuns = trayWindowExists();
    btnStartTray->setEnabled(!trayRuns);
    btnStopTray->setEnabled(trayRuns);
    // The service may have checked since the page was last shown.
    if (rgService->isChecked())
        showServiceNotes(true);

    store::registryAccess(m_system.store, m_system.prompts, [this](store::Access &access) {
        const auto settings = access.openOrCreate(store::kSettingsKey);
        // A stored number outside 1 to 200 is shown at the nearest bound, and that change of
        // the field writes the bound back.
        if (settings->valueExists(store::kScanEvery))
            seEvery->setValue(settings->readInteger(store::kScanEvery));
        const auto run = access.openExisting(store::kRunKey);
        cbxAutorun->setChecked(run->isOpen() && run->valueExists(store::kAutorunValue));
    });
}

void ConfigurationPage::rgServiceClick()
{
    const bool service = rgService->isChecked();
    const QByteArray name(contract::kServiceName);
    // Each condition stops at its first deciding term: tray mode asks the service manager
    // nothing, service mode never looks for the tray window.
    btnInstallService->setEnabled(service && !m_services.IsServiceInstalled(name)
                                  && m_services.isServiceCapableSystem());
    btnUninstallService->setEnabled(service && m_services.IsServiceInstalled(name)
                                    && m_services.isServiceCapableSystem());
    btnStartService->setEnabled(service && m_services.IsServiceInstalled(name)
                                && m_services.GetServiceState(name)
                                       != platform::ServiceManager::kRunning);
    btnStopService->setEnabled(service && m_services.IsServiceInstalled(name)
                               && m_services.GetServiceState(name)
                                      == platform::ServiceManager::kRunning);
    btnStartTray->setEnabled(!service && !trayWindowExists());
    btnStopTray->setEnabled(!service && trayWindowExists());
    cbxAutorun->setEnabled(!service);
    // Said in service mode only, where the person is about to use it.
    setServiceStatus(service && !m_services.isServiceCapableSystem()
                         ? m_services.unavailableReason()
                         : QString());
    showServiceNotes(service);
}

void ConfigurationPage::seEveryChange()
{
    const qint32 minutes = seEvery->value();
    store::registryAccess(m_system.store, m_system.prompts, [minutes](store::Access &access) {
        const auto settings = access.openOrCreate(store::kSettingsKey);
        // Writing back what is stored changes nothing, and would fail for a user who may only
        // read the settings.
        if (storedInterval(*settings) == minutes)
            return;
        settings->writeInteger(store::kScanEvery, minutes);
    });
}

void ConfigurationPage::btnInstallServiceClick()
{
    btnInstallService->setEnabled(false);
    btnUninstallService->setEnabled(true);
    btnStartService->setEnabled(true);
    btnStopService->setEnabled(false);
    m_system.processes.startDetached(contract::serviceProgramPath(m_system.programFolder),
                                     contract::kInstallSwitches);
}

void ConfigurationPage::btnUninstallServiceClick()
{
    btnInstallService->setEnabled(true);
    btnUninstallService->setEnabled(false);
    btnStartService->setEnabled(false);
    btnStopService->setEnabled(false);
    const QByteArray name(contract::kServiceName);
    if (m_services.IsServiceInstalled(name)
        && m_services.GetServiceState(name) == platform::ServiceManager::kRunning) {
        const WaitCursor waiting;
        m_services.StopServiceAndWait(name);
    }
    m_system.processes.startDetached(contract::serviceProgramPath(m_system.programFolder),
                                     contract::kUninstallSwitches);
}

void ConfigurationPage::btnStartServiceClick()
{
    bool started = false;
    {
        const WaitCursor waiting;
        started = m_services.StartServiceAndWait(contract::kServiceName);
    }
    setServiceStatus(started ? QString() : m_services.startFailureHint(contract::kServiceName));
    if (started) {
        btnStopService->setEnabled(true);
        btnStartService->setEnabled(false);
    }
}

void ConfigurationPage::btnStopServiceClick()
{
    bool stopped = false;
    {
        const WaitCursor waiting;
        stopped = m_services.StopServiceAndWait(contract::kServiceName);
    }
    setServiceStatus(stopped ? QString()
                             : QStringLiteral("%1 did not stop in time.")
                                   .arg(QLatin1String(contract::kServiceName)));
    if (stopped) {
        btnStopService->setEnabled(false);
        btnStartService->setEnabled(true);
    }
}

void ConfigurationPage::btnStartTrayClick()
{
    btnStartTray->setEnabled(false);
    btnStopTray->setEnabled(true);
    // Not awaited and not checked: the next showing of the page tells whether it runs.
    m_system.processes.openProgram(contract::trayProgramPath(m_system.programFolder));
}

void ConfigurationPage::btnStopTrayClick()
{
    btnStartTray->setEnabled(true);
    btnStopTray->setEnabled(false);
    m_system.windows.requestClose(QLatin1String(contract::kTrayWindowTitle));
}

void ConfigurationPage::cbxAutorunClick()
{
    const bool on = cbxAutorun->isChecked();
    const QByteArray trayPath = toStored(contract::trayProgramPath(m_system.programFolder));
    const bool stored = store::registryAccess(
        m_system.store, m_system.prompts, [on, &trayPath](store::Access &access) {
            const auto run = access.openOrCreate(store::kRunKey);
            if (on)
                run->writeString(store::kAutorunValue, trayPath);
            else
                run->deleteValue(store::kAutorunValue);
        });
    // The box tells what is stored, so a refused change takes the tick back.
    if (!stored)
        cbxAutorun->setChecked(!on);
}
