#include "settings/DeviceConfig.h"

#include <algorithm>

namespace {

// One field of the full layout: a number of 1, 2 or 4 bytes, or a text.
struct FullField
{
    int width = 0; // 0 for a text
    qint32 DeviceConfig::*number = nullptr;
    QString DeviceConfig::*text = nullptr;
};

constexpr FullField u8(qint32 DeviceConfig::*m)
{
    return {1, m, nullptr};
}
constexpr FullField u16(qint32 DeviceConfig::*m)
{
    return {2, m, nullptr};
}
constexpr FullField u32(qint32 DeviceConfig::*m)
{
    return {4, m, nullptr};
}
constexpr FullField txt(QString DeviceConfig::*m)
{
    return {0, nullptr, m};
}

using C = DeviceConfig;

// The full layout, in order, with nothing between the fields.
constexpr FullField kFullLayout[] = {
    txt(&C::reference),       u8(&C::defaultCountry),
    u8(&C::country),          u8(&C::deliverySystem),
    u32(&C::frequencyKhz),    u8(&C::bandwidth),
    u8(&C::transmissionMode), u8(&C::constellation),
    u8(&C::codeRate),         u8(&C::guardInterval),
    u8(&C::attenuationDb),    u8(&C::cableConstellation),
    u16(&C::symbolRate),      u8(&C::networkVersion),
    u16(&C::networkId),       u16(&C::originalNetworkId),
    txt(&C::networkName),     u16(&C::transportStreamId),
    u8(&C::opaque19),         u16(&C::serviceId),
    u8(&C::lcnFlavour),       u16(&C::logicalChannelNumber),
    u16(&C::opaque23),        txt(&C::serviceName),
    u16(&C::pmtPid),          u16(&C::videoPid),
    u16(&C::audioPid),        u16(&C::videoBitrateKbps),
    u8(&C::audioBitrate),     u8(&C::opaque30),
    u8(&C::opaque31),         u8(&C::videoStandard),
    u8(&C::opaque33),         u8(&C::opaque34),
    u8(&C::opaque35),         u8(&C::opaque36),
    txt(&C::opaque37),        u16(&C::opaque38),
    u8(&C::opaque39),         u8(&C::opaque40),
    u8(&C::opaque41),         txt(&C::logoName),
    u8(&C::opaque43),         u8(&C::opaque44),
    u8(&C::opaque45),         u8(&C::opaque46),
    u8(&C::opaque47),         u8(&C::opaque48),
    u8(&C::opaque49),         txt(&C::opaque50),
    txt(&C::opaque51),        txt(&C::opaque52),
    u8(&C::opaque53),         u8(&C::opaque54),
    u8(&C::opaque55),         txt(&C::eventName),
    txt(&C::eventText),       u8(&C::audioCoding),
    u8(&C::videoCoding),      u8(&C::opaque60),
    u8(&C::opaque61),         u8(&C::aspectRatio),
    u8(&C::brightness),       u8(&C::contrast),
    u8(&C::saturation),
};
static_assert(std::size(kFullLayout) == 65);

constexpr int FullFixedBytes()
{
    int n = 0;
    for (const FullField &f : kFullLayout) {
        n += f.width;
    }
    return n;
}
constexpr int FullTextCount()
{
    int n = 0;
    for (const FullField &f : kFullLayout) {
        n += f.width == 0 ? 1 : 0;
    }
    return n;
}
static_assert(FullFixedBytes() == 70 && FullTextCount() == 10);
static_assert(FullFixedBytes() + FullTextCount() == kShortestFullRecord);

// Fixed-width bytes of a compact record: header, body, tail.
constexpr int kCompactFixedBytes = kCompactHeaderSize + 33 + 6;
static_assert(kCompactFixedBytes == 46 && kCompactFixedBytes + 3 == kShortestCompactRecord);

// Reads fields one after the other; never past the buffer, whose missing
// bytes read as zero.
class Reader
{
public:
    Reader(const RecordBuffer &buffer, int position) : m_buffer(buffer), m_position(position) {}

    quint32 Number(int width)
    {
        quint32 value = 0;
        for (int i = 0; i < width; ++i) {
            if (m_position < kRecordBufferSize) {
                value |= quint32(m_buffer[m_position]) << (8 * i);
                ++m_position;
            } else {
                m_truncated = true;
            }
        }
        return value;
    }

    QString Text()
    {
        quint16 position = quint16(m_position);
        bool terminated = true;
        QString text = DecodeDeviceText(m_buffer, position, &terminated);
        m_position = position;
        m_truncated = m_truncated || !terminated;
        return text;
    }

    bool Fits(int width) const { return m_position + width <= kRecordBufferSize; }
    int Position() const { return m_position; }
    bool Truncated() const { return m_truncated; }

private:
    const RecordBuffer &m_buffer;
    int m_position;
    bool m_truncated = false;
};

// Writes fields one after the other. The layouts size their texts beforehand
// so that everything fits; the checks here only keep a slip inside the buffer.
class Writer
{
public:
    Writer(RecordBuffer &buffer, int position, int textCap)
        : m_buffer(buffer), m_position(position), m_textCap(textCap)
    {
    }

