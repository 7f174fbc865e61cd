#include "link/SerialPort.h"

#include <QFileInfo>
#include <QSerialPort>
#include <functional>
#include <optional>

namespace {

// QSerialPort used without an event loop: reads wait at most a couple of
// milliseconds, writes wait until the driver has taken the bytes.
class SystemSerialPort final : public SerialPort
{
public:
    explicit SystemSerialPort(std::optional<LineSetting> refused = std::nullopt)
        : m_refused(refused)
    {
    }

    OpenResult open(const QString &path, QString *errorText) override
    {
        m_port.close();
        m_port.setPortName(path);
        if (!m_port.open(QIODevice::ReadWrite)) {
            const auto error = m_port.error();
            OpenResult result = OpenResult::Failed;
            QString why = m_port.errorString();
            if (error == QSerialPort::DeviceNotFoundError) {
                result = OpenResult::Missing;
            } else if (error == QSerialPort::PermissionError) {
                // Qt reports a port held by another program as a permission
                // error too; tell the two apart by what the file allows.
                const QFileInfo info(path);
                if (info.exists() && !(info.isReadable() && info.isWritable())) {
                    result = OpenResult::PermissionDenied;
                    why = QStringLiteral("permission denied");
                } else {
                    result = OpenResult::Busy;
                    why = QStringLiteral("in use by another program");
                }
            } else if (error == QSerialPort::OpenError) {
                result = OpenResult::Busy;
            }
            if (errorText)
                *errorText = why;
            return result;
        }
        // 115200 8N1; flow control and the rest stay as the port reports them.
        // A port that does not take one of them would only ever look like
        // "no device": say which setting it refused instead.
        const struct
        {
            LineSetting setting;
            const char *name;
            std::function<bool()> apply;
        } settings[] = {
            {LineSetting::BaudRate, "115200 baud",
             [this] { return m_port.setBaudRate(QSerialPort::Baud115200); }},
            {LineSetting::DataBits, "8 data bits",
             [this] { return m_port.setDataBits(QSerialPort::Data8); }},
            {LineSetting::Parity, "no parity",
             [this] { return m_port.setParity(QSerialPort::NoParity); }},
            {LineSetting::StopBits, "one stop bit",
             [this] { return m_port.setStopBits(QSerialPort::OneStop); }},
        };
        for (const auto &step : settings) {
            if (m_refused != step.setting && step.apply())
                continue;
            QString why =
                QStringLiteral("it refused the line setting %1").arg(QLatin1String(step.name));
            if (m_port.error() != QSerialPort::NoError)
                why += QStringLiteral(" (%1)").arg(m_port.errorString());
            m_port.close();
            if (errorText)
                *errorText = why;
            return OpenResult::Failed;
        }
        return OpenResult::Ok;
    }

    void close() override { m_port.close(); }
    bool isOpen() const override { return m_port.isOpen(); }

    int readByte(quint8 *byte, int waitMs) override
    {
        if (!m_port.isOpen())
            return -1;
        if (m_port.bytesAvailable() == 0 && !m_port.waitForReadyRead(waitMs)) {
            const auto error = m_port.error();
            if (error == QSerialPort::ResourceError || error == QSerialPort::NotOpenError ||
                error == QSerialPort::ReadError) {
                return -1;
            }
            m_port.clearError();
            return 0;
        }
        char c = 0;
        const qint64 n = m_port.read(&c, 1);
        if (n < 0)
            return -1;
        if (n == 0)
            return 0;
        *byte = static_cast<quint8>(c);
        return 1;
    }

    bool write(const quint8 *data, int length) override
    {
        if (!m_port.isOpen())
            return false;
        qint64 done = 0;
        while (done < length) {
            const qint64 n =
                m_port.write(reinterpret_cast<const char *>(data) + done, length - done);
            if (n < 0)
                return DropUnsent();
            done += n;
        }
        // Hand everything to the driver before returning, like a blocking write.
        while (m_port.bytesToWrite() > 0) {
            if (!m_port.waitForBytesWritten(1000))
                return DropUnsent();
        }
        return true;
    }

private:
    // A write reported as failed must stay failed: what is still queued (in
    // our buffer and in the driver's) would otherwise go out later, ahead of
    // the next frame, and the device would carry out a request we gave up on.
    bool DropUnsent()
    {
        m_port.clear(QSerialPort::Output);
        m_port.clearError();
        return false;
    }

    std::optional<LineSetting> m_refused;
    QSerialPort m_port;
};

} // namespace

std::unique_ptr<SerialPort> CreateSystemSerialPort()
{
    return std::make_unique<SystemSerialPort>();
}

std::unique_ptr<SerialPort> CreateSystemSerialPortRefusing(LineSetting refused)
{
    return std::make_unique<SystemSerialPort>(refused);
}
