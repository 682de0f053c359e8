#pragma once

#include <QByteArray>

namespace platform {
class UserPrompts;
}

namespace store {

// The stored "Password" text of a plain password: enciphered with the key "QZ", in upper-case
// hexadecimal. Never fails.
QByteArray EncryptPassword(const QByteArray &plain, platform::UserPrompts *prompts = nullptr);

// The plain password behind a stored "Password" text; text that does not decode gives an empty
// password. Only the zero bytes that padded the last block are removed, so blanks the user
// typed at either end survive.
QByteArray DecryptPassword(const QByteArray &stored, platform::UserPrompts *prompts = nullptr);

} // namespace store
