#include "store/Des.h"

#include "platform/UserPrompts.h"
#include "store/DesBlock.h"

#include <cstring>
#include <optional>

namespace {

// The component keeps the limits of the fixed-size texts it was designed with.
constexpr qsizetype kMaxInput = 127;
constexpr qsizetype kMaxHexInput = 254;
constexpr qsizetype kMaxKey = 8;

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

namespace des {

QByteArray toHex(const QByteArray &bytes)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    QByteArray hex(bytes.size() * 2, Qt::Uninitialized);
    char *out = hex.data();
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        *out++ = kDigits[byte >> 4];
        *out++ = kDigits[byte & 0xF];
    }
    return hex;
}

QByteArray fromHex(const QByteArray &text)
{
    QByteArray bytes(text.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const int high = hexDigit(text[2 * i]);
        const int low = hexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0)
            throw EConvertError("'" + text.mid(2 * i, 2).toStdString() + "' is not a hex pair");
        bytes[i] = static_cast<char>(high << 4 | low);
    }
    return bytes;
}

namespace {

// Every password is enciphered with the same key, so its round keys are worked out once per
// thread rather than for each password.
const KeySchedule &scheduleFor(quint64 key)
{
    thread_local quint64 cachedKey = 0;
    thread_local std::optional<KeySchedule> cached;
    if (!cached || cachedKey != key) {
        cached.emplace(key);
        cachedKey = key;
    }
    return *cached;
}

} // namespace

QByteArray crypt(const QByteArray &input, const QByteArray &key, TActionType action)
{
    unsigned char keyBlock[8] = {};
    for (qsizetype i = 0; i < key.size() && i < 8; ++i)
        keyBlock[i] = static_cast<unsigned char>(key[i]);
    const KeySchedule &schedule = scheduleFor(loadBlock(keyBlock));

    const qsizetype blocks = (input.size() + 7) / 8;
    QByteArray output(blocks * 8, Qt::Uninitialized);
    auto *out = reinterpret_cast<unsigned char *>(output.data());
    const auto *in = reinterpret_cast<const unsigned char *>(input.constData());
    const auto run = action == TActionType::Encryption ? encryptBlock : decryptBlock;
    const qsizetype whole = input.size() / 8;
    for (qsizetype b = 0; b < whole; ++b)
        storeBlock(run(schedule, loadBlock(in + 8 * b)), out + 8 * b);
    if (whole < blocks) {
        // The last, short block is filled up with zero bytes.
        unsigned char last[8] = {};
        std::memcpy(last, in + 8 * whole, static_cast<size_t>(input.size() - 8 * whole));
        storeBlock(run(schedule, loadBlock(last)), out + 8 * whole);
    }
    return output;
}

} // namespace des

TEncryption::TEncryption(platform::UserPrompts *prompts)
    : m_prompts(prompts)
{}

void TEncryption::setInput(const QByteArray &text)
{
    if (text.size() > kMaxInput)
        return refuse("Input String Length Must Less 127 Character.");
    m_input = text;
    m_hexInputStale = true;
}

// The hexadecimal form of bytes, made when first asked for after they changed.
static const QByteArray &freshHex(const QByteArray &bytes, QByteArray &hex, bool &stale)
{
    if (stale) {
        hex = des::toHex(bytes);
        stale = false;
    }
    return hex;
}

const QByteArray &TEncryption::HexInput() const
{
    return freshHex(m_input, m_hexInput, m_hexInputStale);
}

void TEncryption::setHexInput(const QByteArray &text)
{
    if (text.size() > kMaxHexInput)
        return refuse("HexInput String Length Must Less 255 Character.");
    m_hexInput = text;
    m_hexInputStale = false;
    m_input = des::fromHex(text);
}

void TEncryption::setOutput(const QByteArray &text)
{
    m_output = text;
    m_hexOutputStale = true;
}

const QByteArray &TEncryption::HexOutput() const
{
    return freshHex(m_output, m_hexOutput, m_hexOutputStale);
}

void TEncryption::setHexOutput(const QByteArray &text)
{
    m_hexOutput = text;
    m_hexOutputStale = false;
    m_output = des::fromHex(text);
}

void TEncryption::setKey(const QByteArray &text)
{
    if (text.size() > kMaxKey)
        return refuse("Key String Length Must Less 9 Character.");
    m_key = text;
}

void TEncryption::Execute()
{
    m_output.clear();
    if (m_key.isEmpty())
        m_key = kDefaultKey;
    m_output = des::crypt(m_input, m_key, m_action);
    m_hexOutputStale = true;
}

void TEncryption::refuse(const char *message) const
{
    if (m_prompts) {
        m_prompts->show({QStringLiteral("Information"), QString::fromLatin1(message),
                         platform::Prompt::Icon::Information, platform::Prompt::Buttons::Ok});
    }
}
