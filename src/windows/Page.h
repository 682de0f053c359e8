#pragma once

#include <QWidget>

#include <functional>

class QAction;
class QFrame;
class QLabel;
class QVBoxLayout;

namespace platform {
struct System;
class UserPrompts;
} // namespace platform
namespace store {
class Access;
}

// The actions whose buttons a list page shows; a page without editing has no edit action.
struct PageActions
{
    QAction *add = nullptr;
    QAction *edit = nullptr;
    QAction *remove = nullptr;
};

// The frame every page of the main window shares: a grey header strip with a fixed text and a
// sunken panel below it that holds the page's own controls.
class Page : public QWidget
{
    Q_OBJECT

public:
    Page(const QString &objectName, const QString &headerText, QWidget *parent = nullptr);

    // Runs each time the page becomes the visible page.
    virtual void pageShown() = 0;

protected:
    QFrame *body() const { return m_body; }
    QVBoxLayout *bodyLayout() const { return m_bodyLayout; }

    // A 35-high strip of action buttons along the bottom of the body, kept at the right edge.
    void addButtonRow(const QList<QWidget *> &buttons);

    // One change of the page's list: runs it in one registry access and shows the list as
    // stored, also when the change failed and may have been undone whole. Messages (the
    // change's own, through held) wait until the file is free and the list is shown.
    // True when the change was written.
    bool changeThenReload(
        platform::System &system,
        const std::function<void(store::Access &, platform::UserPrompts &held)> &change);

private:
    QLabel *m_header = nullptr;
    QFrame *m_body = nullptr;
    QVBoxLayout *m_bodyLayout = nullptr;
};
