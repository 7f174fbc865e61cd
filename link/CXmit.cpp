#include "link/CXmit.h"

#include <QElapsedTimer>
#include <QSerialPortInfo>
#include <QThread>
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
// Identification time-out of one port, and of a whole scan.
constexpr int kIdentifyTimeoutMs = 500;
// Bytes taken from one port before the scan looks at the others again, so a
// port that floods the line cannot hold up the rest.
constexpr int kScanBytesPerTurn = 512;

} // namespace

// The reader of one reply frame, a byte at a time: the unescaping layer
// (a lone start byte begins a new frame, a doubled one is data) and the frame
// layer (header, length, payload, check). The header code, the length and the
// payload land where the owner says, as soon as they are known.
class CXmit::ReplyReceiver
{
public:
    enum class Outcome { Incomplete, Complete, BadCheck };

    ReplyReceiver(quint8 &code, int &length, quint8 *payload)
        : m_code(code), m_length(length), m_payload(payload)
    {
    }

    Outcome Feed(quint8 b)
    {
        if (m_pending) {
            m_pending = false;
            if (b != kStartByte)
                m_state = State::Header; // a new frame begins; anything partial is dropped
        } else if (b == kStartByte) {
            m_pending = true;
            return Outcome::Incomplete;
        }

        m_check ^= b;
        switch (m_state) {
        case State::Idle:
            break;
        case State::Header:
            if ((b & 0xE0) == 0xE0) {
                m_code = b & 0xF0;
                m_check = b;
                m_index = 0;
                m_length = b & 0x03;
                if (b & 0x08)
                    m_state = State::LengthHigh;
                else if (b & 0x04)
                    m_state = State::Length;
                else
                    m_state = m_length != 0 ? State::Payload : State::Check;
            } else {
                m_state = State::Idle;
            }
            break;
        case State::LengthHigh:
            m_length += b * 256;
            if (m_length > kReplyCapacity) {
                // Already too long whatever the low byte: refused now, so the
                // owner's length never shows more than the buffer holds, even
                // when the line falls silent here.
                m_length = 0;
                m_state = State::Idle;
            } else {
                m_state = State::Length;
            }
            break;
        case State::Length:
            m_length += b;
            if (m_length > kReplyCapacity) {
                // More than any reply we ask for and more than the buffer
                // holds: not a frame we accept. Wait for a new start byte.
                m_length = 0;
                m_state = State::Idle;
            } else {
                m_state = m_length == 0 ? State::Check : State::Payload;
            }
            break;
        case State::Payload:
            m_payload[m_index++] = b;
            if (m_index == m_length)
                m_state = State::Check;
            break;
        case State::Check:
            return m_check == 0 ? Outcome::Complete : Outcome::BadCheck;
        }
        return Outcome::Incomplete;
    }

private:
    enum class State { Idle, Header, LengthHigh, Length, Payload, Check };

    quint8 &m_code;
    int &m_length;
    quint8 *m_payload;
    State m_state = State::Idle;
    bool m_pending = false; // a lone start byte waits for its successor
    quint8 m_check = 0;
    int m_index = 0;
};

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

int CXmit::ScanStart(const QStringList &ports) const
{
    // Start where the device was last seen: by path when the list has
    // changed since, else by position.
    const int count = static_cast<int>(ports.size());
    int start = m_portNumber;
    if (!m_lastFoundPath.isEmpty()) {
        const int at = static_cast<int>(ports.indexOf(m_lastFoundPath));
        if (at >= 0)
            start = at;
    }
    if (start < 0 || start >= count)
        start = 0;
    return start;
}

bool CXmit::IsDeviceReply(quint8 code, const quint8 *payload, int length)
{
    // What StoreIdentity would accept, with a software version other than 0.
    return code != kReplyRefused && length >= 2 &&
           (payload[0] == kDeviceType82 || payload[0] == kDeviceType78) && payload[1] != 0;
}

// Every scan starts from nothing: no port open, no refusals yet. Returns the
// candidate ports and, in *start, the index the scan begins at.
QStringList CXmit::BeginScan(int *start)
{
    ClosePort();
    m_refusals.clear();
    const QStringList ports = PortPaths();
    *start = ports.isEmpty() ? 0 : ScanStart(ports);
    return ports;
}

