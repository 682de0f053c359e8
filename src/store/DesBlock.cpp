#include "store/DesBlock.h"

#include <QtEndian>

#include <bit>

namespace des {

namespace {

// FIPS PUB 46-3 tables, 1-based bit numbers, bit 1 the most significant.
constexpr int kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                        2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

constexpr int kPc1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                          10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                          63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                          14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

constexpr int kPc2Published[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                                   26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                                   51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

constexpr int kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

constexpr unsigned char kS[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8, 3, 10, 6, 12, 5,  9,  0,  7,  0,  15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5, 3, 8,  4, 1,  14, 8,  13, 6,  2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2, 4, 9,  1, 7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4, 9,  7,  2, 13, 12, 0,  5,  10, 3,  13, 4,  7, 15, 2,
     8,  14, 12, 0,  1,  10, 6,  9, 11, 5,  0, 14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,
     9,  3,  2,  15, 13, 8,  10, 1, 3,  15, 4, 2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7, 11, 4,  2,  8,  13, 7, 0,  9, 3, 4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6, 4,  9,  8,  15, 3,  0, 11, 1, 2, 12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7, 4,  15, 14, 3,  11, 5, 2,  12},
    {7, 13, 14, 3, 0, 6,  9, 10, 1,  2, 8,  5, 11, 12, 4,  15, 13, 8,  11, 5, 6, 15,
     0, 3,  4,  7, 2, 12, 1, 10, 14, 9, 10, 6, 9,  0,  12, 11, 7,  13, 15, 1, 3, 14,
     5, 2,  8,  4, 3, 15, 0, 6,  10, 1, 13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4, 1,  7,  10, 11, 6, 8, 5,  3, 15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5, 0,  15, 10, 3,  9, 8, 6,  4, 2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0, 14, 11, 8,  12, 7, 1, 14, 2, 13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6, 8,  0, 13, 3,  4,  14, 7,  5, 11, 10, 15, 4, 2, 7, 12,
     9,  5,  6,  1,  13, 14, 0, 11, 3, 8,  9,  14, 15, 5,  2, 8,  12, 3,  7, 0, 4, 10,
     1,  13, 11, 6,  4,  3,  2, 12, 9, 5,  15, 10, 11, 14, 1, 7,  6,  0,  8, 13},
    {4, 11, 2,  14, 15, 0,  8,  13, 3, 12, 9,  7, 5,  10, 6,  1,  13, 0,  11, 7,  4, 9,
     1, 10, 14, 3,  5,  12, 2,  15, 8, 6,  1,  4, 11, 13, 12, 3,  7,  14, 10, 15, 6, 8,
     0, 5,  9,  2,  6,  11, 13, 8,  1, 4,  10, 7, 9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2, 8,  4, 6, 15, 11, 1,  10, 9,  3, 14, 5,  0,  12, 7,  1,  15, 13, 8, 10, 3,
     7,  4, 12, 5, 6, 11, 0,  14, 9,  2,  7, 11, 4,  1,  9,  12, 14, 2,  0,  6, 10, 13,
     15, 3, 5,  8, 2, 1,  14, 7,  4,  10, 8, 13, 15, 12, 9,  0,  3,  5,  6,  11}};

// Bit p (1-based from the top) of an n-bit word.
constexpr quint64 bitOf(quint64 word, int p, int n)
{
    return (word >> (n - p)) & 1U;
}

// Permutes an n-bit word by a table of m entries into an m-bit word.
quint64 permute(quint64 word, const int *table, int m, int n)
{
    quint64 out = 0;
    for (int i = 0; i < m; ++i)
        out = (out << 1) | bitOf(word, table[i], n);
    return out;
}

// A bit permutation of a 64-bit word as eight byte tables: eight lookups, not 64 bit moves.
struct BytePermutation
{
    quint64 table[8][256];

    BytePermutation(const int *map, int n)
    {
        for (int byte = 0; byte < 8; ++byte) {
            for (int v = 0; v < 256; ++v) {
                const quint64 word = quint64(v) << (8 * (7 - byte));
                table[byte][v] = permute(word, map, n, 64) << (64 - n);
            }
        }
    }

    quint64 apply(quint64 word) const
    {
        quint64 out = 0;
        for (int byte = 0; byte < 8; ++byte)
            out |= table[byte][(word >> (8 * (7 - byte))) & 0xFF];
        return out;
    }
};

struct Tables
{
    BytePermutation pc1{kPc1, 56}; // result in the top 56 bits: C then D
    quint32 sp[8][64];             // S-box i merged with P, indexed by the raw 6-bit group
    // PC-2 from 7-bit slices of C and D straight to the eight 6-bit groups of a round key.
    quint64 pc2c[2][4][128];
    quint64 pc2d[2][4][128];

    Tables()
    {
        for (int box = 0; box < 8; ++box) {
            for (int group = 0; group < 64; ++group) {
                const int row = ((group >> 4) & 2) | (group & 1);
                const int column = (group >> 1) & 0xF;
                const quint64 sOut = quint64(kS[box][row * 16 + column]) << (28 - 4 * box);
                sp[box][group] = static_cast<quint32>(permute(sOut, kP, 32, 32));
            }
        }
        for (int variant = 0; variant < 2; ++variant) {
            int pc2[48];
            for (int i = 0; i < 48; ++i)
                pc2[i] = kPc2Published[i];
            if (variant == 1)
                pc2[11] = 19;
            for (int slice = 0; slice < 4; ++slice) {
                for (int v = 0; v < 128; ++v) {
                    // bits 7*slice+1 .. 7*slice+7 of a 28-bit half
                    const quint64 half = quint64(v) << (28 - 7 * (slice + 1));
                    pc2c[variant][slice][v] = spread(half, pc2, 0);
                    pc2d[variant][slice][v] = spread(half, pc2, 28);
                }
            }
        }
    }

