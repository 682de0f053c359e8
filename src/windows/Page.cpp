#include "windows/Page.h"

#include "platform/System.h"
#include "store/RegistryAccess.h"
#include "windows/ActionButton.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kHeaderHeight = 13;
constexpr int kBodyBorder = 4;
constexpr int kButtonRowHeight = 35;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;

} // namespace

Page::Page(const QString &objectName, const QString &headerText, QWidget *parent)
    : QWidget(parent)
    , m_header(new QLabel(headerText, this))
    , m_body(new QFrame(this))
    , m_bodyLayout(new QVBoxLayout(m_body))
{
    setObjectName(objectName);

    m_header->setObjectName(QStringLiteral("header"));
    m_header->setFixedHeight(kHeaderHeight + 3);
    m_header->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_header->setAutoFillBackground(true);
    QPalette headerColours = m_header->palette();
    headerColours.setColor(QPalette::Window, QColor(128, 128, 128));
    headerColours.setColor(QPalette::WindowText, Qt::white);
    m_header->setPalette(headerColours);

    m_body->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    m_bodyLayout->setContentsMargins(kBodyBorder, kBodyBorder, kBodyBorder, 0);
    m_bodyLayout->setSpacing(0);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_header);
    layout->addWidget(m_body, 1);
}

void Page::addButtonRow(const QList<QWidget *> &buttons)
{
    auto *row = new QWidget(m_body);
    row->setFixedHeight(kButtonRowHeight);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 5, 0, 5);
    layout->addStretch(1);
    for (QWidget *button : buttons) {
        button->setParent(row);
        button->setFixedSize(kButtonWidth, kButtonHeight);
        // A page built after the interface language was applied starts with its captions.
        if (auto *push = qobject_cast<QPushButton *>(button))
            fitCaption(push);
        layout->addWidget(button);
    }
    m_bodyLayout->addWidget(row);
}

bool Page::changeThenReload(
    platform::System &system,
    const std::function<void(store::Access &, platform::UserPrompts &held)> &change)
{
    store::MessageHold hold(system.store, system.prompts);
    const bool written =
        store::registryAccess(system.store, system.prompts, [&](store::Access &access) {
            change(access, hold);
            pageShown();
        });
    // A change that failed may have been undone whole, the reload inside it included.
    if (!written)
        pageShown();
    return written;
}
