#include "link/CXmit.h"

#include <QElapsedTimer>
#include <QSerialPortInfo>
#include <algorithm>
#include <cstring>
#include <vector>

quint8 g_softwareVersion = 0;
quint8 g_hardwareVersion = 0;

CXmit g_xmit;

namespace {

constexpr quint8 kStartByte = 0x02;
// A device that floods the line must not keep the stale-input flush busy forever.
constexpr int kMaxFlushBytes = 65536;
// How long one read waits for a byte while a reply is awaited: short, so a
// time-out is noticed within a few milliseconds.
constexpr int kReplyReadWaitMs = 2;

} // namespace

CXmit::CXmit() : m_factory(&CreateSystemSerialPort) {}

CXmit::~CXmit()
{
    // Nothing is sent on the way out; the port is just let go.
    ClosePort();
}

void CXmit::SetPortPaths(const QStringList &paths)
{
    m_portPaths = paths;
}

QStringList CXmit::PortPaths() const
{
    if (!m_portPaths.isEmpty())
        return m_portPaths;
    QStringList paths;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        paths.append(info.systemLocation());
    std::sort(paths.begin(), paths.end());
    return paths;
}

void CXmit::SetPortFactory(std::function<std::unique_ptr<SerialPort>()> factory)
{
    m_factory = factory ? std::move(factory) : std::function(&CreateSystemSerialPort);
}

bool CXmit::IsPortOpen() const
{
    return m_hPort && m_hPort->isOpen();
}

void CXmit::ClosePort()
{
    if (m_hPort) {
        m_hPort->close();
        m_hPort.reset();
    }
    m_portPath.clear();
}

bool CXmit::StoreIdentity()
{
    if (m_replyLength < 1 || (m_reply[0] != kDeviceType82 && m_reply[0] != kDeviceType78))
        return false;
    m_deviceType = m_reply[0];
    // A one-byte reply carries no version: it counts as version 0, not a device.
    g_softwareVersion = m_replyLength > 1 ? m_reply[1] : 0;
    if (m_deviceType == kDeviceType82)
        g_hardwareVersion = m_replyLength > 2 ? m_reply[2] : 0;
    else
        g_hardwareVersion = m_replyLength > 3 ? m_reply[3] : 0;
    return true;
}

quint8 CXmit::FindDevice()
{
    ClosePort();
    m_refusals.clear();

    const QStringList ports = PortPaths();
    const int count = static_cast<int>(ports.size());
    if (count == 0)
        return 0;

    // Start where the device was last seen: by path when the list has
    // changed since, else by position.
    int start = m_portNumber;
    if (!m_lastFoundPath.isEmpty()) {
        const int at = static_cast<int>(ports.indexOf(m_lastFoundPath));
        if (at >= 0)
            start = at;
    }
    if (start < 0 || start >= count)
        start = 0;

    for (int k = 0; k < count; ++k) {
        const int i = (start + k) % count;
        const QString &path = ports.at(i);
        std::unique_ptr<SerialPort> port = m_factory();
        if (!port)
            continue;
        QString why;
        const SerialPort::OpenResult opened = port->open(path, &why);
        if (opened != SerialPort::OpenResult::Ok) {
            if (opened != SerialPort::OpenResult::Missing) {
                m_refusals.append({path, why, opened});
            }
            continue;
        }
        m_hPort = std::move(port);
        m_portPath = path;

        if (Transact(kCmdIdentify, nullptr, 0, 500) && StoreIdentity() && g_softwareVersion != 0) {
            m_portNumber = i;
            m_lastFoundPath = path;
            m_linkError = 0;
            return g_softwareVersion;
        }
        ClosePort();
    }
    return 0;
}

void CXmit::AppendTx(quint8 value, bool isCheck)
{
    if (!isCheck)
        m_txCheck ^= value;
    if (value == kStartByte)
        m_txFrame[m_txLength++] = kStartByte;
    m_txFrame[m_txLength++] = value;
}

bool CXmit::Transact(quint8 command, const quint8 *payload, int length, int timeoutMs)
{
    if (!IsPortOpen()) {
        m_linkError = 1;
        return false;
    }
    // A request the frame buffer cannot hold is the caller's mistake, not
    // the link's: nothing is sent and the link stays up.
    if (length < 0 || length > kMaxRequestPayload || (length > 0 && payload == nullptr))
        return false;

    // Drop what is already waiting from an earlier exchange. Waiting for
    // more would only add to every round trip.
    quint8 stale = 0;
    for (int flushed = 0; flushed < kMaxFlushBytes && m_hPort->readByte(&stale, 0) == 1;
         ++flushed) {
    }

    m_txLength = 0;
    m_txCheck = 0;
    m_txFrame[m_txLength++] = kStartByte;
    const quint8 code = command & 0xF0;
    if (length <= 3) {
        AppendTx(code | static_cast<quint8>(length), false);
    } else if (length <= 255) {
        AppendTx(code | 0x04, false);
        AppendTx(static_cast<quint8>(length), false);
    } else {
        AppendTx(code | 0x08, false);
        AppendTx(static_cast<quint8>(length >> 8), false);
        AppendTx(static_cast<quint8>(length & 0xFF), false);
    }
    for (int i = 0; i < length; ++i)
        AppendTx(payload[i], false);
    AppendTx(m_txCheck, true);
    m_txCheck = 0;

    WriteFrame();

    const bool received = ReadReply(timeoutMs);
    if (!received)
        m_linkError = 1;
    return received && m_replyCode != kReplyRefused;
}

