#pragma once

#include "regtool/RegFile.h"

#include <QStringList>

namespace store {
class Access;
}

namespace regtool {

// What applying a file changed; steps that found the store already so are not counted.
struct ImportSummary
{
    int keysCreated = 0;
    int keysDeleted = 0;
    int valuesSet = 0;
    int valuesDeleted = 0;
    QStringList changes; // one line per change, when asked for

    bool operator==(const ImportSummary &) const = default;
};

// Applies the file's steps in order inside the caller's access, which decides whether they are
// kept. Throws store::StoreError as the store does.
ImportSummary applyRegFile(store::Access &access, const RegFile &file, bool describe);

} // namespace regtool
