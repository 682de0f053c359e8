#include "windows/Form_About.h"

#include "windows/PngImage.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr QSize kClientSize(279, 261);
constexpr int kFieldLimit = 200;

} // namespace

TfrmAbout::TfrmAbout(QWidget *parent)
    : TfrmRODefault(DeferCreate::Yes, parent)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About"));
    setFixedSize(kClientSize);
    lblHeader->setText(QStringLiteral("About"));
    lblHeaderDescription->setText(QStringLiteral("About author."));

    btnOk->hide();
    btnCancel->setText(QStringLiteral("&Close"));
    btnCancel->setIcon(QIcon());
    btnCancel->setFixedWidth(75);
    btnCancel->setDefault(true);
    disconnect(btnCancel, &QPushButton::clicked, this, nullptr);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmAbout::btnCancelClick);

    auto *panel = new QFrame(body());
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    auto *bodyLayout = new QVBoxLayout(body());
    bodyLayout->setContentsMargins(0, 0, 0, 0);
    bodyLayout->addWidget(panel);

    auto *image = new QLabel(panel);
    image->setObjectName(QStringLiteral("Image1"));
    image->setPixmap(pngPixmap(QStringLiteral(":/icons/AppLogo.png")));
    image->setGeometry(14, 17, 32, 32);

    const auto field = [panel](const char *name, const char *label, const QString &text, int y,
                               int width) {
        auto *edit = new QLineEdit(text, panel);
        edit->setObjectName(QLatin1String(name));
        edit->setReadOnly(true);
        edit->setMaxLength(kFieldLimit);
        edit->setFocusPolicy(Qt::ClickFocus); // the Tab key passes these fields by
        edit->setBackgroundRole(QPalette::Button);
        QPalette faces = edit->palette();
        faces.setColor(QPalette::Base, faces.color(QPalette::Button));
        edit->setPalette(faces);
        edit->setGeometry(68, y, width, 21);
        edit->setCursorPosition(0);
        auto *caption = new QLabel(QLatin1String(label), panel);
        caption->setBuddy(edit);
        caption->adjustSize();
        caption->move(68, y - 3 - caption->height());
        return edit;
    };
    edFirma = field("edFirma", "Author", QStringLiteral("Zel Software"), 29, 173);
    edWWW = field("edWWW", "WWW", QStringLiteral("https://ostrove.zel-software.example"), 76, 172);
    edMail = field("edMail", "EMail", QStringLiteral("ostrove@zel-software.example"), 124, 174);

    ROCloseOnESC = true;
    ROShowHeader = true;
    FormCreate();
}

void TfrmAbout::btnCancelClick()
{
    reject();
}
