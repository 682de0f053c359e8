#pragma once

#include "platform/ServiceControl.h"
#include "windows/Page.h"

class CloseUpComboBox;
class QCheckBox;
class QLabel;
class QPushButton;
class QRadioButton;
class WholeNumberField;

namespace platform {
struct System;
}

namespace configuration {

// The captions that name the system the monitor runs on, also the defaults when a language lacks
// them: a Windows build keeps the designed ones, elsewhere they say what the build does there.
#ifdef Q_OS_WIN
inline constexpr char kRunAsServiceCaption[] = "Run as Windows Service (Windows NT/2000/XP)";
inline constexpr char kRunAsTrayCaption[] = "Run as tray icon (Windows 98/ME/NT/2000/XP)";
inline constexpr char kAutorunCaption[] = "Autorun on Windows startup";
#else
inline constexpr char kRunAsServiceCaption[] = "Run as system service";
inline constexpr char kRunAsTrayCaption[] = "Run as tray icon";
inline constexpr char kAutorunCaption[] = "Start with the desktop session";
#endif

} // namespace configuration

// The monitor's general settings and its controls: the run mode (kept nowhere, it only decides
// which buttons can be used), the service and tray buttons, autorun, the check interval and the
// interface language list.
class ConfigurationPage : public Page
{
    Q_OBJECT

public:
    explicit ConfigurationPage(platform::System &system, QWidget *parent = nullptr);
    ~ConfigurationPage() override;

    void pageShown() override { tsConfigurationShow(); }

    void tsConfigurationShow();
    void rgServiceClick();
    void seEveryChange();

    void btnInstallServiceClick();
    void btnUninstallServiceClick();
    void btnStartServiceClick();
    void btnStopServiceClick();
    void btnStartTrayClick();
    void btnStopTrayClick();
    void cbxAutorunClick();

    // Sizes the captions to their texts once the interface language has replaced them.
    void fitCaptions();

    // The interface languages, as the language file names them in its order; the first is
    // chosen until selectLanguage finds another.
    void setLanguages(const QList<QByteArray> &names);
    // Chooses the first language whose name is equal byte for byte; false when there is none.
    bool selectLanguage(const QByteArray &name);

Q_SIGNALS:
    // Every time the language list closes, picked or not: the name chosen, empty with no list.
    void languageListClosed(const QByteArray &chosen);

public:
    QRadioButton *rgService = nullptr;
    QRadioButton *rbTray = nullptr;
    QPushButton *btnInstallService = nullptr;
    QPushButton *btnUninstallService = nullptr;
    QPushButton *btnStartService = nullptr;
    QPushButton *btnStopService = nullptr;
    QPushButton *btnStartTray = nullptr;
    QPushButton *btnStopTray = nullptr;
    QCheckBox *cbxAutorun = nullptr;
    QLabel *Label9 = nullptr;
    WholeNumberField *seEvery = nullptr;
    QLabel *Label5 = nullptr;
    CloseUpComboBox *cbLang = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool trayWindowExists();
    void placeFields();
    void setServiceStatus(const QString &text);
    void showServiceNotes(bool service);
    void placeServiceNotes();

    QWidget *m_panel = nullptr;
    QLabel *m_minutes = nullptr;
    // Below the service buttons, wrapped to the page's width: why a service action cannot
    // work, where the system says; then the service's last check and how long it lives.
    QLabel *lblServiceStatus = nullptr;
    QLabel *lblServiceCheck = nullptr;
    // What the notes push down, with where each stands without them.
    QList<QPair<QWidget *, int>> m_belowNotes;
    int m_notesHeight = 0;
    platform::System &m_system;
    platform::ServiceControl m_services;
};
