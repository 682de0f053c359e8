#include "regtool/TreeExport.h"

#include "regtool/RegWriter.h"
#include "store/Store.h"

namespace regtool {

bool exportTree(store::Access &access, const QByteArray &path, RegWriter &writer)
{
    if (!writer.key(path))
        return false;
    const auto key = access.openExisting(path);
    for (const store::RawValue &value : key->rawValues()) {
        if (!writer.value(value.name, static_cast<quint32>(value.type), value.data))
            return false;
    }
    for (const QByteArray &child : key->subkeyNamesOnly()) {
        if (!exportTree(access, path.isEmpty() ? child : path + '\\' + child, writer))
            return false;
    }
    return true;
}

} // namespace regtool
