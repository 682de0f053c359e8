#include "regtool/TextCodec.h"

#include <windows.h>

namespace regtool {

namespace {

// Text as the registry's 8-bit calls see it: in the ANSI code page. With UTF-8 as that code
// page the conversions take no flags.
bool codePageIsUtf8()
{
    return GetACP() == CP_UTF8;
}

} // namespace

std::optional<QByteArray> storeTextToUtf16le(const QByteArray &text)
{
    if (text.isEmpty())
        return QByteArray();
    const int units = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.constData(),
                                          int(text.size()), nullptr, 0);
    if (units <= 0)
        return std::nullopt;
    QByteArray wide(qsizetype(units) * 2, '\0');
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.constData(), int(text.size()),
                        reinterpret_cast<wchar_t *>(wide.data()), units);
    // Some code pages map two byte sequences to one character: only a way back to the very
    // same bytes keeps them.
    const auto back = utf16leToStoreText(wide);
    if (!back || *back != text)
        return std::nullopt;
    return wide;
}

QByteArray checkedStoreTextToUtf16le(const QByteArray &text)
{
    return storeTextToUtf16le(text).value_or(QByteArray());
}

QByteArray ansiToStoreText(const QByteArray &text)
{
    return text;
}

std::optional<QByteArray> utf16leToStoreText(const QByteArray &data)
{
    if (data.size() % 2 != 0)
        return std::nullopt;
    if (data.isEmpty())
        return QByteArray();
    const auto *wide = reinterpret_cast<const wchar_t *>(data.constData());
    const int units = int(data.size() / 2);
    const bool utf8 = codePageIsUtf8();
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL *usedDefaultPointer = utf8 ? nullptr : &usedDefault;
    const int bytes =
        WideCharToMultiByte(CP_ACP, flags, wide, units, nullptr, 0, nullptr, usedDefaultPointer);
    // A character the code page lacks would come out as "?".
    if (bytes <= 0 || usedDefault)
        return std::nullopt;
    QByteArray text(bytes, '\0');
    WideCharToMultiByte(CP_ACP, flags, wide, units, text.data(), bytes, nullptr, nullptr);
    return text;
}

} // namespace regtool