void CXmit::WriteFrame()
{
    if (!IsPortOpen())
        return;
    for (int offset = 0; offset < m_txLength; offset += 256) {
        const int chunk = std::min(256, m_txLength - offset);
        if (!m_hPort->write(m_txFrame + offset, chunk))
            return; // the rest is not sent; the reply then times out
    }
}

bool CXmit::ReadReply(int timeoutMs)
{
    enum class State { Idle, Header, LengthHigh, Length, Payload, Check };

    if (!IsPortOpen())
        return false;

    State state = State::Idle;
    bool pending = false; // a lone start byte waits for its successor
    quint8 check = 0;
    int index = 0;
    QElapsedTimer clock; // monotonic: no wrap-around to worry about
    clock.start();

    while (clock.elapsed() < timeoutMs) {
        quint8 b = 0;
        const int got = m_hPort->readByte(&b, kReplyReadWaitMs);
        if (got < 0)
            return false; // the port itself failed; waiting longer will not help
        if (got == 0)
            continue;

        if (pending) {
            pending = false;
            if (b != kStartByte)
                state = State::Header; // a new frame begins; anything partial is dropped
        } else if (b == kStartByte) {
            pending = true;
            continue;
        }

        check ^= b;
        switch (state) {
        case State::Idle:
            break;
        case State::Header:
            if ((b & 0xE0) == 0xE0) {
                m_replyCode = b & 0xF0;
                check = b;
                index = 0;
                m_replyLength = b & 0x03;
                if (b & 0x08)
                    state = State::LengthHigh;
                else if (b & 0x04)
                    state = State::Length;
                else
                    state = m_replyLength != 0 ? State::Payload : State::Check;
            } else {
                state = State::Idle;
            }
            break;
        case State::LengthHigh:
            m_replyLength += b * 256;
            state = State::Length;
            break;
        case State::Length:
            m_replyLength += b;
            if (m_replyLength > kReplyCapacity) {
                // More than any reply we ask for and more than m_reply holds:
                // not a frame we accept. Wait for a new start byte instead.
                m_replyLength = 0;
                state = State::Idle;
            } else {
                state = m_replyLength == 0 ? State::Check : State::Payload;
            }
            break;
        case State::Payload:
            m_reply[index++] = b;
            if (index == m_replyLength)
                state = State::Check;
            break;
        case State::Check:
            return check == 0;
        }
    }
    return false;
}

quint8 CXmit::PollIdentity(quint8 *buffer, int bufferSize)
{
    if (!Transact(kCmdIdentify, nullptr, 0, 500) || !StoreIdentity())
        return 0;
    if (buffer && bufferSize > 0)
        std::memcpy(buffer, m_reply, static_cast<size_t>(std::min(m_replyLength, bufferSize)));
    return g_softwareVersion;
}

bool CXmit::WriteFileData(const quint8 *data, quint16 n)
{
    std::vector<quint8> request(static_cast<size_t>(n) + 1);
    request[0] = 0x04;
    if (n > 0)
        std::memcpy(request.data() + 1, data, n);
    return Transact(kCmdFile, request.data(), static_cast<int>(request.size()), 5000);
}

bool CXmit::ReadFileData(quint16 n, quint8 *destination, int destinationSize)
{
    // No reply can carry more: the device's honest answer would be refused
    // by the receiver and end in a time-out. The caller's mistake; nothing
    // is sent and the link stays up.
    if (n > kReplyCapacity)
        return false;
    const quint8 request[3] = {0x03, static_cast<quint8>(n & 0xFF), static_cast<quint8>(n >> 8)};
    if (!Transact(kCmdFile, request, 3, 5000))
        return false;
    // The device decides how much it sends; the caller's buffer decides how
    // much is kept.
    if (destination && destinationSize > 0) {
        std::memcpy(destination, m_reply,
                    static_cast<size_t>(std::min(m_replyLength, destinationSize)));
    }
    return true;
}

int CXmit::ToDeviceText(const QString &text, quint8 *destination, int destinationSize)
{
    const qsizetype needed = text.size() + 1;
    if (destination == nullptr || needed > destinationSize)
        return -1;
    // One byte per character: anything above U+00FF has no byte of its own,
    // and its low byte would be another character, or a zero that cuts the
    // text short.
    for (const QChar c : text) {
        if (c.unicode() > 0xFF)
            return -1;
    }
    for (qsizetype i = 0; i < text.size(); ++i)
        destination[i] = static_cast<quint8>(text.at(i).unicode());
    destination[text.size()] = 0;
    return static_cast<int>(needed);
}

bool CXmit::RunCommandLine(const QString &text)
{
    quint8 buffer[kTextBufferSize];
    const int length = ToDeviceText(text, buffer, kTextBufferSize);
    if (length < 0)
        return false; // a cut or altered command line could do something else entirely
    return Transact(kCmdCommandLine, buffer, length, 5000);
}

bool CXmit::OpenDeviceFile(const QString &path)
{
    quint8 buffer[kTextBufferSize];
    buffer[0] = 0x00;
    const int length = ToDeviceText(path, buffer + 1, kTextBufferSize - 1);
    if (length < 0)
        return false; // a cut or altered path would create the wrong file
    return Transact(kCmdPathFile, buffer, length + 1, 200);
}

bool CXmit::SendImageBlock(quint32 offset, const quint8 *data, quint16 n)
{
    std::vector<quint8> request(static_cast<size_t>(n) + 4);
    request[0] = 0x01;
    request[1] = static_cast<quint8>((offset >> 16) & 0xFF);
    request[2] = static_cast<quint8>((offset >> 8) & 0xFF);
    request[3] = static_cast<quint8>(offset & 0xFF);
    if (n > 0)
        std::memcpy(request.data() + 4, data, n);
    return Transact(kCmdFile, request.data(), static_cast<int>(request.size()), 5000);
}
