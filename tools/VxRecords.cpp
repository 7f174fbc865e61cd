#include "tools/VxRecords.h"

#include <cstring>

namespace vx {

namespace {

// Magic at the front of compact records and I/Q tables.
constexpr std::uint8_t kMagic[4] = {0x50, 0x46, 0x5A, 0x4A};

// One configuration, written in both layouts below.
struct Defaults
{
    const char *reference = "VXSIM";
    unsigned defaultCountry = 1; // ENGLISH in both country lists
    unsigned country = 1;
    unsigned deliverySystem = 1; // DVB-T
    std::uint32_t frequencyKhz = 474000;
    unsigned bandwidth = 2;        // 8 MHz
    unsigned transmissionMode = 1; // 8K
    unsigned constellation = 2;    // QAM64
    unsigned codeRate = 1;         // 2/3
    unsigned guardInterval = 0;    // 1/32
    unsigned attenuationDb = 0;
    unsigned cableConstellation = 2; // QAM64
    unsigned symbolRate = 6900;
    unsigned networkVersion = 0;
    unsigned networkId = 1;
    unsigned originalNetworkId = 8442;
    const char *networkName = "ZEPHALINK NET";
    unsigned transportStreamId = 1;
    unsigned serviceId = 1;
    unsigned lcnFlavour = 0;
    unsigned logicalChannelNumber = 1;
    const char *serviceName = "ZEPHALINK";
    unsigned pmtPid = 256;
    unsigned videoPid = 257;
    unsigned audioPid = 258;
    unsigned videoBitrateKbps = 6000;
    unsigned audioBitrate = 1;  // 192 kbit/s
    unsigned videoStandard = 0; // PAL
    const char *logoName = "logo.dg1";
    const char *eventName = "News";
    const char *eventText = "Evening news";
    unsigned audioCoding = 0;
    unsigned videoCoding = 0;
    unsigned brightness = 128;
    unsigned contrast = 128;
    unsigned saturation = 128;
};

} // namespace

void PutU8(Bytes &b, unsigned v)
{
    b.push_back(static_cast<std::uint8_t>(v & 0xFF));
}

void PutU16(Bytes &b, unsigned v)
{
    PutU8(b, v);
    PutU8(b, v >> 8);
}

void PutU32(Bytes &b, std::uint32_t v)
{
    PutU16(b, v & 0xFFFF);
    PutU16(b, v >> 16);
}

void PutText(Bytes &b, const char *text)
{
    b.insert(b.end(), text, text + std::strlen(text));
    b.push_back(0);
}

Bytes DefaultFullRecord()
{
    const Defaults d;
    Bytes b;
    PutText(b, d.reference);
    PutU8(b, d.defaultCountry);
    PutU8(b, d.country);
    PutU8(b, d.deliverySystem);
    PutU32(b, d.frequencyKhz);
    PutU8(b, d.bandwidth);
    PutU8(b, d.transmissionMode);
    PutU8(b, d.constellation);
    PutU8(b, d.codeRate);
    PutU8(b, d.guardInterval);
    PutU8(b, d.attenuationDb);
    PutU8(b, d.cableConstellation);
    PutU16(b, d.symbolRate);
    PutU8(b, d.networkVersion);
    PutU16(b, d.networkId);
    PutU16(b, d.originalNetworkId);
    PutText(b, d.networkName);
    PutU16(b, d.transportStreamId);
    PutU8(b, 0); // 19, not interpreted by the program
    PutU16(b, d.serviceId);
    PutU8(b, d.lcnFlavour);
    PutU16(b, d.logicalChannelNumber);
    PutU16(b, 0); // 23
    PutText(b, d.serviceName);
    PutU16(b, d.pmtPid);
    PutU16(b, d.videoPid);
    PutU16(b, d.audioPid);
    PutU16(b, d.videoBitrateKbps);
    PutU8(b, d.audioBitrate);
    PutU8(b, 0); // 30
    PutU8(b, 0); // 31
    PutU8(b, d.videoStandard);
    for (int i = 33; i <= 36; ++i) {
        PutU8(b, 0);
    }
    PutText(b, ""); // 37
    PutU16(b, 0);   // 38
    for (int i = 39; i <= 41; ++i) {
        PutU8(b, 0);
    }
    PutText(b, d.logoName);
    for (int i = 43; i <= 49; ++i) {
        PutU8(b, 0);
    }
    for (int i = 50; i <= 52; ++i) {
        PutText(b, "");
    }
    for (int i = 53; i <= 55; ++i) {
        PutU8(b, 0);
    }
    PutText(b, d.eventName);
    PutText(b, d.eventText);
    PutU8(b, d.audioCoding);
    PutU8(b, d.videoCoding);
    PutU8(b, 0); // 60
    PutU8(b, 0); // 61
    PutU8(b, 0); // picture format: index 0 is 16/9 on this family
    PutU8(b, d.brightness);
    PutU8(b, d.contrast);
    PutU8(b, d.saturation);
    return b;
}

Bytes DefaultCompactRecord()
{
    const Defaults d;
    Bytes b(kMagic, kMagic + 4);
    PutU8(b, 0);  // header byte
    PutU16(b, 0); // total length, filled in below
    PutText(b, d.reference);
    PutU16(b, d.transportStreamId);
    PutU16(b, d.serviceId);
    PutU8(b, d.networkVersion & 0x1F);
    PutU8(b, 0); // the byte the full layout keeps as field 19
    PutU8(b, d.country);
    PutU16(b, d.frequencyKhz / 1000);
    PutU8(b, d.bandwidth);
    PutU8(b, d.transmissionMode);
    PutU8(b, d.constellation);
    PutU8(b, d.codeRate);
    PutU8(b, d.guardInterval);
    PutU8(b, 255); // amplitude code of 0 dB attenuation
    PutU16(b, d.pmtPid);
    PutU16(b, d.videoPid);
    PutU16(b, d.audioPid);
    PutU16(b, d.videoBitrateKbps);
    PutU8(b, d.audioBitrate);
    PutU16(b, d.logicalChannelNumber);
    PutU16(b, d.originalNetworkId);
    PutText(b, d.serviceName);
    PutText(b, d.networkName);
    PutU8(b, d.videoStandard);
    PutU8(b, 2); // picture format stored as index + 1: 16/9 on this family
    PutU8(b, d.brightness);
    PutU8(b, d.contrast);
    PutU8(b, d.saturation);
    PutU16(b, d.networkId);
    PutU16(b, d.frequencyKhz / 125);
    PutU8(b, d.defaultCountry);
    PutU8(b, d.lcnFlavour);
    b[5] = static_cast<std::uint8_t>(b.size() & 0xFF);
    b[6] = static_cast<std::uint8_t>(b.size() >> 8);
    return b;
}

Bytes DefaultIqTable()
{
    struct Row
    {
        unsigned mhz;
        int dAmp;
        int dPhi;
    };
    static constexpr Row rows[] = {{474, -35, 120}, {594, 12, -8}, {858, 0, 0}};
    Bytes b(kMagic, kMagic + 4);
    PutU8(b, sizeof rows / sizeof rows[0]);
    for (const Row &r : rows) {
        PutU16(b, r.mhz);
        PutU16(b, static_cast<unsigned>(r.dAmp + 10000));
        PutU16(b, static_cast<unsigned>(r.dPhi + 10000));
    }
    return b;
}

} // namespace vx
