#include "tray/TraySettings.h"

#include "mail/MessageFacts.h"
#include "mail/RemovedCopies.h"
#include "mail/Wildcard.h"
#include "store/RegistryPaths.h"
#include "store/StoreError.h"

#include <algorithm>

namespace tray {

TraySettings::TraySettings(const QString &storePath)
    : m_store(storePath)
{}

QStringList TraySettings::allowedSenders()
{
    auto access = m_store.beginAccess();
    QStringList patterns;
    for (const QByteArray &name : access->openOrCreate(store::kAllowFilterKey)->valueNames())
        patterns.append(QString::fromLocal8Bit(name));
    access->finish();
    patterns.sort(Qt::CaseInsensitive);
    return patterns;
}

void TraySettings::allowSender(const QString &pattern)
{
    auto access = m_store.beginAccess();
    access->openOrCreate(store::kAllowFilterKey)->writeString(pattern.toLocal8Bit(), QByteArray());
    access->finish();
}

void TraySettings::forgetAllowedSender(const QString &pattern)
{
    auto access = m_store.beginAccess();
    access->openOrCreate(store::withoutTrailingSeparator(store::kAllowFilterKey))
        ->deleteValue(pattern.toLocal8Bit());
    access->finish();
}

int TraySettings::keepRemovedDays()
{
    return readNumber(store::kKeepRemovedDays, mail::RemovedCopies::kDefaultDays, kMaxKeepDays);
}

int TraySettings::keepRemovedMegabytes()
{
    return readNumber(store::kKeepRemovedMB, mail::RemovedCopies::kDefaultMegabytes,
                      kMaxKeepMegabytes);
}

void TraySettings::setKeepRemovedDays(int days)
{
    writeNumber(store::kKeepRemovedDays, days);
}

void TraySettings::setKeepRemovedMegabytes(int megabytes)
{
    writeNumber(store::kKeepRemovedMB, megabytes);
}

int TraySettings::readNumber(const char *name, int fallback, int highest)
{
    auto access = m_store.beginAccess();
    auto key = access->openOrCreate(store::kSettingsKey);
    int value = fallback;
    // Read as the monitor reads it: a damaged value is the default, a large one the highest.
    if (key->valueExists(name)) {
        try {
            value = std::clamp(key->readInteger(name), 0, highest);
        } catch (const store::StoreError &) {
            value = fallback;
        }
    }
    access->finish();
    return value;
}

void TraySettings::writeNumber(const char *name, int value)
{
    auto access = m_store.beginAccess();
    access->openOrCreate(store::kSettingsKey)->writeInteger(name, value);
    access->finish();
}

QString allowedSenderProblem(const QString &pattern)
{
    if (pattern.isEmpty())
        return QStringLiteral("Type a sender's address or a pattern with * and ?.");
    // The store would take a backslash as a step down to another key.
    if (pattern.contains(u'\\'))
        return QStringLiteral("A pattern cannot hold a backslash.");
    if (pattern.size() > kMaxAllowedSenderLength)
        return QStringLiteral("A pattern is at most %1 characters long.")
            .arg(kMaxAllowedSenderLength);
    // "*" or "*@*" would let every message through: no filter would remove anything.
    if (!mail::hasLetterOrDigit(pattern))
        return QStringLiteral("This pattern would allow every sender.");
    return {};
}

QString senderAddress(const QString &sender)
{
    QString from = sender;
    // A line break would end the field and begin another.
    from.replace(u'\r', u' ').replace(u'\n', u' ');
    const mail::MessageFacts facts =
        mail::readMessageFacts("From: " + from.toUtf8() + "\r\n\r\n", false);
    return facts.senders.isEmpty() ? QString() : facts.senders.first();
}

} // namespace tray
