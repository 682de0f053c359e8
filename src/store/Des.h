#pragma once

#include <QByteArray>

#include <stdexcept>

namespace platform {
class UserPrompts;
}

// The cipher of the stored account passwords. TEncryption holds an input, a key and a
// direction and turns the input into an output and its hexadecimal form; the monitor deciphers
// what it writes, so every rule here is part of the stored format.
enum class TActionType : quint8
{
    Encryption = 0,
    Decryption = 1
};

// Raised by a hexadecimal assignment whose text holds a pair that is not two hex digits.
class EConvertError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class TEncryption
{
public:
    // Refused assignments are reported through prompts; without prompts they are refused quietly.
    explicit TEncryption(platform::UserPrompts *prompts = nullptr);

    const QByteArray &Input() const { return m_input; }
    const QByteArray &Output() const { return m_output; }
    const QByteArray &HexInput() const;
    const QByteArray &HexOutput() const;
    const QByteArray &Key() const { return m_key; }
    TActionType Action() const { return m_action; }

    void setInput(const QByteArray &text);
    void setHexInput(const QByteArray &text);
    void setOutput(const QByteArray &text);
    void setHexOutput(const QByteArray &text);
    void setKey(const QByteArray &text);
    void setAction(TActionType action) { m_action = action; }

    void Execute();

    static constexpr char kDefaultKey[] = "Zel#Ostr";

private:
    void refuse(const char *message) const;

    platform::UserPrompts *m_prompts;
    QByteArray m_input;
    QByteArray m_output;
    // Made from Input when first read; most users never read it.
    mutable QByteArray m_hexInput;
    mutable bool m_hexInputStale = false;
    // The same for Output: deciphering never needs it.
    mutable QByteArray m_hexOutput;
    mutable bool m_hexOutputStale = false;
    QByteArray m_key;
    TActionType m_action = TActionType::Encryption;
};

namespace des {

QByteArray toHex(const QByteArray &bytes);
// Pairs of hex digits in either case; a last odd character is ignored. Throws EConvertError.
QByteArray fromHex(const QByteArray &text);

// ECB with zero padding of the last block; the key is padded with zero bytes to 8.
QByteArray crypt(const QByteArray &input, const QByteArray &key, TActionType action);

} // namespace des
