#pragma once

#include "link/CXmit.h"
#include "link/SerialPort.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QStringList>
#include <memory>

// A serial port that answers each request with a scripted byte string.
// Replies are handed out only after something was written, so the
// stale-input flush of a transaction never eats them.
struct FakeLine
{
    SerialPort::OpenResult openResult = SerialPort::OpenResult::Ok;
    QString openError;
    QList<QByteArray> replies; // one per request; an empty entry means silence
    QList<int> replyDelaysMs;  // how long after its request each reply comes (default 0)
    QByteArray stale;          // bytes waiting in the input before the first request
    QByteArray written;        // everything the host wrote
    QList<int> chunkSizes;     // size of each write call
    bool failWrites = false;
    int opens = 0;
    bool open = false;

    static QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

    // A good 0xF0 reply frame carrying payload, as the device sends it.
    static QByteArray okReply(const QByteArray &payload)
    {
        QByteArray body;
        if (payload.size() <= 3) {
            body.append(static_cast<char>(0xF0 | payload.size()));
        } else if (payload.size() <= 255) {
            body.append(static_cast<char>(0xF4));
            body.append(static_cast<char>(payload.size()));
        } else {
            body.append(static_cast<char>(0xF8));
            body.append(static_cast<char>(payload.size() >> 8));
            body.append(static_cast<char>(payload.size() & 0xFF));
        }
        body.append(payload);
        quint8 check = 0;
        for (char c : body)
            check ^= static_cast<quint8>(c);
        body.append(static_cast<char>(check));
        QByteArray frame("\x02", 1);
        for (char c : body) {
            if (c == '\x02')
                frame.append(c); // every 0x02 after the start byte travels doubled
            frame.append(c);
        }
        return frame;
    }
};

class FakeSerialPort final : public SerialPort
{
public:
    explicit FakeSerialPort(std::shared_ptr<FakeLine> line) : m_line(std::move(line)) {}

    OpenResult open(const QString &, QString *errorText) override
    {
        ++m_line->opens;
        if (m_line->openResult != OpenResult::Ok) {
            if (errorText)
                *errorText = m_line->openError;
            return m_line->openResult;
        }
        m_line->open = true;
        m_input = m_line->stale;
        return OpenResult::Ok;
    }
    void close() override { m_line->open = false; }
    bool isOpen() const override { return m_line->open; }

    int readByte(quint8 *byte, int /*waitMs*/) override
    {
        if (m_input.isEmpty() && m_armed) {
            if (!m_line->replyDelaysMs.isEmpty() &&
                m_armedAt.elapsed() < m_line->replyDelaysMs.first())
                return 0;
            m_armed = false;
            if (!m_line->replyDelaysMs.isEmpty())
                m_line->replyDelaysMs.removeFirst();
            if (!m_line->replies.isEmpty())
                m_input = m_line->replies.takeFirst();
        }
        if (m_input.isEmpty())
            return 0;
        *byte = static_cast<quint8>(m_input.at(0));
        m_input.remove(0, 1);
        return 1;
    }

    bool write(const quint8 *data, int length) override
    {
        m_line->chunkSizes.append(length);
        if (m_line->failWrites)
            return false;
        m_line->written.append(reinterpret_cast<const char *>(data), length);
        m_armed = true;
        m_armedAt.start();
        return true;
    }

private:
    std::shared_ptr<FakeLine> m_line;
    QByteArray m_input;
    bool m_armed = false;
    QElapsedTimer m_armedAt;
};

// A link whose port is a scripted fake, already open.
struct FakeLink
{
    std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
    CXmit xmit;
    explicit FakeLink(const QByteArray &stale = {})
    {
        line->stale = stale;
        auto port = std::make_unique<FakeSerialPort>(line);
        port->open(QString(), nullptr);
        xmit.m_hPort = std::move(port);
    }
};

// Several fake ports by path, for discovery: records the order of opens.
struct FakeBus
{
    QMap<QString, std::shared_ptr<FakeLine>> lines;
    QStringList openOrder;

    std::shared_ptr<FakeLine> add(const QString &path)
    {
        auto line = std::make_shared<FakeLine>();
        lines.insert(path, line);
        return line;
    }
};

class FakeBusPort final : public SerialPort
{
public:
    explicit FakeBusPort(FakeBus *bus) : m_bus(bus) {}

    OpenResult open(const QString &path, QString *errorText) override
    {
        m_bus->openOrder.append(path);
        const auto line = m_bus->lines.value(path);
        if (!line)
            return OpenResult::Missing;
        m_port = std::make_unique<FakeSerialPort>(line);
        return m_port->open(path, errorText);
    }
    void close() override
    {
        if (m_port)
            m_port->close();
    }
    bool isOpen() const override { return m_port && m_port->isOpen(); }
    int readByte(quint8 *byte, int waitMs) override
    {
        return m_port ? m_port->readByte(byte, waitMs) : -1;
    }
    bool write(const quint8 *data, int length) override
    {
        return m_port && m_port->write(data, length);
    }

private:
    FakeBus *m_bus;
    std::unique_ptr<FakeSerialPort> m_port;
};
