#pragma once

#include "contract/MonitorContract.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace store {
class Store;
}

namespace mail {

struct AccountSettings
{
    QByteArray address; // the account's key name, as stored
    QByteArray pop3;
    QByteArray login;
    QByteArray password; // deciphered
    bool ssl = false;
    QString problem; // set when the account's values cannot be read; the account is skipped
};

struct AttachmentPattern
{
    QString pattern;
    bool hasRange = false;
    qint32 sizeFrom = 0;
    qint32 sizeTo = 0;
};

// Everything one check needs, read in one read transaction so that it is consistent.
struct MonitorSettings
{
    QList<AccountSettings> accounts;
    QStringList senderPatterns;
    QStringList subjectPatterns;
    QStringList contentPatterns;
    QList<AttachmentPattern> attachmentPatterns;
    QStringList allowedSenders; // never removed, whatever else matches
    int scanEveryMinutes = contract::kDefaultScanEvery;
    bool autorun = false;
    // How long and up to what size removed messages are kept for recovery.
    int keepRemovedDays = 30;
    int keepRemovedMegabytes = 200;
};

// For a log line after "Check failed: " and a summary: why the settings were not read.
QString settingsProblemSentence(const QString &problem);
QString noSettingsStoredIn(const QString &storePath);

// Reads the settings tree without writing anything; an empty optional and the reason when the
// store cannot be read at all.
std::optional<MonitorSettings> readMonitorSettings(store::Store &store, QString *error);
// "PATH: REASON" when the store file cannot be opened for reading by this user (or is no
// file), or that nothing is stored in it yet (it is empty); else empty. Opens nothing for
// writing and creates nothing.
QString settingsFileProblem(const QString &storePath);

} // namespace mail
