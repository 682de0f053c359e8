#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <algorithm>

// Every key path and value name the program and the monitor share.
namespace store {

inline constexpr char kSettingsKey[] = "\\Software\\Zel Software\\Ostrove";
inline constexpr char kAccountsKey[] = "\\Software\\Zel Software\\Ostrove\\Accounts\\";
inline constexpr char kAttachmentsKey[] = "\\Software\\Zel Software\\Ostrove\\Attachments\\";
inline constexpr char kMailFilterKey[] = "\\Software\\Zel Software\\Ostrove\\MailFilter\\";
inline constexpr char kSubjectFilterKey[] = "\\Software\\Zel Software\\Ostrove\\SubjectFilter\\";
inline constexpr char kContentFilterKey[] = "\\Software\\Zel Software\\Ostrove\\ContentFilter\\";
// Read by the monitor programs only (older readers pass them over).
inline constexpr char kAllowFilterKey[] = "\\Software\\Zel Software\\Ostrove\\AllowFilter\\";
inline constexpr char kRunKey[] = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

inline constexpr char kScanEvery[] = "ScanEvery";
inline constexpr char kLanguage[] = "Language";
inline constexpr char kPop3[] = "Pop3";
inline constexpr char kLogin[] = "Login";
inline constexpr char kPassword[] = "Password";
inline constexpr char kSsl[] = "SSL";
inline constexpr char kSizeFrom[] = "SizeFrom";
inline constexpr char kSizeTo[] = "SizeTo";
inline constexpr char kAutorunValue[] = "OstroveTray";
inline constexpr char kKeepRemovedDays[] = "KeepRemovedDays";
inline constexpr char kKeepRemovedMB[] = "KeepRemovedMB";

// The path of one subkey of a list key (kAccountsKey, kAttachmentsKey), made in one allocation.
inline QByteArray subkeyPath(const char *listKey, QByteArrayView name)
{
    const QByteArrayView parent(listKey);
    QByteArray path(parent.size() + name.size(), Qt::Uninitialized);
    std::copy(parent.begin(), parent.end(), path.begin());
    std::copy(name.begin(), name.end(), path.begin() + parent.size());
    return path;
}

inline QByteArray accountPath(QByteArrayView address)
{
    return subkeyPath(kAccountsKey, address);
}

inline QByteArray attachmentPath(QByteArrayView pattern)
{
    return subkeyPath(kAttachmentsKey, pattern);
}

// The same key without its trailing separator; the store treats both forms alike.
inline QByteArray withoutTrailingSeparator(const char *path)
{
    QByteArray result(path);
    while (result.endsWith('\\'))
        result.chop(1);
    return result;
}

} // namespace store
