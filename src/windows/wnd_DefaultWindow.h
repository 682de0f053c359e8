#pragma once

#include <QDialog>
#include <QEvent>

class QFrame;
class QLabel;
class QPushButton;
class QVBoxLayout;

// The common frame of a dialog: a white header band with a picture, a bold title and a
// description; a footer with Cancel and OK; a thin line above it carrying the developer text.
// A derived dialog adds its controls to body(), sets the two switches and then runs FormCreate,
// which first calls InitWindow, the hook for what a dialog does once it is built.
class TfrmRODefault : public QDialog
{
    Q_OBJECT
    Q_PROPERTY(bool ROCloseOnESC MEMBER ROCloseOnESC)
    Q_PROPERTY(bool ROShowHeader MEMBER ROShowHeader)

public:
    // The messages that call the two list hooks, and the ones sent to embedded frames.
    static constexpr QEvent::Type kLoadLVDataEvent = QEvent::Type(QEvent::User + 1);
    static constexpr QEvent::Type kUpdateControlsEvent = QEvent::Type(QEvent::User + 2);
    static constexpr QEvent::Type kFrameCreatedEvent = QEvent::Type(QEvent::User + 3);
    static constexpr QEvent::Type kFrameDestroyedEvent = QEvent::Type(QEvent::User + 4);

    // A plain base dialog: runs the create handler with both switches off.
    explicit TfrmRODefault(QWidget *parent = nullptr);
    ~TfrmRODefault() override;

    bool ROCloseOnESC = false;
    bool ROShowHeader = false;

    virtual void LoadLVData() {}
    virtual void UpdateControls() {}
    virtual void InitWindow() {}

    void FormCreate();
    void FormShow();

    QFrame *pnlHeader = nullptr;
    QLabel *imgHeader = nullptr;
    QLabel *lblHeader = nullptr;
    QLabel *lblHeaderDescription = nullptr;
    QLabel *lblDeveloper = nullptr;
    QPushButton *btnCancel = nullptr;
    QPushButton *btnOk = nullptr;

protected:
    enum class DeferCreate
    {
        Yes
    };
    // For derived dialogs, which set the switches and then call FormCreate themselves.
    TfrmRODefault(DeferCreate, QWidget *parent);

    QWidget *body() const { return m_body; }

    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildLayout();
    void sendToFrames(QEvent::Type type);
    bool FormKeyPress(QKeyEvent *event);

    QWidget *m_body = nullptr;
    bool m_keysWatched = false;
};
