#pragma once

#include <QString>
#include <QtGlobal>
#include <memory>

// The few things the link needs from a serial port: open a path at
// 115200 8N1, read one byte with a short idle time-out, write blocking.
// The real port is QSerialPort; tests may substitute their own.
class SerialPort
{
public:
    enum class OpenResult {
        Ok,
        Missing,          // no such port
        Busy,             // in use by another program
        PermissionDenied, // the user may not open it
        Failed,           // anything else
    };

    virtual ~SerialPort() = default;

    // Opens the port and sets 115200 baud, 8 data bits, no parity, one stop
    // bit; other line settings stay as the port reports them. On failure,
    // errorText (when given) says why in plain English.
    virtual OpenResult open(const QString &path, QString *errorText) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // One byte: 1 when a byte was read, 0 when none arrived within waitMs
    // (about 2 ms while a reply is awaited; 0 to take only what has already
    // arrived), -1 when the port failed (unplugged, closed by the other side).
    virtual int readByte(quint8 *byte, int waitMs) = 0;

    // Writes all bytes, waiting until they are handed to the driver.
    virtual bool write(const quint8 *data, int length) = 0;
};

// The QSerialPort-backed port used by the program. A port that refuses one
// of the line settings fails to open (Failed, saying which setting).
std::unique_ptr<SerialPort> CreateSystemSerialPort();

// The line settings open() makes, in the order it makes them.
enum class LineSetting { BaudRate, DataBits, Parity, StopBits };
// For tests: the system port, but as if its driver refused one line setting.
std::unique_ptr<SerialPort> CreateSystemSerialPortRefusing(LineSetting refused);
