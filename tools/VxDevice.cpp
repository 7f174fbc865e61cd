#include "tools/VxDevice.h"

#include "tools/VxRecords.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace vx {

namespace {

constexpr char kConfigDevicePath[] = "/VX360HD/current11.cfg";
constexpr char kReleaseMarker[] = "VXSIM-RELEASE=";
// 24-bit offsets plus the largest block one frame can carry.
constexpr std::size_t kMaxImageSize = 0x1000000 + kMaxPayload;

Outcome Ok(Bytes payload = {})
{
    Outcome o;
    o.payload = std::move(payload);
    return o;
}

Outcome Refuse(std::string why)
{
    Outcome o;
    o.refused = true;
    o.note = std::move(why);
    return o;
}

std::string HexByte(unsigned v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", v & 0xFF);
    return buf;
}

// Device text for the transcript: printable ASCII as is, the rest escaped.
std::string Quote(const std::uint8_t *begin, const std::uint8_t *end)
{
    std::string s = "\"";
    for (const std::uint8_t *p = begin; p != end; ++p) {
        if (*p >= 0x20 && *p < 0x7F && *p != '"' && *p != '\\') {
            s.push_back(static_cast<char>(*p));
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", *p);
            s += buf;
        }
    }
    s.push_back('"');
    return s;
}

// Text up to its zero byte, starting at `from`; nullopt when there is no zero.
std::optional<std::string> ZeroText(const Bytes &p, std::size_t from)
{
    for (std::size_t i = from; i < p.size(); ++i) {
        if (p[i] == 0) {
            return std::string(p.begin() + static_cast<std::ptrdiff_t>(from),
                               p.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    return std::nullopt;
}

unsigned Le16(const Bytes &p, std::size_t at)
{
    return p[at] | (static_cast<unsigned>(p[at + 1]) << 8);
}

bool WriteAll(int fd, const std::uint8_t *data, std::size_t n, off_t at)
{
    while (n > 0) {
        const ssize_t w = ::pwrite(fd, data, n, at);
        if (w < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += w;
        n -= static_cast<std::size_t>(w);
        at += w;
    }
    return true;
}

} // namespace

bool ReadWholeFile(const std::string &path, Bytes &out)
{
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) {
        return false;
    }
    out.clear();
    std::uint8_t buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        out.insert(out.end(), buf, buf + n);
    }
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

bool WriteWholeFile(const std::string &path, const Bytes &data)
{
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) {
        return false;
    }
    bool ok = data.empty() || std::fwrite(data.data(), 1, data.size(), f) == data.size();
    ok = (std::fclose(f) == 0) && ok;
    return ok;
}

Device::Device(DeviceOptions options) : m_options(std::move(options)), m_nextSw(m_options.sw) {}

Device::~Device()
{
    CloseNumbered();
    ClosePathFile();
}

std::string Device::FsRoot() const
{
    return m_options.stateDir + "/fs";
}

std::string Device::NumberedPath(unsigned number) const
{
    return m_options.stateDir + "/files/" + std::to_string(number) + ".bin";
}

std::string Device::ConfigPath() const
{
    return FsRoot() + kConfigDevicePath;
}

bool Device::Seed(std::string &error)
{
    std::error_code ec;
    fs::create_directories(m_options.stateDir + "/fs", ec);
    if (!ec) {
        fs::create_directories(m_options.stateDir + "/files", ec);
    }
    if (ec) {
        error = "cannot create state folder " + m_options.stateDir + ": " + ec.message();
        return false;
    }
    struct Seeded
    {
        std::string path;
        Bytes content;
    };
    std::vector<Seeded> files;
    if (m_options.type == kType82) {
        files.push_back({ConfigPath(), DefaultFullRecord()});
    } else {
        files.push_back({NumberedPath(590), DefaultCompactRecord()});
        files.push_back({NumberedPath(595), DefaultCompactRecord()});
        files.push_back({NumberedPath(600), DefaultIqTable()});
    }
    for (const Seeded &s : files) {
        if (fs::exists(s.path, ec)) {
            continue; // prepared by whoever started us: keep it
        }
        if (!WriteWholeFile(s.path, s.content)) {
            error = "cannot write " + s.path;
            return false;
        }
    }
    return true;
}

std::string Device::Describe(const Frame &frame) const
{
    const std::uint8_t code = frame.Code();
    const Bytes &p = frame.payload;
    const std::string c = HexByte(code) + " ";
    const std::string len = std::to_string(p.size());
    auto other = [&]() {
        return c + "sub=" + (p.empty() ? std::string("none") : HexByte(p[0])) + " len=" + len;
    };
    switch (code) {
    case 0x10:
        return c + "identify";
    case 0x20:
    case 0xD0:
        return c + "restart";
    case 0x50:
        return c + "write-config " + len;
    case 0x70:
        return c + "read-config";
    case 0xB0:
        return c + "apply";
    case 0x80: {
        const std::uint8_t *b = p.data();
        const std::uint8_t *e = b + p.size();
        const std::uint8_t *z = b;
        while (z != e && *z != 0) {
            ++z;
        }
        return c + Quote(b, z) + (z == e ? " unterminated" : "");
    }
    case 0xA0:
        if (p.empty()) {
            return other();
        }
        if (p[0] == 0x00) {
            const std::uint8_t *b = p.data() + 1;
            const std::uint8_t *e = p.data() + p.size();
            const std::uint8_t *z = b;
            while (z != e && *z != 0) {
                ++z;
            }
            std::string path(b, z);
            bool plain = true;
            for (unsigned char ch : path) {
                plain = plain && ch > 0x20 && ch < 0x7F;
            }
            return c + "create " + (plain && !path.empty() ? path : Quote(b, z)) +
                   (z == e ? " unterminated" : "");
        }
        if (p[0] == 0x04) {
            return c + "append " + std::to_string(p.size() - 1);
        }
        if (p[0] == 0x02 && p.size() == 1) {
            return c + "close";
        }
        return other();
    case 0xC0:
        if (p.empty()) {
            return other();
        }
        if (m_options.type == kType78) {
            switch (p[0]) {
            case 0x00:
                return p.size() == 3 ? c + "open-write " + std::to_string(Le16(p, 1)) : other();
            case 0x01:
                return p.size() == 3 ? c + "open-read " + std::to_string(Le16(p, 1)) : other();
            case 0x02:
                return p.size() == 1 ? c + "close" : other();
            case 0x03:
                return p.size() == 3 ? c + "read " + std::to_string(Le16(p, 1)) : other();
            case 0x04:
                return c + "write " + std::to_string(p.size() - 1);
            default:
                return other();
            }
        }
        switch (p[0]) {
        case 0x00:
            return p.size() == 1 ? c + "image-begin" : other();
        case 0x01:
            if (p.size() < 4) {
                return other();
            }
            return c + "image-block " + std::to_string(p.size() - 4) + " at " +
                   std::to_string((static_cast<unsigned>(p[1]) << 16) |
                                  (static_cast<unsigned>(p[2]) << 8) | p[3]);
        case 0x02:
            return p.size() == 1 ? c + "image-end" : other();
        default:
            return other();
        }
    default:
        return c + "unknown len=" + len;
    }
}

Outcome Device::Handle(const Frame &frame)
{
    const bool is82 = m_options.type == kType82;
    const char *wrongFamily = "not a command of this device family";
    switch (frame.Code()) {
    case 0x10:
        return Identify();
    case 0x20:
    case 0xD0: {
        if ((frame.Code() == 0x20) != is82) {
            return Refuse(wrongFamily);
        }
        Outcome o = Ok();
        o.restart = true;
        return o;
    }
    case 0x50:
        return is82 ? WriteConfig(frame.payload) : Refuse(wrongFamily);
    case 0x70:
        return is82 ? ReadConfig() : Refuse(wrongFamily);
    case 0x80:
        return is82 ? CommandLine(frame.payload) : Refuse(wrongFamily);
    case 0xA0:
        return is82 ? PathFile(frame.payload) : Refuse(wrongFamily);
    case 0xB0:
        return is82 ? Refuse(wrongFamily) : Ok();
    case 0xC0:
        return is82 ? Image(frame.payload) : NumberedFile(frame.payload);
    default:
        return Refuse("unknown command");
    }
}

Outcome Device::Identify() const
{
    if (m_options.idBytes) {
        return Ok(*m_options.idBytes);
    }
    if (m_options.type == kType82) {
        return Ok({kType82, m_options.sw, m_options.hw});
    }
    return Ok({kType78, m_options.sw, m_options.status, m_options.hw});
}

Outcome Device::WriteConfig(const Bytes &payload)
{
    if (!WriteWholeFile(ConfigPath(), payload)) {
        return Refuse("cannot store the configuration");
    }
    return Ok();
}

Outcome Device::ReadConfig()
{
    Bytes data;
    if (!ReadWholeFile(ConfigPath(), data)) {
        return Refuse("no configuration stored");
    }
    if (data.size() > kMaxReplyPayload) {
        return Refuse("configuration too long for one reply");
    }
    return Ok(std::move(data));
}

Outcome Device::CommandLine(const Bytes &payload)
{
    const std::optional<std::string> text = ZeroText(payload, 0);
    if (!text) {
        return Refuse("command line without its zero byte");
    }
    std::istringstream in(*text);
    std::vector<std::string> words;
    for (std::string w; in >> w;) {
        words.push_back(w);
    }
    if (words.empty()) {
        Outcome o = Ok();
        o.note = "empty command line";
        return o;
    }
    const std::string &verb = words[0];
    if (verb == "cp") {
        if (words.size() != 3) {
            return Refuse("cp needs a source and a destination");
        }
        std::string src, dst, why;
        if (!MapPath(words[1], src, why) || !MapPath(words[2], dst, why)) {
            return Refuse(why);
        }
        Bytes data;
        std::error_code ec;
        if (!fs::is_regular_file(src, ec) || !ReadWholeFile(src, data)) {
            return Refuse("cp: no file " + words[1]);
        }
        if (!WriteWholeFile(dst, data)) {
            return Refuse("cp: cannot write " + words[2]);
        }
        return Ok();
    }
    if (verb == "mount" || verb == "umount" || verb == "sync") {
        return Ok();
    }
    Outcome o = Ok();
    o.note = "command line not understood, accepted anyway";
    return o;
}

bool Device::MapPath(const std::string &devicePath, std::string &hostPath, std::string &why) const
{
    std::vector<std::string> parts;
    std::string part;
    for (std::size_t i = 0; i <= devicePath.size(); ++i) {
        const char ch = i < devicePath.size() ? devicePath[i] : '/';
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) {
            why = "control character in path";
            return false;
        }
        if (ch != '/') {
            part.push_back(ch);
            continue;
        }
        if (part == "..") {
            why = "path leaves the device file system: " + devicePath;
            return false;
        }
        if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        part.clear();
    }
    if (parts.empty()) {
        why = "path names no file: \"" + devicePath + "\"";
        return false;
    }
    hostPath = FsRoot();
    for (const std::string &p : parts) {
        hostPath += "/" + p;
    }
    return true;
}

void Device::ClosePathFile()
{
    if (m_pathFd >= 0) {
        ::close(m_pathFd);
        m_pathFd = -1;
    }
    m_pathOpen.clear();
}

Outcome Device::PathFile(const Bytes &payload)
{
    if (payload.empty()) {
        return Refuse("no sub-command");
    }
    switch (payload[0]) {
    case 0x00: {
        const std::optional<std::string> path = ZeroText(payload, 1);
        if (!path) {
            return Refuse("path without its zero byte");
        }
        std::string host, why;
        if (!MapPath(*path, host, why)) {
            return Refuse(why);
        }
        ClosePathFile();
        std::error_code ec;
        fs::create_directories(fs::path(host).parent_path(), ec);
        const int fd = ::open(host.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) {
            return Refuse("cannot create " + *path + ": " + std::strerror(errno));
        }
        m_pathFd = fd;
        m_pathOpen = *path;
        return Ok();
    }
    case 0x04: {
        if (m_pathFd < 0) {
            return Refuse("append without an open file");
        }
        const off_t end = ::lseek(m_pathFd, 0, SEEK_END);
        if (end < 0 || !WriteAll(m_pathFd, payload.data() + 1, payload.size() - 1, end)) {
            return Refuse("cannot write " + m_pathOpen);
        }
        return Ok();
    }
    case 0x02:
        if (payload.size() != 1) {
            return Refuse("close takes no data");
        }
        if (m_pathFd < 0) {
            return Refuse("close without an open file");
        }
        ClosePathFile();
        return Ok();
    default:
        return Refuse("unknown sub-command");
    }
}

void Device::CloseNumbered()
{
    if (m_numFd >= 0) {
        ::close(m_numFd);
        m_numFd = -1;
    }
    m_numForWriting = false;
    m_numPos = 0;
}

Outcome Device::NumberedFile(const Bytes &p)
{
    if (p.empty()) {
        return Refuse("no sub-command");
    }
    switch (p[0]) {
    case 0x00:
    case 0x01: {
        if (p.size() != 3) {
            return Refuse("open takes a 16-bit file number");
        }
        CloseNumbered(); // one open file: a new open ends the old one
        const unsigned number = Le16(p, 1);
        const std::string path = NumberedPath(number);
        const bool writing = p[0] == 0x00;
        const int fd = writing ? ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)
                               : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            return Refuse("cannot open file " + std::to_string(number) + ": " +
                          std::strerror(errno));
        }
        m_numFd = fd;
        m_numForWriting = writing;
        m_numNumber = number;
        m_numPos = 0;
        return Ok();
    }
    case 0x02:
        if (p.size() != 1) {
            return Refuse("close takes no data");
        }
        // Closing with nothing open is harmless; the program does it after
        // every configuration it loads, also from a file.
        CloseNumbered();
        return Ok();
    case 0x03: {
        if (p.size() != 3) {
            return Refuse("read takes a 16-bit byte count");
        }
        if (m_numFd < 0 || m_numForWriting) {
            return Refuse("read without a file open for reading");
        }
        Bytes data(Le16(p, 1));
        std::size_t got = 0;
        while (got < data.size()) {
            const ssize_t r = ::pread(m_numFd, data.data() + got, data.size() - got,
                                      static_cast<off_t>(m_numPos + got));
            if (r < 0 && errno == EINTR) {
                continue;
            }
            if (r < 0) {
                return Refuse("cannot read file " + std::to_string(m_numNumber));
            }
            if (r == 0) {
                break; // end of file: fewer bytes than asked for
            }
            got += static_cast<std::size_t>(r);
        }
        data.resize(got);
        m_numPos += got;
        return Ok(std::move(data));
    }
    case 0x04:
        if (m_numFd < 0 || !m_numForWriting) {
            return Refuse("write without a file open for writing");
        }
        if (!WriteAll(m_numFd, p.data() + 1, p.size() - 1, static_cast<off_t>(m_numPos))) {
            return Refuse("cannot write file " + std::to_string(m_numNumber));
        }
        m_numPos += p.size() - 1;
        return Ok();
    default:
        return Refuse("unknown sub-command");
    }
}

