#pragma once

#include "windows/Page.h"

#include <functional>
#include <memory>

class FilterEntryDialog;
class QAction;
class QListWidget;

namespace platform {
struct System;
}

// One list of text patterns kept as the value names of one key: the address, subject and
// content filter pages are this class, each with its own configuration.
class PatternFilterPage : public Page
{
    Q_OBJECT

public:
    struct Configuration
    {
        const char *pageName;
        const char *headerText;
        const char *listName;
        const char *key; // with its trailing separator; removal opens it without
        const char *removeQuestion;
        std::function<std::unique_ptr<FilterEntryDialog>()> makeDialog;
    };

    static Configuration addressFilter();
    static Configuration subjectFilter();
    static Configuration contentFilter();

    // The page's buttons show the actions, and the actions run the page's handlers.
    PatternFilterPage(platform::System &system, Configuration configuration, QAction *add,
                      QAction *remove, QWidget *parent = nullptr);

    void pageShown() override { load(); }

    void load();
    void addExecute();
    void removeExecute();

    QListWidget *list() const { return m_list; }

private:
    platform::System &m_system;
    Configuration m_configuration;
    QListWidget *m_list = nullptr;
};
