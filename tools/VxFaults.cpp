#include "tools/VxFaults.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace vx {

namespace {

bool ParseUnsigned(const std::string &text, int base, unsigned long max, unsigned long &value)
{
    if (text.empty() || text.size() > 20) {
        return false;
    }
    for (char ch : text) {
        const bool ok = base == 16 ? std::isxdigit(static_cast<unsigned char>(ch)) != 0
                                   : (ch >= '0' && ch <= '9');
        if (!ok) {
            return false;
        }
    }
    errno = 0;
    char *end = nullptr;
    value = std::strtoul(text.c_str(), &end, base);
    return errno == 0 && end && *end == 0 && value <= max;
}

bool ParseHexByte(std::string text, std::uint8_t &value)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text = text.substr(2);
    }
    unsigned long v = 0;
    if (!ParseUnsigned(text, 16, 0xFF, v)) {
        return false;
    }
    value = static_cast<std::uint8_t>(v);
    return true;
}

} // namespace

bool ParseFault(const std::string &text, Fault &out, std::string &error)
{
    Fault f;
    f.text = text;
    const std::size_t at = text.find('@');
    if (at == std::string::npos) {
        error = "fault needs KIND@TARGET: " + text;
        return false;
    }
    std::string kind = text.substr(0, at);
    std::string target = text.substr(at + 1);

    const std::size_t colon = kind.find(':');
    const std::string name = kind.substr(0, colon);
    const bool takesMs = name == "delay" || name == "vanish";
    if (takesMs != (colon != std::string::npos)) {
        error = takesMs ? "fault " + name + " needs :MS" : "fault " + name + " takes no value";
        return false;
    }
    if (takesMs) {
        unsigned long ms = 0;
        if (!ParseUnsigned(kind.substr(colon + 1), 10, 3600000, ms)) {
            error = "bad milliseconds in " + text;
            return false;
        }
        f.ms = static_cast<int>(ms);
    }
    if (name == "refuse") {
        f.kind = FaultKind::Refuse;
    } else if (name == "silent") {
        f.kind = FaultKind::Silent;
    } else if (name == "badcheck") {
        f.kind = FaultKind::BadCheck;
    } else if (name == "garbage") {
        f.kind = FaultKind::Garbage;
    } else if (name == "delay") {
        f.kind = FaultKind::Delay;
    } else if (name == "vanish") {
        f.kind = FaultKind::Vanish;
    } else {
        error = "unknown fault kind: " + name;
        return false;
    }

    const std::size_t comma = target.find(',');
    if (comma != std::string::npos) {
        const std::string rest = target.substr(comma + 1);
        target = target.substr(0, comma);
        unsigned long n = 0;
        if (rest.rfind("times=", 0) != 0 || !ParseUnsigned(rest.substr(6), 10, ~0UL, n) || n == 0) {
            error = "expected ,times=N (N at least 1) in " + text;
            return false;
        }
        f.times = n;
    }
    if (target.rfind("frame=", 0) == 0) {
        f.byFrame = true;
        if (!ParseUnsigned(target.substr(6), 10, ~0UL, f.frame) || f.frame == 0) {
            error = "frame numbers start at 1: " + text;
            return false;
        }
    } else if (target.rfind("cmd=", 0) == 0) {
        std::string code = target.substr(4);
        const std::size_t slash = code.find('/');
        if (slash != std::string::npos) {
            std::uint8_t sub = 0;
            if (!ParseHexByte(code.substr(slash + 1), sub)) {
                error = "bad sub-command byte in " + text;
                return false;
            }
            f.sub = sub;
            code = code.substr(0, slash);
        }
        if (!ParseHexByte(code, f.command) || (f.command & 0x0F) != 0) {
            error = "command codes are 0x10, 0x20 ... 0xF0: " + text;
            return false;
        }
    } else {
        error = "target must be cmd=0xNN[/SUB] or frame=N: " + text;
        return false;
    }
    out = std::move(f);
    return true;
}

Bytes GarbageBytes()
{
    return {0xA5, 0x5A, 0x02, 0x41, 0x13, 0x37, 0x02, 0x70, 0x00, 0xFF, 0x0D, 0x0A};
}

std::optional<Fault> FaultSet::Match(unsigned long frameNumber, const Frame &frame)
{
    for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
        bool hit;
        if (it->byFrame) {
            hit = it->frame == frameNumber;
        } else {
            hit = it->command == frame.Code() &&
                  (!it->sub || (!frame.payload.empty() && frame.payload[0] == *it->sub));
        }
        if (!hit) {
            continue;
        }
        Fault fired = *it;
        if (it->times && --*it->times == 0) {
            m_faults.erase(it);
        }
        return fired;
    }
    return std::nullopt;
}

} // namespace vx