std::optional<std::uint8_t> Device::ReleaseOf(const Bytes &image, std::string &note)
{
    const std::size_t markLen = sizeof kReleaseMarker - 1;
    const auto *mark = reinterpret_cast<const std::uint8_t *>(kReleaseMarker);
    std::optional<std::size_t> at;
    for (std::size_t i = 0; i + markLen <= image.size(); ++i) {
        if (std::memcmp(image.data() + i, mark, markLen) == 0) {
            at = i + markLen;
            break;
        }
    }
    if (!at) {
        note = "image carries no release";
        return std::nullopt;
    }
    unsigned value = 0;
    std::size_t digits = 0;
    for (std::size_t i = *at; i < image.size() && image[i] >= '0' && image[i] <= '9'; ++i) {
        if (value <= 255) {
            value = value * 10 + (image[i] - '0');
        }
        ++digits;
    }
    if (digits == 0) {
        note = "image release marker has no digits";
        return std::nullopt;
    }
    if (value > 255) {
        // A version is one byte; a larger number cannot be reported.
        note = "image release does not fit in a byte, ignored";
        return std::nullopt;
    }
    note = "image release " + std::to_string(value);
    return static_cast<std::uint8_t>(value);
}

Outcome Device::Image(const Bytes &p)
{
    if (p.empty()) {
        return Refuse("no sub-command");
    }
    switch (p[0]) {
    case 0x00:
        if (p.size() != 1) {
            return Refuse("image begin takes no data");
        }
        m_imageOpen = true;
        m_image.clear();
        return Ok();
    case 0x01: {
        if (p.size() < 4) {
            return Refuse("image block without its offset");
        }
        if (!m_imageOpen) {
            return Refuse("image block without a begun transfer");
        }
        const std::size_t offset =
            (static_cast<std::size_t>(p[1]) << 16) | (static_cast<std::size_t>(p[2]) << 8) | p[3];
        const std::size_t n = p.size() - 4;
        if (offset + n > kMaxImageSize) {
            return Refuse("image block beyond the image area");
        }
        if (m_image.size() < offset + n) {
            m_image.resize(offset + n, 0); // a gap reads as zero bytes
        }
        std::copy(p.begin() + 4, p.end(), m_image.begin() + static_cast<std::ptrdiff_t>(offset));
        return Ok();
    }
    case 0x02: {
        if (p.size() != 1) {
            return Refuse("image end takes no data");
        }
        if (!m_imageOpen) {
            return Refuse("image end without a begun transfer");
        }
        m_imageOpen = false;
        if (!WriteWholeFile(m_options.stateDir + "/image.bin", m_image)) {
            return Refuse("cannot store the image");
        }
        Outcome o = Ok();
        const std::optional<std::uint8_t> release = ReleaseOf(m_image, o.note);
        if (release) {
            m_nextSw = *release;
        }
        o.note += " (" + std::to_string(m_image.size()) + " bytes)";
        o.replyDelayMs = m_finishDelayMs;
        m_image.clear();
        return o;
    }
    default:
        return Refuse("unknown sub-command");
    }
}

void Device::Restart()
{
    CloseNumbered();
    ClosePathFile();
    m_imageOpen = false;
    m_image.clear();
    m_options.sw = m_nextSw;
}

} // namespace vx
