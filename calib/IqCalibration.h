#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <array>

class CXmit;

// The modulator's I/Q corrections: for each output frequency an amplitude
// and a phase correction. The table mirrors the device's numbered file 600.
inline constexpr int kIqMaxRows = 100;
inline constexpr quint16 kIqDeviceFile = 600;
// Corrections travel as unsigned 16-bit values with this offset added.
inline constexpr int kIqCorrectionOffset = 10000;
// Bytes of one row in the device image and in .iqc files.
inline constexpr int kIqRowBytes = 6;

struct IqCalibrationRow
{
    qint32 frequencyMHz = 0;
    qint32 dAmp = 0;
    qint32 dPhi = 0;

    friend bool operator==(const IqCalibrationRow &, const IqCalibrationRow &) = default;
};

struct IqCalibrationTable
{
    qint32 rowCount = 0; // 0 to kIqMaxRows
    std::array<IqCalibrationRow, kIqMaxRows> rows{};
};

// Row codec shared by the device image and the files: frequency, dAmp + 10000
// and dPhi + 10000, each the low 16 bits, low byte first.
void EncodeIqRow(const IqCalibrationRow &row, quint8 *out);
IqCalibrationRow DecodeIqRow(const quint8 *in);

// "PFZJ", the row count and the rows: 5 + 6n bytes.
QByteArray EncodeIqImage(const IqCalibrationTable &table);
// The row count and the rows: 1 + 6n bytes.
QByteArray EncodeIqFile(const IqCalibrationTable &table);

// Largest .iqc content worth reading: a full table. Longer files keep their
// first rows; anything after the announced rows is ignored.
inline constexpr int kIqFileMaxBytes = 1 + kIqRowBytes * kIqMaxRows;

// Decodes an .iqc file into table. A count above 100, or fewer bytes than
// the count announces, is refused (false) and the table is left alone.
bool DecodeIqFile(const QByteArray &bytes, IqCalibrationTable &table);

// Reads a decimal integer from the start of text the way "%d" does: leading
// blanks skipped, an optional sign, then digits; 0 when there is no number.
// Values beyond 32 bits saturate.
qint32 ParseLeadingInt(const QString &text);

// The device is asked about its table only in manufacturer mode, from
// hardware version 3 on, and only by the 0x78 family.
bool IqDeviceAccessAllowed(const CXmit &xmit);

// Reads file 600 into table when access is allowed; returns false, touching
// nothing, when it is not. A device that does not answer, or whose file does
// not start with the magic, leaves the table empty. Counts above 100 keep
// the first 100 rows; a short reply keeps only the rows it holds in full.
bool ReadIqTableFromDevice(CXmit &xmit, IqCalibrationTable &table);

// Writes the table as file 600 and applies it (open, write, close, 0xB0,
// whatever each result) when access is allowed; false when it is not.
bool WriteIqTableToDevice(CXmit &xmit, const IqCalibrationTable &table);
