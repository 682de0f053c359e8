#include "service/KeptMail.h"

#include "mail/MailCheck.h"
#include "mail/RemovedCopies.h"
#include "mail/RemovedRecord.h"
#include "mail/SeenState.h"

#include <QFile>
#include <QSaveFile>

#include <cstdio>

namespace service {

namespace {

void print(std::FILE *stream, const QString &text)
{
    std::fputs(qPrintable(text), stream);
}

// The copies live as long as their days allow: only what is still on disk is listed.
mail::RemovedCopies copiesOf(const QString &storePath)
{
    return mail::RemovedCopies(mail::removedCopiesFolderFor(storePath), 1, 0);
}

} // namespace

int listRemoved(const QString &storePath)
{
    const mail::RemovedCopies copies = copiesOf(storePath);
    int listed = 0;
    const QList<mail::RemovedEntry> entries =
        mail::RemovedRecord(mail::removedRecordPathFor(storePath)).read();
    for (const mail::RemovedEntry &entry : entries) {
        if (copies.pathOf(entry.copy).isEmpty())
            continue;
        const QString when = entry.at.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
        print(stdout, QStringLiteral("%1  %2  %3  from %4, subject \"%5\", %6 bytes (%7: %8)%9\n")
                          .arg(entry.copy, when, entry.account, entry.sender, entry.subject)
                          .arg(entry.size)
                          .arg(entry.list, entry.pattern,
                               entry.headerOnly ? QStringLiteral(", header only") : QString()));
        ++listed;
    }
    if (listed == 0)
        print(stdout, QStringLiteral("No removed message is kept.\n"));
    return 0;
}

int saveRemoved(const QString &storePath, const QString &id, const QString &file)
{
    const QString path = copiesOf(storePath).pathOf(id);
    if (path.isEmpty()) {
        print(stderr, QStringLiteral("OstroveService: no kept message %1 (OstroveService "
                                     "--removed lists them)\n")
                          .arg(id));
        return 1;
    }
    QFile copy(path);
    QSaveFile out(file);
    // It holds a whole message: as private as the copy it comes from.
    if (!copy.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly)
        || !out.setPermissions(QFile::ReadOwner | QFile::WriteOwner)
        || out.write(copy.readAll()) != copy.size() || !out.commit()) {
        print(stderr,
              QStringLiteral("OstroveService: cannot write %1: %2\n")
                  .arg(file, out.errorString().isEmpty() ? copy.errorString() : out.errorString()));
        return 1;
    }
    print(stdout, QStringLiteral("Saved %1 to %2\n").arg(id, file));
    return 0;
}

int releaseHeld(const QString &storePath)
{
    mail::SeenState state(mail::seenStatePathFor(storePath));
    const QList<mail::SeenState::HeldRule> released = state.release();
    for (const mail::SeenState::HeldRule &rule : released) {
        print(stdout, QStringLiteral("Released %1: %2: %3 (%4 held); it removes at the next "
                                     "check\n")
                          .arg(QString::fromLocal8Bit(rule.account.split('\0').value(0)), rule.list,
                               rule.pattern, mail::countOf(rule.count, "message", "messages")));
    }
    if (released.isEmpty())
        print(stdout, QStringLiteral("No rule is held.\n"));
    return 0;
}

} // namespace service
