#include "store/PasswordCipher.h"

#include "store/Des.h"

namespace store {

namespace {

// A literal shares its bytes, so naming the key allocates nothing.
const QByteArray &passwordKey()
{
    static const QByteArray key = QByteArrayLiteral("QZ");
    return key;
}
// The component's texts hold at most this many characters; longer ones are cut first.
constexpr qsizetype kShortStringLength = 255;

} // namespace

QByteArray EncryptPassword(const QByteArray &plain, platform::UserPrompts *prompts)
{
    TEncryption cipher(prompts);
    try {
        cipher.setInput(plain.left(kShortStringLength));
        cipher.setKey(passwordKey());
        cipher.setAction(TActionType::Encryption);
        cipher.Execute();
    } catch (const EConvertError &) {
    }
    return cipher.HexOutput();
}

QByteArray DecryptPassword(const QByteArray &stored, platform::UserPrompts *prompts)
{
    QByteArray plain;
    {
        TEncryption cipher(prompts);
        try {
            cipher.setHexInput(stored.left(kShortStringLength));
            cipher.setAction(TActionType::Decryption);
            cipher.setKey(passwordKey());
            cipher.Execute();
        } catch (const EConvertError &) {
            return {};
        }
        plain = cipher.Output();
    }
    // The only owner now, so cutting the padding copies nothing.
    while (plain.endsWith('\0'))
        plain.chop(1);
    return plain;
}

} // namespace store
