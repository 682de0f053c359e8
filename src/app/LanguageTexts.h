#pragma once

#include <QByteArray>

class QAction;
class QListWidget;
class QPushButton;
class ConfigurationPage;

namespace platform {
class ProfileFile;
}

// The 26 captions of the main window that an interface language replaces, read in a fixed
// order from the language's section of Ostrove.lng, each with its default text.
struct LanguageTargets
{
    QListWidget *navigation;
    QAction *addActions[5];    // account, mail, content, attachment, subject
    QAction *removeActions[5]; // in the same order
    QAction *editActions[2];   // account, attachment
    QPushButton *about;
    QPushButton *close;
    ConfigurationPage *configuration; // none while the page is not built
};

void applyLanguage(const platform::ProfileFile &file, const QByteArray &language,
                   const LanguageTargets &targets);
// The configuration page's five captions alone, for a page built after the others were applied.
void applyLanguage(const platform::ProfileFile &file, const QByteArray &language,
                   ConfigurationPage *page);

// Languages whose texts are the designed captions: nothing to apply.
bool isDesignedLanguage(const QByteArray &language);