    // The round-key bits that a half (C at offset 0, D at 28) contributes, as 6-bit groups.
    static quint64 spread(quint64 half, const int *pc2, int offset)
    {
        quint64 key = 0;
        for (int i = 0; i < 48; ++i) {
            const int source = pc2[i] - offset;
            if (source < 1 || source > 28 || !bitOf(half, source, 28))
                continue;
            const int group = i / 6;
            const int bit = 5 - i % 6;
            key |= quint64(1) << (8 * group + bit);
        }
        return key;
    }
};

const Tables &tables()
{
    static const Tables instance;
    return instance;
}

quint32 rotl28(quint32 half, int by)
{
    return ((half << by) | (half >> (28 - by))) & 0x0FFFFFFF;
}

// Exchanges the bits of b selected by mask with those of a selected by mask << shift.
inline void swapBits(quint32 &a, quint32 &b, int shift, quint32 mask)
{
    const quint32 t = ((a >> shift) ^ b) & mask;
    b ^= t;
    a ^= t << shift;
}

// The initial permutation and its inverse as five exchanges of bit groups each.
inline void initialPermutation(quint32 &left, quint32 &right)
{
    swapBits(left, right, 4, 0x0F0F0F0F);
    swapBits(left, right, 16, 0x0000FFFF);
    swapBits(right, left, 2, 0x33333333);
    swapBits(right, left, 8, 0x00FF00FF);
    swapBits(left, right, 1, 0x55555555);
}

inline void finalPermutation(quint32 &left, quint32 &right)
{
    swapBits(left, right, 1, 0x55555555);
    swapBits(right, left, 8, 0x00FF00FF);
    swapBits(right, left, 2, 0x33333333);
    swapBits(left, right, 16, 0x0000FFFF);
    swapBits(left, right, 4, 0x0F0F0F0F);
}

// f(R, K): the expansion E reads R in windows of six bits, four bits apart, starting at bit 32
// and wrapping around. With R turned right by one bit the even windows lie side by side without
// overlap at bits 26, 18, 10 and 2, and turned four bits further left so do the odd ones: each
// view takes its half of the round key in one exclusive or.
inline quint32 feistel(const quint32 (&sp)[8][64], quint32 r, const std::array<quint32, 2> &k)
{
    const quint32 u = std::rotr(r, 1) ^ k[0];
    const quint32 t = std::rotl(r, 3) ^ k[1];
    return sp[0][u >> 26] ^ sp[2][(u >> 18) & 0x3F] ^ sp[4][(u >> 10) & 0x3F]
           ^ sp[6][(u >> 2) & 0x3F] ^ sp[1][t >> 26] ^ sp[3][(t >> 18) & 0x3F]
           ^ sp[5][(t >> 10) & 0x3F] ^ sp[7][(t >> 2) & 0x3F];
}

quint64 crypt(const KeySchedule &keys, quint64 block, bool decrypt)
{
    const auto &sp = tables().sp;
    quint32 l = static_cast<quint32>(block >> 32);
    quint32 r = static_cast<quint32>(block);
    initialPermutation(l, r);
    if (decrypt) {
        for (int round = 15; round > 0; round -= 2) {
            l ^= feistel(sp, r, keys.rounds[round]);
            r ^= feistel(sp, l, keys.rounds[round - 1]);
        }
    } else {
        for (int round = 0; round < 16; round += 2) {
            l ^= feistel(sp, r, keys.rounds[round]);
            r ^= feistel(sp, l, keys.rounds[round + 1]);
        }
    }
    // After sixteen rounds the halves are joined the other way round, R16 L16.
    finalPermutation(r, l);
    return (quint64(r) << 32) | l;
}

} // namespace

KeySchedule::KeySchedule(quint64 key, Pc2 variant)
{
    const Tables &t = tables();
    const int v = variant == Pc2::Ostrove ? 1 : 0;
    const quint64 cd = t.pc1.apply(key) >> 8;
    quint32 c = static_cast<quint32>(cd >> 28) & 0x0FFFFFFF;
    quint32 d = static_cast<quint32>(cd) & 0x0FFFFFFF;
    for (int round = 0; round < 16; ++round) {
        c = rotl28(c, kShifts[round]);
        d = rotl28(d, kShifts[round]);
        quint64 roundKey = 0;
        for (int slice = 0; slice < 4; ++slice) {
            const int shift = 28 - 7 * (slice + 1);
            roundKey |= t.pc2c[v][slice][(c >> shift) & 0x7F];
            roundKey |= t.pc2d[v][slice][(d >> shift) & 0x7F];
        }
        // Group g is byte g of roundKey; even groups go to the first word, odd to the second.
        quint32 even = 0;
        quint32 odd = 0;
        for (int pair = 0; pair < 4; ++pair) {
            const int shift = 26 - 8 * pair;
            even |= static_cast<quint32>((roundKey >> (16 * pair)) & 0x3F) << shift;
            odd |= static_cast<quint32>((roundKey >> (16 * pair + 8)) & 0x3F) << shift;
        }
        rounds[round] = {even, odd};
    }
}

quint64 encryptBlock(const KeySchedule &keys, quint64 block)
{
    return crypt(keys, block, false);
}

quint64 decryptBlock(const KeySchedule &keys, quint64 block)
{
    return crypt(keys, block, true);
}

quint64 loadBlock(const unsigned char *bytes)
{
    return qFromBigEndian<quint64>(bytes);
}

void storeBlock(quint64 block, unsigned char *bytes)
{
    qToBigEndian(block, bytes);
}

} // namespace des
