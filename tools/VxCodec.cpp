#include "tools/VxCodec.h"

#include <cstdio>

namespace vx {

namespace {

void Put(Bytes &out, std::uint8_t value)
{
    if (value == kStart) {
        out.push_back(kStart);
    }
    out.push_back(value);
}

} // namespace

Bytes EncodeFrame(std::uint8_t code, const Bytes &payload, std::uint8_t checkXor)
{
    const std::size_t n = payload.size();
    Bytes out;
    out.reserve(2 * (n + 4) + 1);
    out.push_back(kStart);
    std::uint8_t check = 0;
    auto add = [&](std::uint8_t v) {
        check ^= v;
        Put(out, v);
    };
    const std::uint8_t base = code & 0xF0;
    if (n <= 3) {
        add(static_cast<std::uint8_t>(base | n));
    } else if (n <= 255) {
        add(static_cast<std::uint8_t>(base | 0x04));
        add(static_cast<std::uint8_t>(n));
    } else {
        add(static_cast<std::uint8_t>(base | 0x08));
        add(static_cast<std::uint8_t>(n >> 8));
        add(static_cast<std::uint8_t>(n & 0xFF));
    }
    for (std::uint8_t b : payload) {
        add(b);
    }
    Put(out, static_cast<std::uint8_t>(check ^ checkXor));
    return out;
}

bool FrameParser::Feed(std::uint8_t byte)
{
    if (m_pending) {
        m_pending = false;
        if (byte == kStart) {
            // A doubled 0x02: one data byte of that value.
            if (m_state == State::Idle) {
                m_stray.push_back(kStart);
                m_stray.push_back(kStart);
                return false;
            }
            m_frame.raw.push_back(kStart);
            m_frame.raw.push_back(kStart);
            FrameByte(kStart);
        } else {
            // A lone 0x02 starts a new frame whatever was in progress.
            if (m_state != State::Idle && !m_frame.raw.empty()) {
                m_dropped.insert(m_dropped.end(), m_frame.raw.begin(), m_frame.raw.end());
            }
            m_frame = Frame{};
            m_frame.raw.push_back(kStart);
            m_frame.raw.push_back(byte);
            m_state = State::Header;
            FrameByte(byte);
        }
    } else if (byte == kStart) {
        m_pending = true;
        return false;
    } else if (m_state == State::Idle) {
        m_stray.push_back(byte);
        return false;
    } else {
        m_frame.raw.push_back(byte);
        FrameByte(byte);
    }
    if (m_complete) {
        m_complete = false;
        return true;
    }
    return false;
}

void FrameParser::FrameByte(std::uint8_t byte)
{
    m_check ^= byte;
    switch (m_state) {
    case State::Idle:
        break;
    case State::Header:
        m_frame.header = byte;
        m_check = byte;
        m_length = byte & 0x03;
        if (byte & 0x08) {
            m_state = State::LengthHigh;
        } else if (byte & 0x04) {
            m_state = State::Length;
        } else {
            m_state = m_length ? State::Payload : State::Check;
        }
        break;
    case State::LengthHigh:
        m_length += static_cast<std::size_t>(byte) * 256;
        m_state = State::Length;
        break;
    case State::Length:
        m_length += byte;
        m_state = m_length ? State::Payload : State::Check;
        break;
    case State::Payload:
        // m_length is at most 3 + 65535 here, so the payload stays bounded.
        m_frame.payload.push_back(byte);
        if (m_frame.payload.size() >= m_length) {
            m_state = State::Check;
        }
        break;
    case State::Check:
        m_frame.checkOk = (m_check == 0);
        m_done = std::move(m_frame);
        m_frame = Frame{};
        m_complete = true;
        m_state = State::Idle;
        break;
    }
}

Frame FrameParser::TakeFrame()
{
    Frame f = std::move(m_done);
    m_done = Frame{};
    return f;
}

Bytes FrameParser::TakeStray()
{
    Bytes b;
    b.swap(m_stray);
    return b;
}

Bytes FrameParser::TakeDropped()
{
    Bytes b;
    b.swap(m_dropped);
    return b;
}

void FrameParser::Reset()
{
    *this = FrameParser{};
}

std::string Hex(const Bytes &bytes, std::size_t maxBytes)
{
    std::string s;
    const std::size_t n = bytes.size() < maxBytes ? bytes.size() : maxBytes;
    s.reserve(n * 3 + 4);
    char buf[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
        if (i) {
            s.push_back(' ');
        }
        s += buf;
    }
    if (n < bytes.size()) {
        s += " ...";
    }
    return s;
}

} // namespace vx
