#include "regtool/TextCodec.h"

namespace regtool {

// ASCII is the same in every encoding the store may use; only other bytes need converting.
bool isStoreText(QByteArrayView text)
{
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return storeTextToUtf16le(text.toByteArray()).has_value();
    }
    return true;
}

} // namespace regtool
