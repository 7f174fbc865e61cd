#include "firmware/Md5.h"

#include <QFile>
#include <cstring>

namespace {

constexpr int kReadBlock = 16384;

constexpr quint32 kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

constexpr int kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

inline quint32 Rotate(quint32 x, int n)
{
    return (x << n) | (x >> (32 - n));
}

} // namespace

void Md5Context::Start()
{
    state[0] = 0x67452301;
    state[1] = 0xefcdab89;
    state[2] = 0x98badcfe;
    state[3] = 0x10325476;
    bitCount[0] = bitCount[1] = 0;
}

void Md5Context::Transform(const quint8 chunk[64])
{
    quint32 x[16];
    for (int i = 0; i < 16; ++i) {
        x[i] = quint32(chunk[4 * i]) | (quint32(chunk[4 * i + 1]) << 8) |
               (quint32(chunk[4 * i + 2]) << 16) | (quint32(chunk[4 * i + 3]) << 24);
    }
    quint32 a = state[0], b = state[1], c = state[2], d = state[3];
    // One step: a becomes b + (a + f + constant + word) rotated; the four
    // words then move round by one.
    auto step = [&](quint32 f, int i, int g) {
        const quint32 next = d;
        d = c;
        c = b;
        b = b + Rotate(a + f + kSine[i] + x[g], kShift[i]);
        a = next;
    };
    // Four rounds of sixteen, each with its own function and word order;
    // unrolled, the shifts and constants become immediates.
#pragma GCC unroll 16
    for (int i = 0; i < 16; ++i)
        step((b & c) | (~b & d), i, i);
#pragma GCC unroll 16
    for (int i = 16; i < 32; ++i)
        step((b & d) | (c & ~d), i, (5 * i + 1) & 15);
#pragma GCC unroll 16
    for (int i = 32; i < 48; ++i)
        step(b ^ c ^ d, i, (3 * i + 5) & 15);
#pragma GCC unroll 16
    for (int i = 48; i < 64; ++i)
        step(c ^ (b | ~d), i, (7 * i) & 15);
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

void Md5Context::Add(const void *data, std::size_t count)
{
    if (count == 0)
        return; // nothing to add, and data may be null
    const auto *in = static_cast<const quint8 *>(data);
    std::size_t have = (bitCount[0] >> 3) & 63;

    // 64-bit bit count in two words, carrying into the high one.
    const quint64 bits = (quint64(bitCount[1]) << 32 | bitCount[0]) + quint64(count) * 8;
    bitCount[0] = quint32(bits);
    bitCount[1] = quint32(bits >> 32);

    if (have > 0) {
        const std::size_t take = std::min<std::size_t>(64 - have, count);
        std::memcpy(block + have, in, take);
        have += take;
        in += take;
        count -= take;
        if (have < 64)
            return;
        Transform(block);
    }
    while (count >= 64) {
        std::memcpy(block, in, 64);
        Transform(block);
        in += 64;
        count -= 64;
    }
    if (count > 0)
        std::memcpy(block, in, count);
}

void Md5Context::Finish(quint8 digest[16])
{
    quint8 length[8];
    for (int i = 0; i < 4; ++i) {
        length[i] = quint8(bitCount[0] >> (8 * i));
        length[4 + i] = quint8(bitCount[1] >> (8 * i));
    }
    // 0x80, zeros up to 56 bytes modulo 64, then the bit count.
    static const quint8 padding[64] = {0x80};
    const std::size_t have = (bitCount[0] >> 3) & 63;
    Add(padding, have < 56 ? 56 - have : 120 - have);
    Add(length, 8);
    for (int i = 0; i < 4; ++i)
        for (int k = 0; k < 4; ++k)
            digest[4 * i + k] = quint8(state[i] >> (8 * k));
}

QString Md5Text(const quint8 digest[16])
{
    static const char hex[] = "0123456789ABCDEF";
    QString text(32, QChar(u'0'));
    for (int i = 0; i < 16; ++i) {
        text[2 * i] = QLatin1Char(hex[digest[i] >> 4]);
        text[2 * i + 1] = QLatin1Char(hex[digest[i] & 15]);
    }
    return text;
}

QString FileFingerprint(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    Md5Context md5;
    static thread_local quint8 buffer[kReadBlock];
    for (;;) {
        const qint64 got = file.read(reinterpret_cast<char *>(buffer), kReadBlock);
        if (got < 0)
            return QString(); // a digest of part of a file would match nothing honest
        if (got == 0)
            break;
        md5.Add(buffer, std::size_t(got));
    }
    quint8 digest[16];
    md5.Finish(digest);
    return Md5Text(digest);
}
