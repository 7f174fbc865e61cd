#include "calib/CalibFiles.h"

#include "app/AppState.h"
#include "link/CXmit.h"
#include "settings/DeviceConfig.h"

#include <QFile>
#include <QSaveFile>
#include <QtEndian>

namespace {

bool StartsWithCompactMagic(const QByteArray &bytes)
{
    return bytes.size() >= 4 && qFromLittleEndian<quint32>(bytes.constData()) == kCompactMagic;
}

} // namespace

QString ConfigExtension(quint8 deviceType)
{
    return deviceType == kDeviceType82 ? QStringLiteral(".vx360sd") : QStringLiteral(".vxc");
}

QString ConfigFileFilter(quint8 deviceType)
{
    return QStringLiteral("Config. (*%1)").arg(ConfigExtension(deviceType));
}

QString WithExtension(const QString &path, const QString &extension)
{
    if (path.endsWith(extension, Qt::CaseInsensitive))
        return path;
    return path + extension;
}

QString ConfigFilePath(const QString &chosen, quint8 deviceType)
{
    return WithExtension(chosen, ConfigExtension(deviceType).toUpper());
}

QString IqFilePath(const QString &chosen)
{
    return WithExtension(chosen, kIqExtension);
}

QString ConfigFolder()
{
    return g_workingFolder + QStringLiteral("/config/");
}

class SafeFileWriter::Impl
{
public:
    explicit Impl(const QString &path) : file(path) {}
    QSaveFile file;
};

SafeFileWriter::SafeFileWriter(const QString &path) : m_impl(new Impl(path)) {}

SafeFileWriter::~SafeFileWriter()
{
    delete m_impl; // an uncommitted temporary file is removed here
}

bool SafeFileWriter::Open()
{
    // Never fall back to writing the target in place: that is what loses
    // the old file when the write fails.
    m_impl->file.setDirectWriteFallback(false);
    return m_impl->file.open(QIODevice::WriteOnly);
}

bool SafeFileWriter::Commit(const QByteArray &bytes)
{
    if (!m_impl->file.isOpen())
        return false;
    // Buffered bytes reach the disk in flush(); a failure there (a full
    // disk) must count as much as one in write().
    if (m_impl->file.write(bytes) != bytes.size() || !m_impl->file.flush()) {
        m_impl->file.cancelWriting();
        m_impl->file.commit(); // discards the temporary file
        return false;
    }
    return m_impl->file.commit();
}

bool SaveFileSafely(const QString &path, const QByteArray &bytes)
{
    SafeFileWriter writer(path);
    return writer.Open() && writer.Commit(bytes);
}

bool IsCompactRecord(const QByteArray &bytes)
{
    if (bytes.size() < kCompactHeaderSize || !StartsWithCompactMagic(bytes))
        return false;
    const auto *data = reinterpret_cast<const quint8 *>(bytes.constData());
    const int length = data[5] | (data[6] << 8);
    return length == bytes.size();
}

ConfigFileRead ReadConfigFile(const QString &path, quint8 deviceType)
{
    using Status = ConfigFileRead::Status;
    ConfigFileRead result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.status = Status::CannotOpen;
        return result;
    }
    // One byte more than a record can hold tells a long file from a full one,
    // whatever the file system reports as its size.
    QByteArray bytes = file.read(kConfigRecordCapacity + 1);
    if (bytes.size() > kConfigRecordCapacity) {
        result.status = Status::TooLong;
        return result;
    }
    if (file.error() != QFileDevice::NoError || (file.size() > 0 && bytes.size() < file.size())) {
        result.status = Status::ReadFailed;
        return result;
    }
    if (deviceType == kDeviceType82 && IsCompactRecord(bytes)) {
        result.status = Status::CompactUnder82;
        return result;
    }
    // A full record is never shorter than its fixed fields and the ends of
    // its texts; a shorter file (an empty one, say) would load as zeros and
    // then be written to the device as its default.
    if (deviceType == kDeviceType82 && bytes.size() < kShortestFullRecord) {
        result.status = Status::TooShort;
        return result;
    }
    result.status = deviceType == kDeviceType78 && !StartsWithCompactMagic(bytes)
                        ? Status::NoCompactMagic
                        : Status::Ok;
    bytes.append(QByteArray(kConfigRecordCapacity - bytes.size(), '\0'));
    result.record = bytes;
    return result;
}

IqFileRead ReadIqFile(const QString &path, IqCalibrationTable &table)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return IqFileRead::CannotOpen;
    const QByteArray bytes = file.read(kIqFileMaxBytes);
    if (file.error() != QFileDevice::NoError)
        return IqFileRead::Refused;
    return DecodeIqFile(bytes, table) ? IqFileRead::Ok : IqFileRead::Refused;
}
