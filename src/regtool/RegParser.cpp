#include "regtool/RegParser.h"

#include "regtool/TextCodec.h"
#include "store/Store.h"

#include <QString>

#include <algorithm>

namespace regtool {

namespace {

// Roots a Windows file may name; all but HKEY_LOCAL_MACHINE are refused.
constexpr const char *kOtherRoots[] = {
    "HKEY_CLASSES_ROOT",   "HKEY_CURRENT_USER",     "HKEY_USERS",
    "HKEY_CURRENT_CONFIG", "HKEY_PERFORMANCE_DATA", "HKEY_DYN_DATA"};

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArray trimmedRight(const QByteArray &line)
{
    qsizetype end = line.size();
    while (end > 0 && (isBlank(line[end - 1]) || line[end - 1] == '\r'))
        --end;
    return line.left(end);
}

bool isBlankLine(const QByteArray &line)
{
    return std::all_of(line.cbegin(), line.cend(), [](char c) { return isBlank(c) || c == '\r'; });
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

QString shown(const QByteArray &text)
{
    constexpr qsizetype kShownBytes = 40;
    QString result = QString::fromLocal8Bit(text.left(kShownBytes));
    if (text.size() > kShownBytes)
        result.append(QStringLiteral("..."));
    return result;
}

const char *typeName(quint32 type)
{
    switch (type) {
    case store::RegSz:
        return "REG_SZ";
    case store::RegExpandSz:
        return "REG_EXPAND_SZ";
    default:
        return "REG_MULTI_SZ";
    }
}

// The file as 8-bit lines, whatever its encoding.
class Lines
{
public:
    static std::optional<RegError> split(const QByteArray &bytes, QList<QByteArray> &lines)
    {
        if (bytes.startsWith("\xFF\xFE"))
            return splitUtf16(bytes.mid(2), lines);
        if (bytes.startsWith("\xFE\xFF"))
            return RegError{1, QStringLiteral("UTF-16 big-endian files are not read; "
                                              "save it as UTF-16LE (Unicode) or 8-bit text")};
        const QByteArray text = bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
        lines = text.split('\n');
        return std::nullopt;
    }

private:
    static std::optional<RegError> splitUtf16(const QByteArray &body, QList<QByteArray> &lines)
    {
        qsizetype start = 0;
        for (qsizetype i = 0; i + 1 < body.size(); i += 2) {
            if (body[i] == '\n' && body[i + 1] == '\0') {
                if (!appendLine(body.mid(start, i - start), lines))
                    return RegError{int(lines.size()) + 1,
                                    QStringLiteral("not valid UTF-16 (a lone surrogate)")};
                start = i + 2;
            }
        }
        if ((body.size() - start) % 2 != 0)
            return RegError{int(lines.size()) + 1,
                            QStringLiteral("the file ends in the middle of a UTF-16 character "
                                           "(truncated)")};
        if (!appendLine(body.mid(start), lines))
            return RegError{int(lines.size()) + 1,
                            QStringLiteral("not valid UTF-16 (a lone surrogate)")};
        return std::nullopt;
    }

    static bool appendLine(const QByteArray &units, QList<QByteArray> &lines)
    {
        const auto text = utf16leToStoreText(units);
        if (!text)
            return false;
        lines.append(*text);
        return true;
    }
};

// Each step returns false once the file is refused; error() then says where and why.
class Parser
{
public:
    explicit Parser(QList<QByteArray> lines)
        : m_lines(std::move(lines))
    {}

    bool run()
    {
        const QByteArray header = trimmedRight(m_lines.value(0));
        if (header == kVersion5Header)
            m_file.format = RegFormat::Version5;
        else if (header == kRegedit4Header)
            m_file.format = RegFormat::Regedit4;
        else
            return fail(
                1, QStringLiteral("not a registry file: the first line must be \"%1\" or \"%2\"")
                       .arg(QLatin1String(kVersion5Header), QLatin1String(kRegedit4Header)));

        for (m_index = 1; m_index < m_lines.size(); ++m_index) {
            const QByteArray &line = m_lines[m_index];
            if (line.contains('\0'))
                return fail(lineNumber(), QStringLiteral("a zero character"));
            qsizetype pos = 0;
            while (pos < line.size() && isBlank(line[pos]))
                ++pos;
            const QByteArray rest = trimmedRight(line.mid(pos));
            if (rest.isEmpty() || rest.startsWith(';'))
                continue;
            bool read = false;
            if (rest.startsWith('['))
                read = keyLine(rest);
            else if (rest.startsWith('"') || rest.startsWith('@'))
                read = valueLine(rest);
            else
                return fail(lineNumber(), QStringLiteral("neither a key, a value nor a comment: "
                                                         "\"%1\"")
                                              .arg(shown(rest)));
            if (!read)
                return false;
        }
        return true;
    }

    const RegFile &file() const { return m_file; }
    const RegError &error() const { return m_error; }

private:
    bool fail(int line, const QString &reason)
    {
        m_error = {line, reason};
        return false;
    }

    int lineNumber() const { return int(m_index) + 1; }

    bool keyLine(const QByteArray &line)
    {
        if (!line.endsWith(']') || line.size() < 2)
            return fail(lineNumber(), QStringLiteral("a key line without its closing \"]\""));
        QByteArray path = line.mid(1, line.size() - 2);
        const bool deletion = path.startsWith('-');
        if (deletion)
            path.remove(0, 1);

        const qsizetype separator = path.indexOf('\\');
        const QByteArray root = separator < 0 ? path : path.left(separator);
        if (root.compare(kRootName, Qt::CaseInsensitive) != 0) {
            for (const char *other : kOtherRoots) {
                if (root.compare(other, Qt::CaseInsensitive) == 0)
                    return fail(lineNumber(), QStringLiteral("only keys under HKEY_LOCAL_MACHINE "
                                                             "can be imported, not under %1")
                                                  .arg(QLatin1String(other)));
            }
            return fail(lineNumber(), QStringLiteral("unknown root key \"%1\"").arg(shown(root)));
        }
        QByteArray below = separator < 0 ? QByteArray() : path.mid(separator + 1);
        while (below.endsWith('\\'))
            below.chop(1);
        if (!below.isEmpty()) {
            for (const QByteArray &name : below.split('\\')) {
                if (name.isEmpty())
                    return fail(lineNumber(), QStringLiteral("an empty key name in the path"));
                if (name.size() > kMaxKeyNameBytes)
                    return fail(
                        lineNumber(),
                        QStringLiteral("a key name longer than %1 bytes").arg(kMaxKeyNameBytes));
            }
        }
        if (deletion && below.isEmpty())
            return fail(lineNumber(),
                        QStringLiteral("HKEY_LOCAL_MACHINE itself cannot be deleted"));

        m_haveKey = true;
        m_deleting = deletion;
        m_keyPath = below;
        RegOperation operation;
        operation.kind = deletion ? RegOperation::Kind::DeleteKey : RegOperation::Kind::CreateKey;
        operation.keyPath = below;
        operation.line = lineNumber();
        m_file.operations.append(operation);
        return true;
    }

    // A quoted string from `pos` (at its opening quote); leaves `pos` after the closing one.
    bool quoted(const QByteArray &line, qsizetype &pos, QByteArray &text)
    {
        text.clear();
        for (++pos; pos < line.size(); ++pos) {
            const char c = line[pos];
            if (c == '"') {
                ++pos;
                return true;
            }
            if (c == '\\') {
                if (pos + 1 >= line.size())
                    break;
                const char escaped = line[++pos];
                if (escaped != '\\' && escaped != '"')
                    return fail(lineNumber(),
                                QStringLiteral("an unknown escape \"\\%1\" in a string")
                                    .arg(QChar::fromLatin1(escaped)));
                text.append(escaped);
                continue;
            }
            text.append(c);
        }
        return fail(lineNumber(), QStringLiteral("an unterminated string (no closing quote)"));
    }

    static void skipBlanks(const QByteArray &line, qsizetype &pos)
    {
        while (pos < line.size() && isBlank(line[pos]))
            ++pos;
    }

    bool expectEnd(const QByteArray &line, qsizetype pos)
    {
        skipBlanks(line, pos);
        if (pos < line.size())
            return fail(lineNumber(), QStringLiteral("unexpected text after the value: \"%1\"")
                                          .arg(shown(line.mid(pos))));
        return true;
    }

    static bool startsWithAt(const QByteArray &line, qsizetype pos, const char *word)
    {
        const QByteArray prefix(word);
        return line.mid(pos, prefix.size()).compare(prefix, Qt::CaseInsensitive) == 0;
    }

    bool valueLine(const QByteArray &line)
    {
        if (!m_haveKey)
            return fail(lineNumber(), QStringLiteral("a value before any key"));
        if (m_deleting)
            return fail(lineNumber(), QStringLiteral("a value under a key that this file deletes"));

        RegOperation operation;
        operation.keyPath = m_keyPath;
        operation.line = lineNumber();
        qsizetype pos = 0;
        if (line[0] == '@')
            pos = 1;
        else if (!quoted(line, pos, operation.name))
            return false;
        if (operation.name.size() > kMaxValueNameBytes)
            return fail(
                lineNumber(),
                QStringLiteral("a value name longer than %1 bytes").arg(kMaxValueNameBytes));
        skipBlanks(line, pos);
        if (pos >= line.size() || line[pos] != '=')
            return fail(lineNumber(), QStringLiteral("\"=\" expected after the value name"));
        ++pos;
        skipBlanks(line, pos);

        bool read = false;
        if (pos < line.size() && line[pos] == '-') {
            operation.kind = RegOperation::Kind::DeleteValue;
            read = expectEnd(line, pos + 1);
        } else if (pos < line.size() && line[pos] == '"') {
            operation.kind = RegOperation::Kind::SetValue;
            operation.type = store::RegSz;
            read = quoted(line, pos, operation.data) && expectEnd(line, pos);
            operation.data.append('\0');
        } else if (startsWithAt(line, pos, "dword:")) {
            operation.kind = RegOperation::Kind::SetValue;
            operation.type = store::RegDword;
            read = dword(line, pos + 6, operation.data);
        } else if (startsWithAt(line, pos, "hex")) {
            operation.kind = RegOperation::Kind::SetValue;
            read = hexValue(line, pos + 3, operation);
        } else {
            return fail(lineNumber(), QStringLiteral("unknown value data \"%1\" (expected a "
                                                     "string, dword:, hex: or -)")
                                          .arg(shown(line.mid(pos))));
        }
        if (read)
            m_file.operations.append(operation);
        return read;
    }

    bool dword(const QByteArray &line, qsizetype pos, QByteArray &data)
    {
        const QByteArray digits = trimmedRight(line.mid(pos));
        if (digits.isEmpty() || digits.size() > 8)
            return fail(lineNumber(), QStringLiteral("a dword needs one to eight hex digits"));
        quint32 number = 0;
        for (const char c : digits) {
            const int digit = hexDigit(c);
            if (digit < 0)
                return fail(
                    lineNumber(),
                    QStringLiteral("a bad hex digit in the dword \"%1\"").arg(shown(digits)));
            number = (number << 4) | static_cast<quint32>(digit);
        }
        data = QByteArray(4, '\0');
        for (int i = 0; i < 4; ++i)
            data[i] = static_cast<char>((number >> (8 * i)) & 0xFF);
        return true;
    }

    bool hexValue(const QByteArray &line, qsizetype pos, RegOperation &operation)
    {
        const int firstLine = lineNumber();
        operation.type = store::RegBinary;
        if (pos < line.size() && line[pos] == '(') {
            const qsizetype close = line.indexOf(')', pos);
            const QByteArray digits = close < 0 ? QByteArray() : line.mid(pos + 1, close - pos - 1);
            quint32 type = 0;
            bool ok = !digits.isEmpty() && digits.size() <= 8;
            for (const char c : digits) {
                const int digit = hexDigit(c);
                ok = ok && digit >= 0;
                type = (type << 4) | static_cast<quint32>(digit & 0xF);
            }
            if (!ok)
                return fail(lineNumber(), QStringLiteral("a bad type in hex(...): one to eight "
                                                         "hex digits expected"));
            operation.type = type;
            pos = close + 1;
        }
        if (pos >= line.size() || line[pos] != ':')
            return fail(lineNumber(), QStringLiteral("\":\" expected after hex"));
        ++pos;
        if (!hexList(line, pos, operation.data))
            return false;

        if (m_file.format == RegFormat::Version5
            && (operation.type == store::RegSz || operation.type == store::RegExpandSz
                || operation.type == store::RegMultiSz)) {
            const auto text = utf16leToStoreText(operation.data);
            if (!text)
                return fail(firstLine, QStringLiteral("%1 data is not UTF-16LE text (%2)")
                                           .arg(QLatin1String(typeName(operation.type)),
                                                operation.data.size() % 2
                                                    ? QStringLiteral("an odd number of bytes")
                                                    : QStringLiteral("a lone surrogate")));
            operation.data = *text;
        }
        return true;
    }

    // Comma-separated byte pairs, continued on the next line after a trailing backslash.
    bool hexList(const QByteArray &first, qsizetype pos, QByteArray &data)
    {
        QByteArray line = first;
        for (;;) {
            skipBlanks(line, pos);
            if (pos >= line.size())
                return true;
            if (line[pos] == '\\') {
                if (!expectEnd(line, pos + 1))
                    return false;
                const int continued = lineNumber();
                if (++m_index >= m_lines.size() || isBlankLine(m_lines[m_index]))
                    return fail(continued, m_index + 1 >= m_lines.size()
                                               ? QStringLiteral("the file ends inside a value "
                                                                "continued on the next line")
                                               : QStringLiteral("a blank line inside a value "
                                                                "continued on the next line"));
                line = trimmedRight(m_lines[m_index]);
                if (line.contains('\0'))
                    return fail(lineNumber(), QStringLiteral("a zero character"));
                pos = 0;
                continue;
            }
            const qsizetype start = pos;
            while (pos < line.size() && line[pos] != ',' && line[pos] != '\\'
                   && !isBlank(line[pos]))
                ++pos;
            const QByteArray pair = line.mid(start, pos - start);
            const int high = pair.size() == 2 ? hexDigit(pair[0]) : -1;
            const int low = pair.size() == 2 ? hexDigit(pair[1]) : -1;
            if (high < 0 || low < 0)
                return fail(lineNumber(), QStringLiteral("a bad hex pair \"%1\"").arg(shown(pair)));
            data.append(static_cast<char>((high << 4) | low));
            skipBlanks(line, pos);
            if (pos < line.size() && line[pos] == ',')
                ++pos;
            else if (pos < line.size() && line[pos] != '\\')
                return fail(lineNumber(), QStringLiteral("\",\" expected between hex pairs"));
        }
    }

    QList<QByteArray> m_lines;
    qsizetype m_index = 0;
    RegFile m_file;
    RegError m_error;
    bool m_haveKey = false;
    bool m_deleting = false;
    QByteArray m_keyPath;
};

bool isTextType(quint32 type)
{
    return type == store::RegSz || type == store::RegExpandSz || type == store::RegMultiSz;
}

// Windows writes an 8-bit file in its ANSI code page; this program writes one in the store's
// encoding. A file whose names and strings are not all store text came from Windows, and all of
// its text is taken from that code page: a pattern with an umlaut then holds the same bytes as
// when it is typed in the window. Names grow in the store's encoding, and are checked again
// against the registry's limits.
std::optional<RegError> takeAnsiText(RegFile &file)
{
    const auto isText = [](const RegOperation &step) {
        return isStoreText(step.keyPath) && isStoreText(step.name)
               && (step.kind != RegOperation::Kind::SetValue || !isTextType(step.type)
                   || isStoreText(step.data));
    };
    if (std::all_of(file.operations.cbegin(), file.operations.cend(), isText))
        return std::nullopt;
    for (RegOperation &step : file.operations) {
        step.keyPath = ansiToStoreText(step.keyPath);
        step.name = ansiToStoreText(step.name);
        if (step.kind == RegOperation::Kind::SetValue && isTextType(step.type))
            step.data = ansiToStoreText(step.data);
        const QList<QByteArray> names = step.keyPath.split('\\');
        if (std::any_of(names.cbegin(), names.cend(),
                        [](const QByteArray &name) { return name.size() > kMaxKeyNameBytes; }))
            return RegError{step.line, QStringLiteral("a key name longer than %1 bytes in "
                                                      "UTF-8")
                                           .arg(kMaxKeyNameBytes)};
        if (step.name.size() > kMaxValueNameBytes)
            return RegError{step.line, QStringLiteral("a value name longer than %1 bytes in "
                                                      "UTF-8")
                                           .arg(kMaxValueNameBytes)};
    }
    return std::nullopt;
}

} // namespace

RegParseResult parseRegFile(const QByteArray &bytes)
{
    RegParseResult result;
    QList<QByteArray> lines;
    if (const auto error = Lines::split(bytes, lines)) {
        result.error = error;
        return result;
    }
    Parser parser(std::move(lines));
    if (!parser.run()) {
        result.error = parser.error();
        return result;
    }
    result.file = parser.file();
    if (!bytes.startsWith("\xFF\xFE"))
        result.error = takeAnsiText(result.file);
    return result;
}

} // namespace regtool
