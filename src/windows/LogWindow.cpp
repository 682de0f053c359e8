#include "windows/LogWindow.h"

#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kInitialWidth = 820;
constexpr int kInitialHeight = 480;

// The end of the file; `cut` tells whether its start was left out.
QByteArray tail(const QString &path, qint64 maxBytes, bool *cut)
{
    *cut = false;
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {};
    QByteArray data;
    struct stat info
    {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        if (info.st_size > maxBytes) {
            ::lseek(fd, info.st_size - maxBytes, SEEK_SET);
            *cut = true;
        }
        char buffer[65536];
        while (data.size() < maxBytes) {
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got <= 0)
                break;
            data.append(buffer, got);
        }
    }
    ::close(fd);
    // A line begun before the cut is no line to read.
    if (*cut) {
        const qsizetype newline = data.indexOf('\n');
        data.remove(0, newline < 0 ? data.size() : newline + 1);
    }
    return data;
}

} // namespace

LogWindow::LogWindow(QString path, QWidget *parent)
    : QDialog(parent)
    , lbCut(new QLabel(this))
    , edLog(new QPlainTextEdit(this))
    , btnClose(new QPushButton(QStringLiteral("&Close"), this))
    , m_path(std::move(path))
{
    setObjectName(QStringLiteral("frmLog"));
    setWindowTitle(QStringLiteral("Ostrove.log"));
    lbCut->setObjectName(QStringLiteral("lbCut"));
    edLog->setObjectName(QStringLiteral("edLog"));
    edLog->setReadOnly(true);
    edLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    edLog->setAccessibleName(QStringLiteral("Log"));
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setDefault(true);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnClose);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lbCut);
    layout->addWidget(edLog, 1);
    layout->addLayout(buttons);
    resize(kInitialWidth, kInitialHeight);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
    reload();
}

void LogWindow::reload()
{
    bool cut = false;
    edLog->setPlainText(QString::fromUtf8(tail(m_path, kMaxShownBytes, &cut)));
    lbCut->setText(cut ? QStringLiteral("The log is long: only its last megabyte is shown.")
                       : QString());
    lbCut->setVisible(cut);
    // The newest lines are the ones looked for.
    edLog->moveCursor(QTextCursor::End);
    edLog->ensureCursorVisible();
}

bool createLogIfMissing(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0)
        return false;
    struct stat info
    {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    return regular;
}