// Opens one candidate port of a scan; a port that exists but cannot be
// opened is noted among the refusals, a missing one is passed over quietly.
std::unique_ptr<SerialPort> CXmit::OpenForScan(const QString &path)
{
    std::unique_ptr<SerialPort> port = m_factory();
    if (!port)
        return nullptr;
    QString why;
    const SerialPort::OpenResult opened = port->open(path, &why);
    if (opened == SerialPort::OpenResult::Ok)
        return port;
    if (opened != SerialPort::OpenResult::Missing)
        m_refusals.append({path, why, opened});
    return nullptr;
}

quint8 CXmit::FindDeviceSequential()
{
    int start = 0;
    const QStringList ports = BeginScan(&start);
    const int count = static_cast<int>(ports.size());
    if (count == 0)
        return 0;

    for (int k = 0; k < count; ++k) {
        const int i = (start + k) % count;
        const QString &path = ports.at(i);
        std::unique_ptr<SerialPort> port = OpenForScan(path);
        if (!port)
            continue;
        m_hPort = std::move(port);
        m_portPath = path;

        if (Transact(kCmdIdentify, nullptr, 0, kIdentifyTimeoutMs) && StoreIdentity() &&
            g_softwareVersion != 0) {
            m_portNumber = i;
            m_lastFoundPath = path;
            m_linkError = 0;
            return g_softwareVersion;
        }
        ClosePort();
    }
    return 0;
}

