#include "regtool/RegQuery.h"

#include "regtool/KeyArguments.h"
#include "store/Store.h"

namespace regtool {

namespace {

constexpr char kIndent[] = "    ";

QByteArray littleEndianHex(const QByteArray &data)
{
    quint64 number = 0;
    for (qsizetype i = data.size() - 1; i >= 0; --i)
        number = (number << 8) | static_cast<unsigned char>(data[i]);
    return "0x" + QByteArray::number(number, 16);
}

QByteArray shownData(const store::RawValue &value)
{
    switch (value.type) {
    case store::RegSz:
    case store::RegExpandSz: {
        const qsizetype zero = value.data.indexOf('\0');
        return zero < 0 ? value.data : value.data.left(zero);
    }
    case store::RegMultiSz: {
        // The strings one after another, each zero shown as \0, the closing pair left out.
        QByteArray data = value.data;
        while (data.endsWith('\0'))
            data.chop(1);
        return data.replace('\0', "\\0");
    }
    case store::RegDword:
        if (value.data.size() == 4)
            return littleEndianHex(value.data);
        break;
    case 11: // REG_QWORD
        if (value.data.size() == 8)
            return littleEndianHex(value.data);
        break;
    default:
        break;
    }
    return value.data.toHex().toUpper();
}

QByteArray valueLine(const store::RawValue &value)
{
    return kIndent + (value.name.isEmpty() ? QByteArray("(Default)") : value.name) + kIndent
           + typeName(value.type) + kIndent + shownData(value) + '\n';
}

} // namespace

QByteArray typeName(int type)
{
    static constexpr const char *kNames[] = {"REG_NONE",
                                             "REG_SZ",
                                             "REG_EXPAND_SZ",
                                             "REG_BINARY",
                                             "REG_DWORD",
                                             "REG_DWORD_BIG_ENDIAN",
                                             "REG_LINK",
                                             "REG_MULTI_SZ",
                                             "REG_RESOURCE_LIST",
                                             "REG_FULL_RESOURCE_DESCRIPTOR",
                                             "REG_RESOURCE_REQUIREMENTS_LIST",
                                             "REG_QWORD"};
    if (type >= 0 && type < int(std::size(kNames)))
        return kNames[type];
    return "0x" + QByteArray::number(static_cast<quint32>(type), 16);
}

std::optional<QByteArray> queryKey(store::Access &access, const QByteArray &path,
                                   const std::optional<QByteArray> &name)
{
    const auto key = access.openExisting(path);
    if (!key->isOpen())
        return std::nullopt;
    QByteArray out = '\n' + fullKeyName(path) + '\n';
    if (name) {
        const auto value = key->readRaw(*name);
        if (!value)
            return std::nullopt;
        return out + valueLine(*value) + '\n';
    }
    for (const store::RawValue &value : key->rawValues())
        out.append(valueLine(value));
    const auto children = key->subkeyNamesOnly();
    if (!children.isEmpty())
        out.append('\n');
    for (const QByteArray &child : children)
        out.append(fullKeyName(path.isEmpty() ? child : path + '\\' + child)).append('\n');
    return out;
}

} // namespace regtool
