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
    ConfigurationPage *configuration;
};

void applyLanguage(const platform::ProfileFile &file, const QByteArray &language,
                   const LanguageTargets &targets);

// Languages whose texts are the designed captions: nothing to apply.
bool isDesignedLanguage(const QByteArray &language);