    void Number(qint32 value, int width)
    {
        const quint32 v = quint32(value);
        for (int i = 0; i < width; ++i) {
            if (m_position < kRecordBufferSize) {
                m_buffer[m_position] = quint8(v >> (8 * i));
                ++m_position;
            }
        }
    }

    void Text(const QString &text)
    {
        quint16 position = quint16(m_position);
        EncodeDeviceText(text.size() > m_textCap ? text.left(m_textCap) : text, m_buffer, position);
        m_position = position;
    }

    int Position() const { return m_position; }

private:
    RecordBuffer &m_buffer;
    int m_position;
    int m_textCap;
};

// The longest a text may be so that all texts, with the fixed bytes and one
// zero byte each, fit the buffer: only the longest texts are cut, to one
// common length. Returns the largest text length when nothing needs cutting.
int TextCap(std::initializer_list<const QString *> texts, int fixedBytes, bool *cut)
{
    const int budget = kRecordBufferSize - fixedBytes - int(texts.size());
    qsizetype longest = 0;
    qsizetype total = 0;
    for (const QString *t : texts) {
        longest = std::max(longest, t->size());
        total += t->size();
    }
    if (cut) {
        *cut = total > budget;
    }
    if (total <= budget) {
        return int(std::min<qsizetype>(longest, kRecordBufferSize));
    }
    auto usedWithCap = [&](qsizetype cap) {
        qsizetype used = 0;
        for (const QString *t : texts) {
            used += std::min(t->size(), cap);
        }
        return used;
    };
    // Largest cap whose total still fits; cap 0 always does.
    qsizetype low = 0;
    qsizetype high = std::min<qsizetype>(longest, budget);
    while (low < high) {
        const qsizetype mid = (low + high + 1) / 2;
        if (usedWithCap(mid) <= budget) {
            low = mid;
        } else {
            high = mid - 1;
        }
    }
    return int(low);
}

} // namespace

const QString &DeviceCharset()
{
    static const QString charset = [] {
        QString s(256, QChar(u'.'));
        for (int b = 0; b < 256; ++b) {
            if ((b >= 0x20 && b < 0x7F) || b > 0xA0) {
                s[b] = QChar(char16_t(b));
            }
        }
        s[0x22] = QChar(u'\'');
        s[0xAD] = QChar(u'-');
        return s;
    }();
    return charset;
}

int LevelCodeFromDb(int attenuationDb)
{
    return LevelCodeTable[std::clamp(attenuationDb, 0, kMaxAttenuationDb)];
}

int DbFromLevelCode(int code)
{
    for (int i = 0; i < kMaxAttenuationDb; ++i) {
        if (LevelCodeTable[i] <= code) {
            return i;
        }
    }
    return kMaxAttenuationDb;
}

QString DecodeDeviceText(const RecordBuffer &buffer, quint16 &position, bool *terminated)
{
    const QString &charset = DeviceCharset();
    QString text;
    int p = position;
    while (p < kRecordBufferSize && buffer[p] != 0) {
        text.append(charset[buffer[p]]);
        ++p;
    }
    const bool ended = p < kRecordBufferSize;
    position = quint16(ended ? p + 1 : kRecordBufferSize);
    if (terminated) {
        *terminated = ended;
    }
    return text;
}

bool EncodeDeviceText(const QString &text, RecordBuffer &buffer, quint16 &position)
{
    int p = position;
    if (p >= kRecordBufferSize) {
        return false;
    }
    const QString &charset = DeviceCharset();
    // Room for the characters, keeping one byte for the zero.
    const qsizetype count = std::min<qsizetype>(text.size(), kRecordBufferSize - p - 1);
    for (qsizetype i = 0; i < count; ++i) {
        const char16_t c = text[i].unicode();
        buffer[p++] = (c < 256 && charset[c] == QChar(c)) ? quint8(c) : quint8('.');
    }
    buffer[p++] = 0;
    position = quint16(p);
    return count == text.size();
}

ParseStatus ParseFullLayout(const RecordBuffer &buffer, DeviceConfig &record)
{
    Reader r(buffer, 0);
    for (const FullField &f : kFullLayout) {
        if (f.width == 0) {
            record.*f.text = r.Text();
        } else {
            record.*f.number = qint32(r.Number(f.width));
        }
    }
    return r.Truncated() ? ParseStatus::Truncated : ParseStatus::Complete;
}

