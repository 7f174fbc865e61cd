#pragma once

// The modulator's configuration record and its two byte layouts.
//
// The same bytes are read from the device, written back to it and stored as
// the whole body of a configuration file. The 0x82 family keeps the record in
// the full layout (65 fields in a row, no header); the 0x78 family in the
// compact layout (magic 50 46 5A 4A, a header byte, the total length, a subset
// of the fields, an optional tail). The caller picks the layout from the type
// of the connected device, never from the bytes.
//
// Every operation works on one fixed buffer of 4096 bytes and never reads or
// writes outside it:
//  * Reading: bytes past the end of the buffer read as zero, as the bytes after
//    a short record do. A text without a zero byte before the end is cut at the
//    end of the buffer; a number field that runs past the end takes its missing
//    bytes as zero. The parse then reports ParseStatus::Truncated (the record
//    holds what could be read). A tail field of the compact layout that does
//    not fit whole is taken as absent.
//  * Writing: a record always comes out whole, with every field. When its
//    texts would not fit (in practice only a very long logoName, which the
//    form does not limit), the longest texts are cut to a common length so
//    that the record fills at most the 4096 bytes; the writer says so through
//    its textsCut flag. Refusing instead would leave the caller nothing to
//    send or save.
//
// Failures are results: nothing here throws.

#include <QByteArrayView>
#include <QString>
#include <QtGlobal>
#include <array>

// Size of the buffer that holds one record (a device reply, a file body).
inline constexpr int kRecordBufferSize = 4096;
using RecordBuffer = std::array<quint8, kRecordBufferSize>;

// The four bytes that start a compact record (0x4A5A4650 little-endian).
inline constexpr quint32 kCompactMagic = 0x4A5A4650;
// Header of the compact layout: magic, header byte, total length.
inline constexpr int kCompactHeaderSize = 7;
// Shortest records, every text empty.
inline constexpr int kShortestFullRecord = 80;
inline constexpr int kShortestCompactRecord = 49;

// Largest attenuation the level code table covers.
inline constexpr int kMaxAttenuationDb = 29;

// The whole configuration. Numbers are signed 32-bit in memory whatever their
// width on the wire (a number is written as its low 8, 16 or 32 bits and read
// back zero-extended); texts are Unicode. Fields are listed in the order of the
// full layout; the opaque ones are not interpreted by this program and are
// carried unchanged.
struct DeviceConfig
{
    QString reference;               // 1, free text identifying the unit
    qint32 defaultCountry = 0;       // 2, index into the country list of the type
    qint32 country = 0;              // 3, same coding, not shown
    qint32 deliverySystem = 0;       // 4, 1 = DVB-T, 2 = DVB-C
    qint32 frequencyKhz = 0;         // 5
    qint32 bandwidth = 0;            // 6, 0 = 6 MHz, 1 = 7 MHz, 2 = 8 MHz
    qint32 transmissionMode = 0;     // 7, 0 = 2K, 1 = 8K
    qint32 constellation = 0;        // 8, 0 = QPSK, 1 = QAM16, 2 = QAM64
    qint32 codeRate = 0;             // 9, 0 = 1/2 ... 4 = 7/8
    qint32 guardInterval = 0;        // 10, 0 = 1/32 ... 3 = 1/4
    qint32 attenuationDb = 0;        // 11, 0 (full level) to 29
    qint32 cableConstellation = 0;   // 12, 0 = QAM16 ... 4 = QAM256
    qint32 symbolRate = 0;           // 13, DVB-C symbol rate as typed
    qint32 networkVersion = 0;       // 14, 0 to 31
    qint32 networkId = 0;            // 15
    qint32 originalNetworkId = 0;    // 16
    QString networkName;             // 17
    qint32 transportStreamId = 0;    // 18
    qint32 opaque19 = 0;             // 19, also carried by the compact layout
    qint32 serviceId = 0;            // 20
    qint32 lcnFlavour = 0;           // 21, 0 = EACEM, 1 = ITC, 2 = NORDIG
    qint32 logicalChannelNumber = 0; // 22
    qint32 opaque23 = 0;             // 23, u16
    QString serviceName;             // 24
    qint32 pmtPid = 0;               // 25
    qint32 videoPid = 0;             // 26
    qint32 audioPid = 0;             // 27
    qint32 videoBitrateKbps = 0;     // 28
    qint32 audioBitrate = 0;         // 29, 0 = 128 ... 4 = 384 kbit/s
    qint32 opaque30 = 0;             // 30
    qint32 opaque31 = 0;             // 31
    qint32 videoStandard = 0;        // 32, 0 = PAL, 1 = NTSC
    qint32 opaque33 = 0;             // 33
    qint32 opaque34 = 0;             // 34
    qint32 opaque35 = 0;             // 35
    qint32 opaque36 = 0;             // 36
    QString opaque37;                // 37, text
    qint32 opaque38 = 0;             // 38, u16
    qint32 opaque39 = 0;             // 39
    qint32 opaque40 = 0;             // 40
    qint32 opaque41 = 0;             // 41
    QString logoName;                // 42, logo file name with extension
    qint32 opaque43 = 0;             // 43
    qint32 opaque44 = 0;             // 44
    qint32 opaque45 = 0;             // 45
    qint32 opaque46 = 0;             // 46
    qint32 opaque47 = 0;             // 47
    qint32 opaque48 = 0;             // 48
    qint32 opaque49 = 0;             // 49
    QString opaque50;                // 50, text
    QString opaque51;                // 51, text
    QString opaque52;                // 52, text
    qint32 opaque53 = 0;             // 53
    qint32 opaque54 = 0;             // 54
    qint32 opaque55 = 0;             // 55
    QString eventName;               // 56
    QString eventText;               // 57
    qint32 audioCoding = 0;          // 58, 0 = AAC-LC, 1 = MPEG1-L2
    qint32 videoCoding = 0;          // 59, 0 = H264, 1 = MPEG2-SD, 2 = MPEG2
    qint32 opaque60 = 0;             // 60
    qint32 opaque61 = 0;             // 61
    qint32 aspectRatio = 0;          // 62, index into the picture format list of the type
    qint32 brightness = 0;           // 63
    qint32 contrast = 0;             // 64
    qint32 saturation = 0;           // 65

