#include "accounts/Form_AddEditAccount.h"

#include "windows/DialogKeys.h"
#include "windows/LengthLimit.h"

#include <QCheckBox>
#include <QEvent>
#include <QFocusEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kFieldLimit = 100;
constexpr QSize kClientSize(272, 243);
constexpr int kButtonBarHeight = 28;
constexpr QSize kButtonSize(75, 25);

} // namespace

TfrmAddEditAccount::TfrmAddEditAccount(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
                          | Qt::WindowCloseButtonHint)
    , edEmail(new QLineEdit(this))
    , edPop3(new QLineEdit(this))
    , edLogin(new QLineEdit(this))
    , edPassword(new QLineEdit(this))
    , cbxSSL(new QCheckBox(QStringLiteral("Use secure connection (SSL)"), this))
    , btnOK(new QPushButton(QStringLiteral("&OK"), this))
    , btnCancel(new QPushButton(QStringLiteral("&Cancel"), this))
{
    setObjectName(QStringLiteral("frmAddEditAccount"));
    setWindowTitle(QStringLiteral("Mail Account"));
    setFixedSize(kClientSize);

    auto *picture = new QLabel(this);
    picture->setPixmap(QPixmap(QStringLiteral(":/icons/account.png")));
    picture->setFixedSize(32, 32);

    auto *fields = new QVBoxLayout;
    fields->setSpacing(3);
    using Count = LengthLimit::Count;
    const auto addField = [this, fields](QLineEdit *field, const char *name, const char *label,
                                         Count count) {
        field->setObjectName(QLatin1String(name));
        new LengthLimit(field, kFieldLimit, count);
        auto *caption = new QLabel(QLatin1String(label), this);
        caption->setBuddy(field);
        fields->addWidget(caption);
        fields->addWidget(field);
        fields->addSpacing(4);
        connect(field, &QLineEdit::textChanged, this, &TfrmAddEditAccount::edEmailChange);
    };
    addField(edEmail, "edEmail", "eMail", Count::Characters);
    addField(edPop3, "edPop3", "pop3 server", Count::Characters);
    addField(edLogin, "edLogin", "Login", Count::Characters);
    // The cipher keeps 100 bytes of the stored form whole, however many characters they are.
    addField(edPassword, "edPassword", "Password", Count::StoredBytes);
    edPassword->setEchoMode(QLineEdit::Password);
    edPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42")); // '*'
    cbxSSL->setObjectName(QStringLiteral("cbxSSL"));
    fields->addWidget(cbxSSL);
    fields->addStretch(1);

    auto *upper = new QFrame(this);
    upper->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    auto *upperLayout = new QHBoxLayout(upper);
    upperLayout->addWidget(picture, 0, Qt::AlignTop);
    upperLayout->addSpacing(8);
    upperLayout->addLayout(fields, 1);

    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    btnOK->setEnabled(false);
    btnOK->setFixedSize(kButtonSize);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setFixedSize(kButtonSize);
    auto *bar = new QHBoxLayout;
    bar->setContentsMargins(0, 1, 4, 2);
    bar->addStretch(1);
    bar->addWidget(btnOK);
    bar->addWidget(btnCancel);
    auto *barWidget = new QWidget(this);
    barWidget->setFixedHeight(kButtonBarHeight);
    barWidget->setLayout(bar);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(upper, 1);
    layout->addWidget(barWidget);

    setTabOrder(edEmail, edPop3);
    setTabOrder(edPop3, edLogin);
    setTabOrder(edLogin, edPassword);
    setTabOrder(edPassword, cbxSSL);
    setTabOrder(cbxSSL, btnOK);
    setTabOrder(btnOK, btnCancel);
    edEmail->setFocus();

    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    edEmail->installEventFilter(this);
    new EscapeCancels(this);
}

void TfrmAddEditAccount::edEmailChange()
{
    btnOK->setEnabled(!edEmail->text().isEmpty());
}

void TfrmAddEditAccount::edEmailExit()
{
    const QString address = edEmail->text();
    const qsizetype at = address.indexOf(QLatin1Char('@'));
    if (at < 0)
        return;
    if (edPop3->text().isEmpty())
        edPop3->setText(address.mid(at + 1));
    if (edLogin->text().isEmpty())
        edLogin->setText(address.left(at));
}

void TfrmAddEditAccount::accept()
{
    if (edEmail->hasFocus())
        edEmailExit();
    QDialog::accept();
}

bool TfrmAddEditAccount::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == edEmail && event->type() == QEvent::FocusOut) {
        // Another window or the field's own menu taking the focus does not leave the field.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            edEmailExit();
    }
    return QDialog::eventFilter(watched, event);
}
