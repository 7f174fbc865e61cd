#pragma once

// Frame codec of the simulated device. Deliberately independent of the
// program's own link code, so that a codec fault there is not mirrored here.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vx {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kStart = 0x02;
inline constexpr std::uint8_t kReplyOk = 0xF0;
inline constexpr std::uint8_t kReplyRefused = 0xE0;
// Short length (header bits 1..0) plus the two-byte length form.
inline constexpr std::size_t kMaxPayload = 3 + 65535;
// Largest payload a reply can announce: the two-byte length form alone.
inline constexpr std::size_t kMaxReplyPayload = 65535;

// Builds one frame as it travels on the line: start byte, header, length
// form chosen from the payload size, payload, check, with every 0x02 after
// the start doubled. checkXor is XORed into the check (0 = correct check).
// The payload must not exceed kMaxReplyPayload.
Bytes EncodeFrame(std::uint8_t code, const Bytes &payload, std::uint8_t checkXor = 0);

// One request as received.
struct Frame
{
    Bytes raw; // bytes exactly as on the line, start byte included
    std::uint8_t header = 0;
    Bytes payload;
    bool checkOk = false;

    std::uint8_t Code() const { return header & 0xF0; }
};

// Receives requests byte by byte. Every byte of any header is accepted
// (requests carry command codes); the payload is bounded by construction.
class FrameParser
{
public:
    // Feeds one byte. Returns true when a frame (good or bad check) has just
    // been completed; it is then available through TakeFrame().
    bool Feed(std::uint8_t byte);
    Frame TakeFrame();

    // Bytes received outside any frame, and frames cut off by a new start
    // byte; taken (and cleared) by the caller for logging.
    Bytes TakeStray();
    Bytes TakeDropped();

    void Reset();

private:
    enum class State { Idle, Header, LengthHigh, Length, Payload, Check };

    void FrameByte(std::uint8_t byte);

    State m_state = State::Idle;
    bool m_pending = false; // a lone 0x02 waits for the next byte
    std::uint8_t m_check = 0;
    std::size_t m_length = 0;
    Frame m_frame;
    Frame m_done;
    bool m_complete = false;
    Bytes m_stray;
    Bytes m_dropped;
};

// Two-digit upper-case hex, bytes separated by single blanks.
std::string Hex(const Bytes &bytes, std::size_t maxBytes = SIZE_MAX);

} // namespace vx
