#include "store/PasswordCipher.h"

#include "store/Des.h"

namespace store {

namespace {

constexpr char kPasswordKey[] = "QZ";
// The component's texts hold at most this many characters; longer ones are cut first.
constexpr qsizetype kShortStringLength = 255;

} // namespace

QByteArray EncryptPassword(const QByteArray &plain, platform::UserPrompts *prompts)
{
    TEncryption cipher(prompts);
    try {
        cipher.setInput(plain.left(kShortStringLength));
        cipher.setKey(kPasswordKey);
        cipher.setAction(TActionType::Encryption);
        cipher.Execute();
    } catch (const EConvertError &) {
    }
    return cipher.HexOutput();
}

QByteArray DecryptPassword(const QByteArray &stored, platform::UserPrompts *prompts)
{
    TEncryption cipher(prompts);
    try {
        cipher.setHexInput(stored.left(kShortStringLength));
        cipher.setAction(TActionType::Decryption);
        cipher.setKey(kPasswordKey);
        cipher.Execute();
    } catch (const EConvertError &) {
        return {};
    }
    QByteArray plain = cipher.Output();
    while (plain.endsWith('\0'))
        plain.chop(1);
    return plain;
}

} // namespace store
