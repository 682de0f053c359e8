#include "regtool/TreeImport.h"

#include "regtool/KeyArguments.h"
#include "store/Store.h"
#include "store/StoreError.h"

#include <memory>

namespace regtool {

namespace {

QString valueLabel(const QByteArray &name)
{
    return name.isEmpty() ? QStringLiteral("(Default)")
                          : QStringLiteral("\"%1\"").arg(QString::fromLocal8Bit(name));
}

QString keyLabel(const QByteArray &path)
{
    return QString::fromLocal8Bit(fullKeyName(path));
}

} // namespace

ImportSummary applyRegFile(store::Access &access, const RegFile &file, bool describe)
{
    ImportSummary summary;
    std::unique_ptr<store::RegistryKey> current;
    for (const RegOperation &operation : file.operations) {
        const bool needsKey = operation.kind == RegOperation::Kind::SetValue
                              || operation.kind == RegOperation::Kind::DeleteValue;
        if (needsKey && !current)
            throw store::StoreError("a value outside any key");
        switch (operation.kind) {
        case RegOperation::Kind::CreateKey:
            current = access.openExisting(operation.keyPath);
            if (!current->isOpen()) {
                current = access.openOrCreate(operation.keyPath);
                current->requireWritable();
                ++summary.keysCreated;
                if (describe)
                    summary.changes.append(
                        QStringLiteral("create key %1").arg(keyLabel(operation.keyPath)));
            }
            break;
        case RegOperation::Kind::DeleteKey: {
            current.reset();
            if (!access.openExisting(operation.keyPath)->isOpen())
                break; // nothing to delete, as on Windows
            const qsizetype split = operation.keyPath.lastIndexOf('\\');
            const QByteArray parent = split < 0 ? QByteArray() : operation.keyPath.left(split);
            access.openExisting(parent)->deleteKey(operation.keyPath.mid(split + 1));
            ++summary.keysDeleted;
            if (describe)
                summary.changes.append(QStringLiteral("delete key %1 and everything below it")
                                           .arg(keyLabel(operation.keyPath)));
            break;
        }
        case RegOperation::Kind::SetValue: {
            const auto before = current->readRaw(operation.name);
            if (before && before->type == static_cast<int>(operation.type)
                && before->data == operation.data)
                break;
            current->writeRaw(operation.name, static_cast<int>(operation.type), operation.data);
            ++summary.valuesSet;
            if (describe)
                summary.changes.append(
                    QStringLiteral("%1 value %2 in %3")
                        .arg(before ? QStringLiteral("change") : QStringLiteral("add"),
                             valueLabel(operation.name), keyLabel(operation.keyPath)));
            break;
        }
        case RegOperation::Kind::DeleteValue:
            if (!current->readRaw(operation.name))
                break;
            current->deleteValue(operation.name);
            ++summary.valuesDeleted;
            if (describe)
                summary.changes.append(
                    QStringLiteral("delete value %1 in %2")
                        .arg(valueLabel(operation.name), keyLabel(operation.keyPath)));
            break;
        }
    }
    return summary;
}

} // namespace regtool