    // Compact layout only: the byte after the magic, carried unchanged; 0 until
    // a compact record has been read.
    qint32 headerByte = 0;

    bool operator==(const DeviceConfig &) const = default;
};

// The character set of every text the device stores, indexed by byte value:
// ISO 8859-1, except 0x00-0x1F and 0x7F-0xA0 which show as ".", 0x22 which
// shows as an apostrophe and 0xAD which shows as a hyphen-minus.
const QString &DeviceCharset();

// Amplitude code of the compact layout for an attenuation of i dB:
// floor(255 * 10^(-i/20)).
inline constexpr std::array<quint8, kMaxAttenuationDb + 1> LevelCodeTable = {
    255, 227, 202, 180, 160, 143, 127, 113, 101, 90, 80, 71, 64, 57, 50,
    45,  40,  36,  32,  28,  25,  22,  20,  18,  16, 14, 12, 11, 10, 9};

// Amplitude code for an attenuation in dB; values outside 0..29 are held to
// that range (a record from a file may carry any byte there).
int LevelCodeFromDb(int attenuationDb);
// Attenuation in dB for an amplitude code: the smallest i (0..28) whose code
// is not above the given one, 29 below 10. A code between two entries gives
// the larger attenuation.
int DbFromLevelCode(int code);

// Decodes the zero-ended text at position and moves position past its zero
// byte. A text that runs to the end of the buffer is cut there, position ends
// at the buffer's size and terminated (when given) is set false.
QString DecodeDeviceText(const RecordBuffer &buffer, quint16 &position, bool *terminated = nullptr);
// Encodes text one byte per UTF-16 code unit, as the form counts its limits
// (characters outside the device's set become ".") with its zero byte and moves position past them.
// Returns false when the text had to be cut to keep its zero byte inside the buffer; nothing at all
// is written when position is already at the end.
bool EncodeDeviceText(const QString &text, RecordBuffer &buffer, quint16 &position);

enum class ParseStatus {
    Complete,   // every field read inside the buffer
    Truncated,  // a text or a field ran past the end of the buffer; cut there
    WrongMagic, // compact layout only: not a compact record, record unchanged
};

// Replaces all 65 fields from a full record starting at offset 0. The full
// layout has no check: any bytes decode.
ParseStatus ParseFullLayout(const RecordBuffer &buffer, DeviceConfig &record);
// Replaces the fields the compact layout carries; the others keep their
// values, except deliverySystem which becomes 1 (DVB-T). On a wrong magic the
// record is left as it was.
ParseStatus ParseCompactLayout(const RecordBuffer &buffer, DeviceConfig &record);

// Write the record from offset 0 and return its length in bytes. The bytes
// after the record are left as they were (callers pass a cleared buffer).
quint16 WriteFullLayout(const DeviceConfig &record, RecordBuffer &buffer, bool *textsCut = nullptr);
// Always writes all 31 body fields, the tail included.
quint16 WriteCompactLayout(const DeviceConfig &record, RecordBuffer &buffer,
                           bool *textsCut = nullptr);

// A cleared buffer holding bytes (a reply payload, a file body); anything past
// 4096 bytes is left out.
RecordBuffer RecordBufferFrom(QByteArrayView bytes);
