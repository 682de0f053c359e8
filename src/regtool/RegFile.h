#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace regtool {

// The two forms of registry file: Unicode (UTF-16LE text, string data of hex(1), hex(2) and
// hex(7) in UTF-16LE) and the older 8-bit one.
enum class RegFormat
{
    Version5,
    Regedit4,
};

inline constexpr char kVersion5Header[] = "Windows Registry Editor Version 5.00";
inline constexpr char kRegedit4Header[] = "REGEDIT4";
inline constexpr char kRootName[] = "HKEY_LOCAL_MACHINE";

// The registry's own limits, which the store enforces as well; a file is checked against them
// before anything is written so that it applies whole.
inline constexpr qsizetype kMaxKeyNameBytes = 255;
inline constexpr qsizetype kMaxValueNameBytes = 16383;

// One step of a registry file, in file order. Paths are below HKEY_LOCAL_MACHINE, names joined
// by single backslashes, without outer separators; names and data are in the store's 8-bit form.
struct RegOperation
{
    enum class Kind
    {
        CreateKey,
        DeleteKey,
        SetValue,
        DeleteValue,
    };

    Kind kind = Kind::CreateKey;
    QByteArray keyPath;
    QByteArray name;
    quint32 type = 0;
    QByteArray data;
    int line = 0;

    bool operator==(const RegOperation &) const = default;
};

struct RegFile
{
    RegFormat format = RegFormat::Version5;
    QList<RegOperation> operations;
};

// Why a file was refused, and on which line (counted from 1).
struct RegError
{
    int line = 0;
    QString reason;
};

} // namespace regtool
