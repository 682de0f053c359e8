// Hexadecimal decoding of the cipher component on arbitrary text: it either refuses the text with
// its conversion error or decodes it so that encoding gives the same digits back.
#include "store/Des.h"
#include "store/PasswordCipher.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    TEncryption cipher;
    try {
        cipher.setHexInput(text);
        if (text.size() <= 254
            && des::toHex(cipher.Input()) != text.left(text.size() / 2 * 2).toUpper())
            std::abort();
    } catch (const EConvertError &) {
    }
    // At most 254 digits are taken, 127 bytes, which decipher to 16 blocks.
    const QByteArray plain = store::DecryptPassword(text);
    if (plain.size() > 128)
        std::abort();
    // Whatever a stored text decodes to enciphers to a text that decodes to it again.
    if (plain.size() <= 120 && store::DecryptPassword(store::EncryptPassword(plain)) != plain)
        std::abort();
    return 0;
}
