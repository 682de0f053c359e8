#include "app/LanguageTexts.h"

#include "configuration/ConfigurationPage.h"
#include "contract/MonitorContract.h"
#include "platform/ProfileFile.h"
#include "windows/ActionButton.h"
#include "windows/ListHelpers.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>

namespace {

constexpr const char *kNavigationKeys[7][2] = {{"MailAccounts", "Mail accounts"},
                                               {"AddressFilter", "Address filter"},
                                               {"SubjectFilter", "Subject filter"},
                                               {"ContentFilter", "Content filter"},
                                               {"AttachmentFilter", "Attachment filter"},
                                               {"Configuration", "Configuration"},
                                               {"Statistics", "Statistics"}};

} // namespace

bool isDesignedLanguage(const QByteArray &language)
{
    return language.isEmpty() || language == "English";
}

void applyLanguage(const platform::ProfileFile &file, const QByteArray &language,
                   const LanguageTargets &targets)
{
    const auto text = [&file, &language](const char *key, const char *defaultText) {
        return fromStored(file.readString(language, key, defaultText));
    };
    for (int i = 0; i < 7; ++i) {
        targets.navigation->item(i)->setText(text(kNavigationKeys[i][0], kNavigationKeys[i][1]));
    }
    for (QAction *action : targets.addActions)
        action->setText(text("Add", "Add"));
    for (QAction *action : targets.removeActions)
        action->setText(text("Remove", "Remove"));
    for (QAction *action : targets.editActions)
        action->setText(text("Edit", "Edit"));
    targets.about->setText(text("About", "About"));
    targets.close->setText(text("Close", "Close"));
    if (targets.configuration)
        applyLanguage(file, language, targets.configuration);
    fitCaption(targets.about);
    fitCaption(targets.close);
}

void applyLanguage(const platform::ProfileFile &file, const QByteArray &language,
                   ConfigurationPage *page)
{
    const auto text = [&file, &language](const char *key, const char *defaultText) {
        return fromStored(file.readString(language, key, defaultText));
    };
    page->rgService->setText(text("RunAsService", configuration::kRunAsServiceCaption));
    page->rbTray->setText(text("RunAsTray", configuration::kRunAsTrayCaption));
    page->Label5->setText(text("Language", "Language"));
    page->cbxAutorun->setText(text("Autorun", configuration::kAutorunCaption));
    page->Label9->setText(text("CheckMailEvery", "Check mailbox every"));
    page->fitCaptions();
}
