#pragma once

#include "calib/IqCalibration.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Configuration and calibration files on the PC: names, folder, reading with
// bounds, and saving that never loses the file being replaced.

// A configuration record is never longer than this; longer files are refused.
inline constexpr int kConfigRecordCapacity = 4096;

// ".vxc" for the 0x78 family, ".vx360sd" for the 0x82 family.
QString ConfigExtension(quint8 deviceType);
// The one filter of the configuration dialogs, e.g. "Config. (*.vxc)".
QString ConfigFileFilter(quint8 deviceType);
inline const QString kIqExtension = QStringLiteral(".iqc");
inline const QString kIqFileFilter = QStringLiteral("IQ-Table. (*.iqc)");

// The path a dialog returned, with extension appended (as given) unless the
// path already ends with it in any mix of case.
QString WithExtension(const QString &path, const QString &extension);
// Configuration files get their extension in capitals (abc -> abc.VXC).
QString ConfigFilePath(const QString &chosen, quint8 deviceType);
// Calibration files get ".iqc" in small letters.
QString IqFilePath(const QString &chosen);

// Where both file dialogs open: the config folder under the working folder.
QString ConfigFolder();

// Writes bytes to a temporary file beside path and renames it over path, so
// an existing file survives any failure. False when anything failed.
bool SaveFileSafely(const QString &path, const QByteArray &bytes);

// A file save in two steps, for callers that must know the file can be
// created before they produce its content.
class SafeFileWriter
{
public:
    explicit SafeFileWriter(const QString &path);
    ~SafeFileWriter();
    SafeFileWriter(const SafeFileWriter &) = delete;
    SafeFileWriter &operator=(const SafeFileWriter &) = delete;

    bool Open();
    // Writes everything and puts the file in place; false leaves the old one.
    bool Commit(const QByteArray &bytes);

private:
    class Impl;
    Impl *m_impl;
};

struct ConfigFileRead
{
    enum class Status {
        Ok,
        CannotOpen,
        TooLong,        // more than a record can hold
        ReadFailed,     // opened, but not read in full
        CompactUnder82, // a 0x78 record offered to a 0x82 device
        TooShort,       // under a 0x82 device: shorter than any full record
        NoCompactMagic, // a 0x78 device's loader will refuse it
    };
    Status status = Status::CannotOpen;
    // Ok and NoCompactMagic: the file's bytes followed by zeros, always
    // kConfigRecordCapacity bytes.
    QByteArray record;
};

// Reads a configuration file for a device of deviceType.
ConfigFileRead ReadConfigFile(const QString &path, quint8 deviceType);

// True when bytes are plainly a compact (0x78) record: its magic first and
// its length field equal to the number of bytes.
bool IsCompactRecord(const QByteArray &bytes);

enum class IqFileRead { Ok, CannotOpen, Refused };
// Reads an .iqc file into table; on anything but Ok the table is unchanged.
IqFileRead ReadIqFile(const QString &path, IqCalibrationTable &table);
