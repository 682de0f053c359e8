#include "windows/wnd_DefaultWindow.h"

#include "platform/VersionInfo.h"

#include <QCoreApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr QSize kClientSize(443, 279);
constexpr int kHeaderHeight = 50;
constexpr int kPictureWidth = 77;
constexpr int kTitleHeight = 20;
constexpr int kTitleAloneHeight = 48;
constexpr int kFooterHeight = 28;
constexpr int kSeparatorHeight = 15;
constexpr QSize kFooterButton(118, 26);

// Embedded frames are marked with this property and told when their dialog comes and goes.
constexpr char kFrameProperty[] = "roFrame";

} // namespace

TfrmRODefault::TfrmRODefault(QWidget *parent)
    : TfrmRODefault(DeferCreate::Yes, parent)
{
    FormCreate();
}

TfrmRODefault::TfrmRODefault(DeferCreate, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    buildLayout();
    // A constructor reaches only this class's own; derived dialogs set up in their constructors.
    TfrmRODefault::InitWindow();
    sendToFrames(kFrameCreatedEvent);
}

TfrmRODefault::~TfrmRODefault()
{
    sendToFrames(kFrameDestroyedEvent);
}

void TfrmRODefault::buildLayout()
{
    setObjectName(QStringLiteral("frmRODefault"));
    setWindowTitle(QStringLiteral("RODefaultWindow"));
    setFixedSize(kClientSize);

    pnlHeader = new QFrame(this);
    pnlHeader->setObjectName(QStringLiteral("pnlHeader"));
    pnlHeader->setFixedHeight(kHeaderHeight);
    pnlHeader->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    pnlHeader->setAutoFillBackground(true);
    QPalette white = pnlHeader->palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::WindowText, Qt::black);
    pnlHeader->setPalette(white);

    imgHeader = new QLabel(pnlHeader);
    imgHeader->setObjectName(QStringLiteral("imgHeader"));
    imgHeader->setFixedWidth(kPictureWidth);
    imgHeader->setAlignment(Qt::AlignCenter);
    lblHeader = new QLabel(QStringLiteral("Naglowek"), pnlHeader);
    lblHeader->setObjectName(QStringLiteral("lblHeader"));
    lblHeader->setFixedHeight(kTitleHeight);
    lblHeader->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QFont bold = lblHeader->font();
    bold.setBold(true);
    lblHeader->setFont(bold);
    lblHeaderDescription = new QLabel(pnlHeader);
    lblHeaderDescription->setObjectName(QStringLiteral("lblHeaderDescription"));
    lblHeaderDescription->setWordWrap(true);
    lblHeaderDescription->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    auto *labels = new QVBoxLayout;
    labels->setContentsMargins(0, 0, 0, 0);
    labels->setSpacing(0);
    labels->addWidget(lblHeader);
    auto *description = new QHBoxLayout;
    description->setContentsMargins(18, 0, 0, 0);
    description->addWidget(lblHeaderDescription);
    labels->addLayout(description, 1);
    auto *headerLayout = new QHBoxLayout(pnlHeader);
    headerLayout->setContentsMargins(1, 1, 1, 1);
    headerLayout->setSpacing(0);
    headerLayout->addWidget(imgHeader);
    headerLayout->addLayout(labels, 1);

    m_body = new QWidget(this);
    m_body->setObjectName(QStringLiteral("body"));

    auto *separatorStrip = new QWidget(this);
    separatorStrip->setObjectName(QStringLiteral("pnlSecondBkg"));
    separatorStrip->setFixedHeight(kSeparatorHeight);
    auto *line = new QFrame(separatorStrip);
    line->setObjectName(QStringLiteral("Bevel1"));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    lblDeveloper = new QLabel(separatorStrip);
    lblDeveloper->setObjectName(QStringLiteral("lblDeveloper"));
    lblDeveloper->setEnabled(false);
    lblDeveloper->setAutoFillBackground(true);
    auto *separatorLayout = new QHBoxLayout(separatorStrip);
    separatorLayout->setContentsMargins(5, 0, 5, 0);
    separatorLayout->addWidget(line, 1);
    lblDeveloper->move(20, 1);

    // Made first so that it comes first in the tab order and has the focus when the dialog
    // opens: setTabOrder alone does not reorder the two in Qt 6.4.
    btnOk = new QPushButton(QIcon(QStringLiteral(":/icons/ok.png")),
                            QStringLiteral("&Zapisz i zamknij"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setFixedSize(kFooterButton);
    btnCancel = new QPushButton(QIcon(QStringLiteral(":/icons/cancel.png")),
                                QStringLiteral("&Anuluj"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setFixedSize(kFooterButton);
    auto *footer = new QWidget(this);
    footer->setObjectName(QStringLiteral("pnlFooter"));
    footer->setFixedHeight(kFooterHeight);
    auto *footerLayout = new QHBoxLayout(footer);
    footerLayout->setContentsMargins(0, 1, 3, 1);
    footerLayout->addStretch(1);
    footerLayout->addWidget(btnCancel);
    footerLayout->addWidget(btnOk);
    setTabOrder(btnOk, btnCancel);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(pnlHeader);
    layout->addWidget(m_body, 1);
    layout->addWidget(separatorStrip);
    layout->addWidget(footer);

    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
}

void TfrmRODefault::FormCreate()
{
    if (imgHeader && imgHeader->pixmap().isNull())
        imgHeader->setPixmap(QPixmap(QStringLiteral(":/icons/AppLogo.png"))); // failure ignored
    lblDeveloper->setText(QLatin1Char(' ') + platform::companyName() + QLatin1Char(' '));
    lblDeveloper->adjustSize();
    lblDeveloper->raise();
    if (!ROShowHeader) {
        delete pnlHeader;
        pnlHeader = nullptr;
        imgHeader = nullptr;
        lblHeader = nullptr;
        lblHeaderDescription = nullptr;
    }
}

void TfrmRODefault::FormShow()
{
    if (lblHeader)
        lblHeader->setFixedHeight(lblHeaderDescription->text().isEmpty() ? kTitleAloneHeight
                                                                         : kTitleHeight);
}

void TfrmRODefault::showEvent(QShowEvent *event)
{
    if (!m_keysWatched) {
        // The dialog sees every key before its controls, also those a derived dialog added.
        m_keysWatched = true;
        for (QWidget *child : findChildren<QWidget *>())
            child->installEventFilter(this);
    }
    FormShow();
    QDialog::showEvent(event);
}

bool TfrmRODefault::event(QEvent *event)
{
    if (event->type() == kLoadLVDataEvent) {
        LoadLVData();
        return true;
    }
    if (event->type() == kUpdateControlsEvent) {
        UpdateControls();
        return true;
    }
    return QDialog::event(event);
}

bool TfrmRODefault::FormKeyPress(QKeyEvent *event)
{
    if (!ROCloseOnESC || event->key() != Qt::Key_Escape)
        return false;
    reject();
    return true;
}

void TfrmRODefault::keyPressEvent(QKeyEvent *event)
{
    if (FormKeyPress(event))
        return;
    // Without the switch Escape is not the base's to handle: it does not close the dialog.
    if (event->key() == Qt::Key_Escape) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool TfrmRODefault::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && FormKeyPress(static_cast<QKeyEvent *>(event)))
        return true;
    return QDialog::eventFilter(watched, event);
}

void TfrmRODefault::sendToFrames(QEvent::Type type)
{
    for (QWidget *child : findChildren<QWidget *>()) {
        if (child->property(kFrameProperty).toBool()) {
            QEvent message(type);
            QCoreApplication::sendEvent(child, &message);
        }
    }
}
