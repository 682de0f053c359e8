#pragma once

#include <QWidget>

class QFrame;
class QLabel;
class QVBoxLayout;

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

private:
    QLabel *m_header = nullptr;
    QFrame *m_body = nullptr;
    QVBoxLayout *m_bodyLayout = nullptr;
};
