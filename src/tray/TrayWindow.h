#pragma once

#include <QWidget>

namespace tray {

// The top-level window titled "OstroveTray" that the configuration page looks for. It is never
// shown; it exists so that its close request (WM_DELETE_WINDOW) ends the tray program.
class TrayWindow : public QWidget
{
    Q_OBJECT

public:
    explicit TrayWindow(QWidget *parent = nullptr);

signals:
    void closeRequested();

protected:
    void closeEvent(QCloseEvent *event) override;
};

} // namespace tray
