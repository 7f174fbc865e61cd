#pragma once

#include "link/SerialPort.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <functional>
#include <memory>

// Device type codes of the two families.
inline constexpr quint8 kDeviceType82 = 0x82;
inline constexpr quint8 kDeviceType78 = 0x78;

// Reply codes (high nibble of a reply header).
inline constexpr quint8 kReplyOk = 0xF0;
inline constexpr quint8 kReplyRefused = 0xE0;

// Command codes.
inline constexpr quint8 kCmdIdentify = 0x10;
inline constexpr quint8 kCmdRestart82 = 0x20;
inline constexpr quint8 kCmdWriteConfig = 0x50;
inline constexpr quint8 kCmdReadConfig = 0x70;
inline constexpr quint8 kCmdCommandLine = 0x80;
inline constexpr quint8 kCmdPathFile = 0xA0;
inline constexpr quint8 kCmdApply = 0xB0;
inline constexpr quint8 kCmdFile = 0xC0;
inline constexpr quint8 kCmdRestart78 = 0xD0;

// Largest reply payload kept; a reply announcing more is not accepted.
inline constexpr int kReplyCapacity = 4096;
// Largest request payload: a 4096-byte record behind a sub-command byte,
// with room to spare; the firmware blocks (2052 bytes) are well inside.
inline constexpr int kMaxRequestPayload = 4100;
// Worst case on the line: start byte, then header, two length bytes, the
// payload and the check, every one of them doubled.
inline constexpr int kTxFrameCapacity = 1 + 2 * (1 + 2 + kMaxRequestPayload + 1);
// Text buffers of the command line and path requests.
inline constexpr int kTextBufferSize = 256;

// Identity of the last device found (or polled), process-wide.
extern quint8 g_softwareVersion;
extern quint8 g_hardwareVersion;

class CXmit
{
public:
    // A port the last scan found but could not open (permissions, another
    // program holding it, a line setting it refused).
    struct RefusedPort
    {
        QString path;
        QString reason;
        SerialPort::OpenResult kind = SerialPort::OpenResult::Failed;
    };

    CXmit();
    virtual ~CXmit();
    CXmit(const CXmit &) = delete;
    CXmit &operator=(const CXmit &) = delete;

    // Which ports a scan walks: the given paths in this order, or, when the
    // list is empty, the machine's serial ports sorted by system location.
    void SetPortPaths(const QStringList &paths);
    QStringList PortPaths() const;
    // Builds the port objects; tests substitute their own.
    void SetPortFactory(std::function<std::unique_ptr<SerialPort>()> factory);

    // Discovery: asks every port once, all at once, and waits one
    // identification time-out at most. The device found is the one on the
    // first port in scan order (starting where the device was last found)
    // whose reply makes a device, exactly as trying the ports one after the
    // other would find it. Only that port stays open; returns the software
    // version of the device found, or 0.
    quint8 FindDevice();
    // The same scan, one port after the other (each silent port costs a
    // whole time-out); kept for comparison.
    quint8 FindDeviceSequential();
    void ClosePort();
    bool IsPortOpen() const;
    QString CurrentPortPath() const { return m_portPath; }
    const QList<RefusedPort> &LastScanRefusals() const { return m_refusals; }

    // One request, one reply. True when a good reply came in time and the
    // device did not refuse; the payload is then in m_reply/m_replyLength.
    bool Transact(quint8 command, const quint8 *payload, int length, int timeoutMs);
    void WriteFrame();
    bool ReadReply(int timeoutMs);

    // Command operations.
    quint8 PollIdentity(quint8 *buffer = nullptr, int bufferSize = 0);
    bool WriteFileData(const quint8 *data, quint16 n);
    // Asks for the next n bytes of the open file; at most kReplyCapacity
    // (one reply's worth): a larger n is refused without sending (false,
    // m_linkError unchanged). Keeps at most destinationSize bytes.
    bool ReadFileData(quint16 n, quint8 *destination, int destinationSize);
    bool RunCommandLine(const QString &text);
    bool OpenDeviceFile(const QString &path);
    bool SendImageBlock(quint32 offset, const quint8 *data, quint16 n);
    // One byte per character (U+0000 to U+00FF), then a zero byte. Returns
    // the bytes written including the zero, or -1 (nothing written) when the
    // text holds a character above U+00FF, or when the text and its zero do
    // not fit in destinationSize. RunCommandLine and OpenDeviceFile then send
    // nothing and return false.
    static int ToDeviceText(const QString &text, quint8 *destination, int destinationSize);

    int m_rebootPending = 0;
    quint8 m_deviceType = 0;
    // Index, in PortPaths(), of the port where the device was last found.
    int m_portNumber = 0;

    quint8 m_replyCode = 0;
    quint8 m_reply[kReplyCapacity] = {};
    int m_replyLength = 0;
    int m_txLength = 0;
    quint8 m_txFrame[kTxFrameCapacity] = {};
    quint8 m_txCheck = 0;

    std::unique_ptr<SerialPort> m_hPort;
    int m_linkError = 0;

private:
    class ReplyReceiver;

    bool StoreIdentity();
    static bool IsDeviceReply(quint8 code, const quint8 *payload, int length);
    int ScanStart(const QStringList &ports) const;
    QStringList BeginScan(int *start);
    std::unique_ptr<SerialPort> OpenForScan(const QString &path);
    static void DropStaleInput(SerialPort &port);
    void BuildRequest(quint8 command, const quint8 *payload, int length);
    void WriteFrameTo(SerialPort &port);
    void AppendTx(quint8 value, bool isCheck);

    QStringList m_portPaths;
    QString m_portPath;      // path of the open port
    QString m_lastFoundPath; // where the device was last found
    QList<RefusedPort> m_refusals;
    std::function<std::unique_ptr<SerialPort>()> m_factory;
};

// The program's one link.
extern CXmit g_xmit;
