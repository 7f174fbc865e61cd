#include "calib/IqCalibration.h"

#include "app/AppState.h"
#include "app/DecimalText.h"
#include "link/CXmit.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr quint8 kIqMagic[4] = {0x50, 0x46, 0x5A, 0x4A};

// Sub-commands of the numbered-file command.
constexpr quint8 kFileOpenWrite = 0x00;
constexpr quint8 kFileOpenRead = 0x01;
constexpr quint8 kFileClose = 0x02;
constexpr quint8 kFileRead = 0x03;

constexpr int kOpenTimeoutMs = 500;
constexpr int kTransferTimeoutMs = 5000;
constexpr int kApplyTimeoutMs = 500;

void PutU16(quint8 *out, qint32 value)
{
    out[0] = static_cast<quint8>(value & 0xFF);
    out[1] = static_cast<quint8>((value >> 8) & 0xFF);
}

qint32 GetU16(const quint8 *in)
{
    return qint32(in[0]) | (qint32(in[1]) << 8);
}

int ShownRows(const IqCalibrationTable &table)
{
    return std::clamp(table.rowCount, 0, kIqMaxRows);
}

void AppendRows(QByteArray &out, const IqCalibrationTable &table)
{
    out.append(char(quint8(table.rowCount & 0xFF)));
    for (int i = 0; i < ShownRows(table); ++i) {
        quint8 row[kIqRowBytes];
        EncodeIqRow(table.rows[size_t(i)], row);
        out.append(reinterpret_cast<const char *>(row), kIqRowBytes);
    }
}

} // namespace

void EncodeIqRow(const IqCalibrationRow &row, quint8 *out)
{
    // Wrap-around is part of the format: only the low 16 bits travel.
    PutU16(out, row.frequencyMHz);
    PutU16(out + 2, qint32(quint32(row.dAmp) + kIqCorrectionOffset));
    PutU16(out + 4, qint32(quint32(row.dPhi) + kIqCorrectionOffset));
}

IqCalibrationRow DecodeIqRow(const quint8 *in)
{
    return {GetU16(in), GetU16(in + 2) - kIqCorrectionOffset, GetU16(in + 4) - kIqCorrectionOffset};
}

QByteArray EncodeIqImage(const IqCalibrationTable &table)
{
    QByteArray out(reinterpret_cast<const char *>(kIqMagic), 4);
    AppendRows(out, table);
    return out;
}

QByteArray EncodeIqFile(const IqCalibrationTable &table)
{
    QByteArray out;
    AppendRows(out, table);
    return out;
}

bool DecodeIqFile(const QByteArray &bytes, IqCalibrationTable &table)
{
    if (bytes.isEmpty())
        return false;
    const auto *data = reinterpret_cast<const quint8 *>(bytes.constData());
    const int count = data[0];
    if (count > kIqMaxRows || bytes.size() < 1 + qsizetype(kIqRowBytes) * count)
        return false;
    table.rowCount = count;
    for (int i = 0; i < count; ++i)
        table.rows[size_t(i)] = DecodeIqRow(data + 1 + kIqRowBytes * i);
    return true;
}

qint32 ParseLeadingInt(const QString &text)
{
    qint32 value = 0;
    ScanDecimal(text, &value);
    return value;
}

bool IqDeviceAccessAllowed(const CXmit &xmit)
{
    return g_manufacturerMode != 0 && g_hardwareVersion >= 3 && xmit.m_deviceType == kDeviceType78;
}

bool ReadIqTableFromDevice(CXmit &xmit, IqCalibrationTable &table)
{
    if (!IqDeviceAccessAllowed(xmit))
        return false;
    table.rowCount = 0;

    const quint8 open[3] = {kFileOpenRead, quint8(kIqDeviceFile & 0xFF),
                            quint8(kIqDeviceFile >> 8)};
    if (!xmit.Transact(kCmdFile, open, 3, kOpenTimeoutMs))
        return true; // nothing to close

    const quint8 readHead[3] = {kFileRead, 5, 0};
    if (xmit.Transact(kCmdFile, readHead, 3, kTransferTimeoutMs) && xmit.m_replyLength >= 5 &&
        std::memcmp(xmit.m_reply, kIqMagic, 4) == 0) {
        const int announced = xmit.m_reply[4];
        // The device is asked for all it announced, even rows beyond the
        // table's slots, so its file is read as it expects.
        quint8 rows[kIqRowBytes * 255] = {};
        const auto wanted = quint16(kIqRowBytes * announced);
        if (xmit.ReadFileData(wanted, rows, int(sizeof rows))) {
            const int complete = std::min(xmit.m_replyLength, int(wanted)) / kIqRowBytes;
            const int kept = std::min({announced, complete, kIqMaxRows});
            for (int i = 0; i < kept; ++i)
                table.rows[size_t(i)] = DecodeIqRow(rows + kIqRowBytes * i);
            table.rowCount = kept;
        }
    }

    const quint8 close[1] = {kFileClose};
    xmit.Transact(kCmdFile, close, 1, kTransferTimeoutMs);
    return true;
}

bool WriteIqTableToDevice(CXmit &xmit, const IqCalibrationTable &table)
{
    if (!IqDeviceAccessAllowed(xmit))
        return false;
    const QByteArray image = EncodeIqImage(table);

    // Every step is taken whatever the one before gave: a failure raises the
    // link error, and the connection watch deals with it.
    const quint8 open[3] = {kFileOpenWrite, quint8(kIqDeviceFile & 0xFF),
                            quint8(kIqDeviceFile >> 8)};
    xmit.Transact(kCmdFile, open, 3, kOpenTimeoutMs);
    xmit.WriteFileData(reinterpret_cast<const quint8 *>(image.constData()), quint16(image.size()));
    const quint8 close[1] = {kFileClose};
    xmit.Transact(kCmdFile, close, 1, kTransferTimeoutMs);
    xmit.Transact(kCmdApply, nullptr, 0, kApplyTimeoutMs);
    return true;
}
