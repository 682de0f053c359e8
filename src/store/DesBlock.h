#pragma once

#include <QtGlobal>

#include <array>

// The 64-bit block function: DES in every table but the key schedule's second permutation,
// where the stored passwords use 19 as the twelfth entry instead of 10. Table driven: round
// keys are computed once per key, S-boxes are merged with P.
namespace des {

enum class Pc2
{
    Published,
    Ostrove
};

class KeySchedule
{
public:
    // key: bit 1 is the top bit of key[0], as in FIPS PUB 46-3.
    explicit KeySchedule(quint64 key, Pc2 variant = Pc2::Ostrove);

    // Each round key as two words: the even 6-bit groups at bits 26, 18, 10 and 2 of the first,
    // the odd ones at the same places of the second, where the round function's two views of
    // the right half meet them (see feistel in DesBlock.cpp).
    std::array<std::array<quint32, 2>, 16> rounds{};
};

quint64 encryptBlock(const KeySchedule &keys, quint64 block);
quint64 decryptBlock(const KeySchedule &keys, quint64 block);

// Big-endian packing, so byte 0 carries bits 1 to 8.
quint64 loadBlock(const unsigned char *bytes);
void storeBlock(quint64 block, unsigned char *bytes);

} // namespace des
