#pragma once

#include <QString>
#include <QtGlobal>
#include <cstddef>

// MD5 as RFC 1321 defines it: start, add any number of bytes, finish.
class Md5Context
{
public:
    Md5Context() { Start(); }

    void Start();
    void Add(const void *data, std::size_t count);
    // Pads the message and gives the 16 digest bytes; start again before reuse.
    void Finish(quint8 digest[16]);

    quint32 state[4] = {};
    quint32 bitCount[2] = {}; // low word first
    quint8 block[64] = {};

private:
    void Transform(const quint8 chunk[64]);
};

// The 16 digest bytes as 32 uppercase hexadecimal digits.
QString Md5Text(const quint8 digest[16]);

// MD5 of a whole file as 32 uppercase hexadecimal digits; empty when the file
// cannot be opened (or cannot be read to its end).
QString FileFingerprint(const QString &path);
