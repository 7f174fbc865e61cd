#include "firmware/FirmwareTransfer.h"

#include "app/StatusSink.h"
#include "app/TextTable.h"
#include "firmware/FirmwareCatalogue.h"
#include "link/CXmit.h"

#include <QFile>
#include <cstring>

namespace {

constexpr int kRowUpgradeTo = 3;
constexpr int kRowWritingWait = 8;
constexpr int kUpgradeTextMs = 10000;

constexpr quint8 kImageBegin = 0x00;
constexpr quint8 kImageEnd = 0x02;
constexpr int kImageBeginTimeoutMs = 1000;
constexpr int kImageEndTimeoutMs = 50000;

constexpr quint8 kOpenWrite = 0x00;
constexpr quint8 kOpenRead = 0x01;
constexpr quint8 kClose = 0x02;
constexpr int kOpenTimeoutMs = 500;
constexpr int kCloseTimeoutMs = 5000;

bool OpenDeviceFileNumber(CXmit &xmit, quint8 how, quint16 number)
{
    const quint8 request[3] = {how, quint8(number & 0xFF), quint8(number >> 8)};
    return xmit.Transact(kCmdFile, request, 3, kOpenTimeoutMs);
}

void CloseDeviceFile(CXmit &xmit)
{
    const quint8 request[1] = {kClose};
    xmit.Transact(kCmdFile, request, 1, kCloseTimeoutMs);
}

// Reads exactly n bytes from file (fewer only at a read error or its end).
qint64 ReadPiece(QFile &file, quint8 *into, qint64 n)
{
    return file.read(reinterpret_cast<char *>(into), n);
}

} // namespace

bool UploadImage(CXmit &xmit, const quint8 *image, qint64 size, int release,
                 const WindowInputLock &lock)
{
    if (lock)
        lock(false);
    const quint8 begin[1] = {kImageBegin};
    // An image the offsets cannot address is never started; the catalogue
    // refuses such packages already.
    if (size < 0 || size > kMaxImageSize || (size > 0 && image == nullptr) ||
        !xmit.Transact(kCmdFile, begin, 1, kImageBeginTimeoutMs)) {
        if (lock)
            lock(true);
        return false;
    }

    Status().ShowStatus(GetText(kRowUpgradeTo) +
                            QStringLiteral(" %1.%2").arg(release / 10).arg(release % 10),
                        kUpgradeTextMs, false);

    bool ok = true;
    qint64 offset = 0;
    while (ok && offset != size) {
        const int n = int(qMin<qint64>(size - offset, kImageBlockSize));
        ok = xmit.SendImageBlock(quint32(offset), image + offset, quint16(n));
        offset += n;
        Status().SetProgress(int(size), int(offset));
    }

    if (ok) {
        Status().SetProgress(100, 100);
        Status().ShowStatus(GetText(kRowWritingWait), kUpgradeTextMs, false);
        const quint8 end[1] = {kImageEnd};
        xmit.Transact(kCmdFile, end, 1, kImageEndTimeoutMs);
    }

    if (lock)
        lock(true);
    return true;
}

bool WriteComponent(CXmit &xmit, const QString &path, quint16 fileNumber, bool lengthPrefix)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = file.size();

    if (!OpenDeviceFileNumber(xmit, kOpenWrite, fileNumber))
        return false;

    if (lengthPrefix) {
        const quint32 stored = quint32(size);
        const quint8 length[4] = {quint8(stored), quint8(stored >> 8), quint8(stored >> 16),
                                  quint8(stored >> 24)};
        xmit.WriteFileData(length, 4);
    }

    bool ok = true;
    quint8 piece[kComponentPieceSize];
    for (qint64 offset = 0; offset < size && ok; offset += kComponentPieceSize) {
        const qint64 n = ReadPiece(file, piece, kComponentPieceSize);
        if (n <= 0) {
            ok = false; // the file went away or shrank under us
            break;
        }
        ok = xmit.WriteFileData(piece, quint16(n));
        Status().SetProgress(int(size), int(offset));
    }

    CloseDeviceFile(xmit);
    return ok;
}

bool VerifyComponent(CXmit &xmit, const QString &path, quint16 fileNumber, bool lengthPrefix)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    if (!OpenDeviceFileNumber(xmit, kOpenRead, fileNumber))
        return false;

    const qint64 size = file.size();
    quint8 devicePiece[kComponentPieceSize];
    quint8 filePiece[kComponentPieceSize];

    if (lengthPrefix) {
        std::memset(devicePiece, 0, sizeof devicePiece);
        const bool read = xmit.ReadFileData(4, devicePiece, kComponentPieceSize);
        const quint32 stored = quint32(devicePiece[0]) | (quint32(devicePiece[1]) << 8) |
                               (quint32(devicePiece[2]) << 16) | (quint32(devicePiece[3]) << 24);
        if (!read || xmit.m_replyLength < 4 || qint64(stored) != size)
            return false; // left open: the next open or the restart ends it
    }

    bool ok = true;
    for (qint64 offset = 0; offset < size && ok; offset += kComponentPieceSize) {
        const int n = int(qMin<qint64>(size - offset, kComponentPieceSize));
        // What the device did not send cannot be taken for a match.
        const bool read = xmit.ReadFileData(quint16(n), devicePiece, kComponentPieceSize);
        const bool full = read && xmit.m_replyLength >= n;
        const qint64 fromFile = ReadPiece(file, filePiece, n);
        if (!full || fromFile != n || std::memcmp(devicePiece, filePiece, size_t(n)) != 0)
            ok = false;
        Status().SetProgress(int(size), int(offset));
    }

    Status().ShowStatus(QString(), 1, false);
    CloseDeviceFile(xmit);
    return ok;
}
