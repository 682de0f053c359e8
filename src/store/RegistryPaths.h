#pragma once

#include <QByteArray>

// Every key path and value name the program and the monitor share.
namespace store {

inline constexpr char kSettingsKey[] = "\\Software\\Zel Software\\Ostrove";
inline constexpr char kAccountsKey[] = "\\Software\\Zel Software\\Ostrove\\Accounts\\";
inline constexpr char kAttachmentsKey[] = "\\Software\\Zel Software\\Ostrove\\Attachments\\";
inline constexpr char kMailFilterKey[] = "\\Software\\Zel Software\\Ostrove\\MailFilter\\";
inline constexpr char kSubjectFilterKey[] = "\\Software\\Zel Software\\Ostrove\\SubjectFilter\\";
inline constexpr char kContentFilterKey[] = "\\Software\\Zel Software\\Ostrove\\ContentFilter\\";
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

// The same key without its trailing separator; the store treats both forms alike.
inline QByteArray withoutTrailingSeparator(const char *path)
{
    QByteArray result(path);
    while (result.endsWith('\\'))
        result.chop(1);
    return result;
}

} // namespace store
