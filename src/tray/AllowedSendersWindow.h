#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace tray {

// Lists the senders whose mail is never removed, and adds and drops them. The tray program
// keeps one and shows it again from its menu.
class AllowedSendersWindow : public QDialog
{
    Q_OBJECT

public:
    explicit AllowedSendersWindow(QString storePath, QWidget *parent = nullptr);

    // Reads the list from the store again.
    void reload();
    void addPattern();
    void removeSelected();

    QListWidget *lbAllowed = nullptr;
    QLineEdit *edPattern = nullptr;
    QPushButton *btnAdd = nullptr;
    QPushButton *btnRemove = nullptr;
    QPushButton *btnClose = nullptr;
    QLabel *lbProblem = nullptr;

private:
    void updateButtons();

    QString m_storePath;
};

} // namespace tray