ParseStatus ParseCompactLayout(const RecordBuffer &buffer, DeviceConfig &record)
{
    Reader r(buffer, 0);
    if (r.Number(4) != kCompactMagic) {
        return ParseStatus::WrongMagic;
    }
    record.headerByte = qint32(r.Number(1));
    const int totalLength = int(r.Number(2));

    record.reference = r.Text();
    record.transportStreamId = qint32(r.Number(2));
    record.serviceId = qint32(r.Number(2));
    record.networkVersion = qint32(r.Number(1) & 0x1F);
    record.opaque19 = qint32(r.Number(1));
    record.country = qint32(r.Number(1));
    record.frequencyKhz = qint32(r.Number(2) * 1000);
    record.bandwidth = qint32(r.Number(1));
    record.transmissionMode = qint32(r.Number(1));
    record.constellation = qint32(r.Number(1));
    record.codeRate = qint32(r.Number(1));
    record.guardInterval = qint32(r.Number(1));
    record.attenuationDb = DbFromLevelCode(int(r.Number(1)));
    record.pmtPid = qint32(r.Number(2));
    record.videoPid = qint32(r.Number(2));
    record.audioPid = qint32(r.Number(2));
    record.videoBitrateKbps = qint32(r.Number(2));
    record.audioBitrate = qint32(r.Number(1));
    record.logicalChannelNumber = qint32(r.Number(2));
    record.originalNetworkId = qint32(r.Number(2));
    record.serviceName = r.Text();
    record.networkName = r.Text();
    record.videoStandard = qint32(r.Number(1));
    const qint32 storedFormat = qint32(r.Number(1));
    record.aspectRatio = storedFormat > 0 ? storedFormat - 1 : 0;
    record.brightness = qint32(r.Number(1));
    record.contrast = qint32(r.Number(1));
    record.saturation = qint32(r.Number(1));

    // The tail: each field only while its start lies inside the announced
    // length and the field lies whole inside the buffer; once one is absent,
    // so are the ones after it.
    bool tailEnded = false;
    bool tailCut = false;
    auto present = [&](int width) {
        if (tailEnded || r.Position() >= totalLength) {
            tailEnded = true;
            return false;
        }
        if (!r.Fits(width)) {
            tailEnded = tailCut = true;
            return false;
        }
        return true;
    };
    record.networkId = present(2) ? qint32(r.Number(2)) : record.originalNetworkId;
    if (present(2)) {
        record.frequencyKhz = qint32(r.Number(2) * 125);
    }
    record.defaultCountry = present(1) ? qint32(r.Number(1)) : 0;
    record.lcnFlavour = present(1) ? qint32(r.Number(1)) : 0;

    record.deliverySystem = 1;
    return (r.Truncated() || tailCut) ? ParseStatus::Truncated : ParseStatus::Complete;
}

quint16 WriteFullLayout(const DeviceConfig &record, RecordBuffer &buffer, bool *textsCut)
{
    const int cap = TextCap({&record.reference, &record.networkName, &record.serviceName,
                             &record.opaque37, &record.logoName, &record.opaque50, &record.opaque51,
                             &record.opaque52, &record.eventName, &record.eventText},
                            FullFixedBytes(), textsCut);
    Writer w(buffer, 0, cap);
    for (const FullField &f : kFullLayout) {
        if (f.width == 0) {
            w.Text(record.*f.text);
        } else {
            w.Number(record.*f.number, f.width);
        }
    }
    return quint16(w.Position());
}

quint16 WriteCompactLayout(const DeviceConfig &record, RecordBuffer &buffer, bool *textsCut)
{
    const int cap = TextCap({&record.reference, &record.serviceName, &record.networkName},
                            kCompactFixedBytes, textsCut);
    Writer w(buffer, kCompactHeaderSize, cap);
    w.Text(record.reference);
    w.Number(record.transportStreamId, 2);
    w.Number(record.serviceId, 2);
    w.Number(record.networkVersion & 0x1F, 1);
    w.Number(record.opaque19, 1);
    w.Number(record.country, 1);
    w.Number(record.frequencyKhz / 1000, 2);
    w.Number(record.bandwidth, 1);
    w.Number(record.transmissionMode, 1);
    w.Number(record.constellation, 1);
    w.Number(record.codeRate, 1);
    w.Number(record.guardInterval, 1);
    w.Number(LevelCodeFromDb(record.attenuationDb), 1);
    w.Number(record.pmtPid, 2);
    w.Number(record.videoPid, 2);
    w.Number(record.audioPid, 2);
    w.Number(record.videoBitrateKbps, 2);
    w.Number(record.audioBitrate, 1);
    w.Number(record.logicalChannelNumber, 2);
    w.Number(record.originalNetworkId, 2);
    w.Text(record.serviceName);
    w.Text(record.networkName);
    w.Number(record.videoStandard, 1);
    w.Number(record.aspectRatio + 1, 1);
    w.Number(record.brightness, 1);
    w.Number(record.contrast, 1);
    w.Number(record.saturation, 1);
    w.Number(record.networkId, 2);
    w.Number(record.frequencyKhz / 125, 2);
    w.Number(record.defaultCountry, 1);
    w.Number(record.lcnFlavour, 1);
    const int length = w.Position();

    Writer header(buffer, 0, 0);
    header.Number(qint32(kCompactMagic), 4);
    header.Number(record.headerByte, 1);
    header.Number(length, 2);
    return quint16(length);
}

RecordBuffer RecordBufferFrom(QByteArrayView bytes)
{
    RecordBuffer buffer{};
    const qsizetype n = std::min<qsizetype>(bytes.size(), kRecordBufferSize);
    std::copy_n(reinterpret_cast<const quint8 *>(bytes.data()), n, buffer.begin());
    return buffer;
}
