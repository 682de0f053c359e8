// The password cipher against OpenSSL's DES (same block function but for one table entry), in
// one run: bulk throughput, and one password including its key schedule.
#include "BenchSupport.h"
#include "store/Des.h"
#include "store/PasswordCipher.h"

#include <cstring>
#include <openssl/des.h>

namespace {

volatile unsigned char sink;

QByteArray sampleBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + 7) & 0xFF);
    return bytes;
}

// OpenSSL: key set-up from the zero-padded key, then ECB over zero-padded blocks.
QByteArray opensslEncrypt(const QByteArray &input, const char *key)
{
    DES_cblock keyBlock = {};
    std::memcpy(keyBlock, key, qMin<size_t>(std::strlen(key), 8));
    DES_key_schedule schedule;
    DES_set_key_unchecked(&keyBlock, &schedule);
    const qsizetype blocks = (input.size() + 7) / 8;
    QByteArray output(blocks * 8, '\0');
    for (qsizetype b = 0; b < blocks; ++b) {
        DES_cblock in = {};
        std::memcpy(in, input.constData() + 8 * b, qMin<qsizetype>(8, input.size() - 8 * b));
        DES_ecb_encrypt(&in, reinterpret_cast<DES_cblock *>(output.data() + 8 * b), &schedule,
                        DES_ENCRYPT);
    }
    return output;
}

// OpenSSL's side of deciphering a stored password: hex to bytes, set-up, ECB, padding cut.
QByteArray opensslDecryptHex(const QByteArray &hex, const char *key)
{
    const QByteArray input = des::fromHex(hex);
    DES_cblock keyBlock = {};
    std::memcpy(keyBlock, key, qMin<size_t>(std::strlen(key), 8));
    DES_key_schedule schedule;
    DES_set_key_unchecked(&keyBlock, &schedule);
    QByteArray output(input.size() / 8 * 8, Qt::Uninitialized);
    for (qsizetype b = 0; b < output.size() / 8; ++b) {
        DES_cblock in;
        std::memcpy(in, input.constData() + 8 * b, 8);
        DES_ecb_encrypt(&in, reinterpret_cast<DES_cblock *>(output.data() + 8 * b), &schedule,
                        DES_DECRYPT);
    }
    while (output.endsWith('\0'))
        output.chop(1);
    return output;
}

double nanosecondsPerCall(int calls, const std::function<void()> &work)
{
    return medianMicroseconds(15,
                              [&] {
                                  for (int i = 0; i < calls; ++i)
                                      work();
                              })
           * 1000.0 / calls;
}

// The whole calls against OpenSSL plus the same hex step, in instructions (under callgrind).
void countCalls()
{
    constexpr int kCalls = 1000;
    const auto repeat = [](const std::function<void()> &work) {
        return [work] {
            for (int i = 0; i < kCalls; ++i)
                work();
        };
    };
    for (const int length : {8, 32, 120}) {
        const QByteArray password = sampleBytes(length);
        const QByteArray stored = store::EncryptPassword(password);
        const QByteArray encrypt = "EncryptPassword, " + QByteArray::number(length) + " bytes";
        const QByteArray decrypt = "DecryptPassword, " + QByteArray::number(length) + " bytes";
        countInstructions("ours|" + encrypt, repeat([&] {
                              sink =
                                  static_cast<unsigned char>(store::EncryptPassword(password)[0]);
                          }));
        countInstructions("floor|" + encrypt, repeat([&] {
                              sink = static_cast<unsigned char>(
                                  des::toHex(opensslEncrypt(password, "QZ"))[0]);
                          }));
        countInstructions("ours|" + decrypt, repeat([&] {
                              sink =
                                  static_cast<unsigned char>(store::DecryptPassword(stored).size());
                          }));
        countInstructions("floor|" + decrypt, repeat([&] {
                              sink = static_cast<unsigned char>(
                                  opensslDecryptHex(stored, "QZ").size());
                          }));
    }
}

} // namespace

int main()
{
    if (countingInstructions()) {
        countCalls();
        return 0;
    }
    std::printf("Password cipher (median of runs; ratio = ours / OpenSSL, target <= 1.0)\n");

    const QByteArray bulk = sampleBytes(1 << 20);
    const double ours = medianMicroseconds(15, [&] {
        sink = static_cast<unsigned char>(des::crypt(bulk, "QZ", TActionType::Encryption)[0]);
    });
    const double theirs = medianMicroseconds(
        15, [&] { sink = static_cast<unsigned char>(opensslEncrypt(bulk, "QZ")[0]); });
    std::printf("1 MiB ECB: ours %.1f MB/s, OpenSSL %.1f MB/s, time ratio %.2f\n", (1 << 20) / ours,
                (1 << 20) / theirs, ours / theirs);

    for (const int length : {8, 32, 120}) {
        const QByteArray password = sampleBytes(length);
        const QByteArray stored = store::EncryptPassword(password);
        const double oursCall = nanosecondsPerCall(
            20000, [&] { sink = static_cast<unsigned char>(store::EncryptPassword(password)[0]); });
        // The stored form is hexadecimal text; give OpenSSL's result the same last step.
        const double theirsHexCall = nanosecondsPerCall(20000, [&] {
            sink = static_cast<unsigned char>(des::toHex(opensslEncrypt(password, "QZ"))[0]);
        });
        const double oursDecrypt = nanosecondsPerCall(20000, [&] {
            sink = static_cast<unsigned char>(store::DecryptPassword(stored).size());
        });
        const double theirsDecrypt = nanosecondsPerCall(20000, [&] {
            sink = static_cast<unsigned char>(opensslDecryptHex(stored, "QZ").size());
        });
        char what[80];
        std::snprintf(what, sizeof what, "EncryptPassword, %d bytes", length);
        printComparison(what, oursCall, "OpenSSL set-up+ECB+hex", theirsHexCall, "ns");
        std::snprintf(what, sizeof what, "DecryptPassword, %d bytes", length);
        printComparison(what, oursDecrypt, "OpenSSL hex+set-up+ECB", theirsDecrypt, "ns");
    }
    std::printf("(instructions: bench/instructions.sh)\n");
    return 0;
}
