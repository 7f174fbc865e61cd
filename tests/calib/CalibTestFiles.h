#pragma once

// Small byte and file helpers shared by the calibration tests.

#include <QByteArray>
#include <QFile>
#include <QString>

inline QByteArray Hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text));
}

inline bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// The file's bytes, or "<missing>" when it cannot be read.
inline QByteArray ReadFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
