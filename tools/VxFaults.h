#pragma once

// Misbehaviour on request: which requests get a wrong answer, and how.

#include "tools/VxCodec.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vx {

enum class FaultKind { Refuse, Silent, BadCheck, Garbage, Delay, Vanish };

// KIND@cmd=0xC0[/0x03][,times=N] or KIND@frame=N, KIND one of refuse, silent,
// badcheck, garbage, delay:MS, vanish:MS.
struct Fault
{
    FaultKind kind = FaultKind::Refuse;
    int ms = 0;
    bool byFrame = false;
    unsigned long frame = 0; // 1-based request frame number
    std::uint8_t command = 0;
    std::optional<std::uint8_t> sub;
    std::optional<unsigned long> times; // how many more times it fires
    std::string text;
};

bool ParseFault(const std::string &text, Fault &out, std::string &error);

// The junk a "garbage" fault sends in front of the real reply: stray bytes,
// and start bytes followed by headers a receiver must not accept.
Bytes GarbageBytes();

class FaultSet
{
public:
    void Add(Fault fault) { m_faults.push_back(std::move(fault)); }
    void Clear() { m_faults.clear(); }
    bool Empty() const { return m_faults.empty(); }

    // The first fault that matches this request, counted as fired.
    std::optional<Fault> Match(unsigned long frameNumber, const Frame &frame);

private:
    std::vector<Fault> m_faults;
};

} // namespace vx