quint8 CXmit::FindDevice()
{
    int start = 0;
    const QStringList ports = BeginScan(&start);
    const int count = static_cast<int>(ports.size());
    if (count == 0)
        return 0;

    // Every candidate port, in scan order, with its own reply.
    struct Probe
    {
        enum class State { Waiting, Replied, Failed };
        int index = 0;
        QString path;
        std::unique_ptr<SerialPort> port;
        int refusalsBefore = 0; // refusals met earlier in scan order
        quint8 code = 0;
        int length = 0;
        std::unique_ptr<quint8[]> payload = std::make_unique<quint8[]>(kReplyCapacity);
        std::unique_ptr<ReplyReceiver> receiver;
        State state = State::Waiting;
    };
    std::vector<Probe> probes;
    probes.reserve(static_cast<size_t>(count));

    // Open them all and ask each once, before waiting for any.
    BuildRequest(kCmdIdentify, nullptr, 0);
    for (int k = 0; k < count; ++k) {
        const int i = (start + k) % count;
        const QString &path = ports.at(i);
        std::unique_ptr<SerialPort> port = OpenForScan(path);
        if (!port)
            continue;
        Probe &probe = probes.emplace_back();
        probe.index = i;
        probe.path = path;
        probe.port = std::move(port);
        probe.refusalsBefore = static_cast<int>(m_refusals.size());
        probe.receiver =
            std::make_unique<ReplyReceiver>(probe.code, probe.length, probe.payload.get());
        DropStaleInput(*probe.port);
        WriteFrameTo(*probe.port); // a failed write is waited out, as in one exchange
    }

    // The winner is the first port in scan order whose reply makes a device.
    // A port can win only once every port before it has had its say, so a
    // device further on never beats one earlier, whichever answers first.
    auto decide = [&probes]() -> std::pair<bool, int> {
        for (int p = 0; p < static_cast<int>(probes.size()); ++p) {
            const Probe &probe = probes[static_cast<size_t>(p)];
            if (probe.state == Probe::State::Waiting)
                return {false, -1};
            if (probe.state == Probe::State::Replied &&
                IsDeviceReply(probe.code, probe.payload.get(), probe.length))
                return {true, p};
        }
        return {true, -1};
    };

    QElapsedTimer clock; // one time-out for the whole scan
    clock.start();
    std::pair<bool, int> decision = decide();
    while (!decision.first) {
        bool heard = false;
        for (Probe &probe : probes) {
            for (int taken = 0; probe.state == Probe::State::Waiting && taken < kScanBytesPerTurn;
                 ++taken) {
                quint8 b = 0;
                const int got = probe.port->readByte(&b, 0);
                if (got < 0) {
                    probe.state = Probe::State::Failed;
                } else if (got == 0) {
                    break;
                } else {
                    heard = true;
                    const ReplyReceiver::Outcome outcome = probe.receiver->Feed(b);
                    if (outcome == ReplyReceiver::Outcome::Complete)
                        probe.state = Probe::State::Replied;
                    else if (outcome == ReplyReceiver::Outcome::BadCheck)
                        probe.state = Probe::State::Failed;
                }
            }
        }
        decision = decide();
        if (decision.first)
            break;
        if (clock.elapsed() >= kIdentifyTimeoutMs) {
            for (Probe &probe : probes) {
                if (probe.state == Probe::State::Waiting)
                    probe.state = Probe::State::Failed; // timed out
            }
            decision = decide();
            break;
        }
        if (!heard)
            QThread::usleep(500);
    }

    // The outcome of the ports up to the winner (or of all of them) is taken
    // in scan order, exactly as one exchange after the other would leave it.
    const int winner = decision.second;
    const int last = winner >= 0 ? winner : static_cast<int>(probes.size()) - 1;
    for (int p = 0; p <= last; ++p) {
        Probe &probe = probes[static_cast<size_t>(p)];
        if (probe.state == Probe::State::Failed) {
            m_linkError = 1;
            continue;
        }
        m_replyCode = probe.code;
        m_replyLength = probe.length;
        std::memcpy(m_reply, probe.payload.get(), static_cast<size_t>(probe.length));
        if (probe.code != kReplyRefused)
            StoreIdentity();
    }

    for (int p = 0; p < static_cast<int>(probes.size()); ++p) {
        if (p != winner)
            probes[static_cast<size_t>(p)].port->close();
    }
    if (winner < 0)
        return 0;

    Probe &found = probes[static_cast<size_t>(winner)];
    // Ports after the winner would not have been tried one after the other.
    while (m_refusals.size() > found.refusalsBefore)
        m_refusals.removeLast();
    m_hPort = std::move(found.port);
    m_portPath = found.path;
    m_portNumber = found.index;
    m_lastFoundPath = found.path;
    m_linkError = 0;
    return g_softwareVersion;
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

    DropStaleInput(*m_hPort);
    BuildRequest(command, payload, length);
    WriteFrame();

    const bool received = ReadReply(timeoutMs);
    if (!received)
        m_linkError = 1;
    return received && m_replyCode != kReplyRefused;
}

void CXmit::DropStaleInput(SerialPort &port)
{
    // Drop what is already waiting from an earlier exchange. Waiting for
    // more would only add to every round trip.
    quint8 stale = 0;
    for (int flushed = 0; flushed < kMaxFlushBytes && port.readByte(&stale, 0) == 1; ++flushed) {
    }
}

void CXmit::BuildRequest(quint8 command, const quint8 *payload, int length)
{
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
}

void CXmit::WriteFrame()
{
    if (IsPortOpen())
        WriteFrameTo(*m_hPort);
}

void CXmit::WriteFrameTo(SerialPort &port)
{
    for (int offset = 0; offset < m_txLength; offset += 256) {
        const int chunk = std::min(256, m_txLength - offset);
        if (!port.write(m_txFrame + offset, chunk))
            return; // the rest is not sent; the reply then times out
    }
}

bool CXmit::ReadReply(int timeoutMs)
{
    if (!IsPortOpen())
        return false;

    ReplyReceiver receiver(m_replyCode, m_replyLength, m_reply);
    QElapsedTimer clock; // monotonic: no wrap-around to worry about
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        quint8 b = 0;
        const int got = m_hPort->readByte(&b, kReplyReadWaitMs);
        if (got < 0)
            return false; // the port itself failed; waiting longer will not help
        if (got == 0)
            continue;
        const ReplyReceiver::Outcome outcome = receiver.Feed(b);
        if (outcome != ReplyReceiver::Outcome::Incomplete)
            return outcome == ReplyReceiver::Outcome::Complete;
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
