#pragma once

// The simulated device itself: identity, stored state and the commands of
// both families. Knows nothing about the line, the clock or faults.

#include "tools/VxCodec.h"

#include <cstdint>
#include <optional>
#include <string>

namespace vx {

inline constexpr std::uint8_t kType82 = 0x82;
inline constexpr std::uint8_t kType78 = 0x78;

struct DeviceOptions
{
    std::uint8_t type = kType82;
    std::uint8_t sw = 23;
    std::uint8_t hw = 1;
    std::uint8_t status = 0;
    std::optional<Bytes> idBytes;
    std::string stateDir;
};

// What the device does with one request.
struct Outcome
{
    bool refused = false;
    Bytes payload;        // reply payload when not refused
    std::string note;     // why it was refused, or what was odd about it
    bool restart = false; // go silent and restart once the reply is out
    int replyDelayMs = 0; // the device is busy this long before it answers
};

class Device
{
public:
    explicit Device(DeviceOptions options);
    ~Device();
    Device(const Device &) = delete;
    Device &operator=(const Device &) = delete;

    // Creates the state folders and writes the default files that are not
    // there yet. False with a message when the folder cannot be used.
    bool Seed(std::string &error);

    // One-line decoded summary of a request, e.g. "0xC0 open-read 590".
    std::string Describe(const Frame &frame) const;

    Outcome Handle(const Frame &frame);

    // What a restart does once its reply has gone out: open files are
    // closed, an unfinished image is dropped, a finished image's release
    // becomes the reported software version.
    void Restart();

    void SetStatus(std::uint8_t status) { m_options.status = status; }
    void SetImageFinishDelay(int ms) { m_finishDelayMs = ms; }
    std::uint8_t SoftwareVersion() const { return m_options.sw; }

    // The release an image announces: the digits after the first
    // "VXSIM-RELEASE=". note says what was found, for the transcript.
    static std::optional<std::uint8_t> ReleaseOf(const Bytes &image, std::string &note);

private:
    Outcome Identify() const;
    Outcome WriteConfig(const Bytes &payload);
    Outcome ReadConfig();
    Outcome CommandLine(const Bytes &payload);
    Outcome PathFile(const Bytes &payload);
    Outcome NumberedFile(const Bytes &payload);
    Outcome Image(const Bytes &payload);

    bool MapPath(const std::string &devicePath, std::string &hostPath, std::string &why) const;
    void CloseNumbered();
    void ClosePathFile();

    std::string FsRoot() const;
    std::string NumberedPath(unsigned number) const;
    std::string ConfigPath() const;

    DeviceOptions m_options;
    std::uint8_t m_nextSw;
    int m_finishDelayMs = 0;

    // Numbered-file channel (0x78): one open file, one position.
    int m_numFd = -1;
    bool m_numForWriting = false;
    unsigned m_numNumber = 0;
    std::uint64_t m_numPos = 0;

    // Path-file channel (0x82): one file open for appending.
    int m_pathFd = -1;
    std::string m_pathOpen;

    // Image upload (0x82).
    bool m_imageOpen = false;
    Bytes m_image;
};

// Reads a whole file; false when it cannot be read.
bool ReadWholeFile(const std::string &path, Bytes &out);
// Writes a whole file (creating parent folders); false on failure.
bool WriteWholeFile(const std::string &path, const Bytes &data);

} // namespace vx
