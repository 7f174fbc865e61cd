#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>

class CXmit;

inline constexpr int kImageBlockSize = 2048;
inline constexpr int kComponentPieceSize = 200;

// How the upload holds off the user: called with false before it starts and
// with true when it is over. Empty: nothing to hold off.
using WindowInputLock = std::function<void(bool enabled)>;

// Sends an image to a 0x82 device: start, 2048-byte blocks at 24-bit offsets,
// finish. True once the device accepted the start, whatever followed.
bool UploadImage(CXmit &xmit, const quint8 *image, qint64 size, int release,
                 const WindowInputLock &lock = {});

// Copies a component file into device file fileNumber of a 0x78 device, with
// its length in front when lengthPrefix is set.
bool WriteComponent(CXmit &xmit, const QString &path, quint16 fileNumber, bool lengthPrefix);

// Reads the device file back and compares it with the component file. A read
// that fails or comes back short counts as a difference.
bool VerifyComponent(CXmit &xmit, const QString &path, quint16 fileNumber, bool lengthPrefix);
