#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class CXmit;

// Largest image the 24-bit block offsets can address.
inline constexpr qint64 kMaxImageSize = qint64(1) << 24;
// Start of a device file read to decide whether a component is current.
inline constexpr int kHeaderBufferSize = 512;
inline constexpr int kMaxComponents = 5;

// One line of firmware.cfg.
struct ComponentEntry
{
    QString file;
    QString name;
    QString digest; // uppercase
    qint32 fileNumber = 0;
    qint32 identityOffset = 0;
    quint8 identityLength = 0;
    qint32 versionOffset = 0;
    qint32 identityValue = 0;
    quint8 release = 0;
    quint8 needsWrite = 0;
    quint8 lengthPrefix = 0;
    // The line asks for more than the header buffer holds, or names a file
    // outside the hardware folder: never read from the device nor written,
    // not even by a reload.
    quint8 refused = 0;
};

struct ComponentList
{
    int count = 0;
    ComponentEntry entries[kMaxComponents];
};

// The decimal whole number at the front of text: blanks skipped, an optional
// sign, digits up to the first non-digit; 0 without digits.
qint32 ReadDecimal(const QString &text);

// Hardware folder of the connected device: g_firmwareFolder + "H<hw>/".
QString FirmwareFolderForHardware();

// Newest image package for deviceName in g_firmwareFolder. Gives its release
// (0: no usable package) and, when the package could be read, its bytes.
// Shows the plain "MD5 Error..." box for a damaged package (release 99
// excepted) and a warning for one too large to send. Result: the package's path.
QString FindFirmwarePackage(const QString &deviceName, int *release, QByteArray *image);

// Fills list from the hardware folder's firmware.cfg (checked against
// extension.bin) and reads the start of each component's device file to mark
// the foreign or older ones. Beeps and shows "Configuration Error" for 3 s
// when anything in the catalogue was wrong; false then.
bool LoadComponentList(CXmit &xmit, const QString &listPath, const QString &digestPath,
                       ComponentList &list);

// One line of firmware.cfg as an entry (needsWrite 0). Exposed for tests.
ComponentEntry ParseComponentLine(const QString &line);
