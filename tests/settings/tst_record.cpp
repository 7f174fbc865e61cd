// The configuration record: device text coding, level codes and both byte
// layouts, byte for byte, and the bounds of the 4096-byte buffer.
#include "settings/DeviceConfig.h"

#include <QtTest>
#include <cmath>
#include <memory>

Q_DECLARE_METATYPE(DeviceConfig)
Q_DECLARE_METATYPE(ParseStatus)

namespace {

// Builds expected bytes field by field, independently of the code under test.
class Bytes
{
public:
    Bytes &u8(int v)
    {
        m_b.append(char(v & 0xFF));
        return *this;
    }
    Bytes &u16(int v) { return u8(v).u8(v >> 8); }
    Bytes &u32(qint64 v) { return u16(int(v & 0xFFFF)).u16(int((v >> 16) & 0xFFFF)); }
    // Raw bytes of a text, then its zero byte.
    Bytes &text(const QByteArray &raw)
    {
        m_b.append(raw);
        m_b.append('\0');
        return *this;
    }
    Bytes &raw(const QByteArray &raw)
    {
        m_b.append(raw);
        return *this;
    }
    int size() const { return int(m_b.size()); }
    // Total length of a compact record at offsets 5 and 6.
    Bytes &patchLength(int length)
    {
        m_b[5] = char(length & 0xFF);
        m_b[6] = char(length >> 8);
        return *this;
    }
    operator QByteArray() const { return m_b; }

private:
    QByteArray m_b;
};

const QByteArray kMagicBytes = QByteArray::fromHex("50465A4A");

// u16 fields of the distinct record carry 0x10nn (n = their place in the full
// layout), so a swapped byte order or a misplaced field shows at once.
int u16Of(int n)
{
    return 0x1000 + n;
}

// A record whose every field holds its own value.
DeviceConfig distinctRecord()
{
    DeviceConfig c;
    c.reference = "REF-1";
    c.defaultCountry = 2;
    c.country = 3;
    c.deliverySystem = 4;
    c.frequencyKhz = 474125;
    c.bandwidth = 6;
    c.transmissionMode = 7;
    c.constellation = 8;
    c.codeRate = 9;
    c.guardInterval = 10;
    c.attenuationDb = 11;
    c.cableConstellation = 12;
    c.symbolRate = u16Of(13);
    c.networkVersion = 14;
    c.networkId = u16Of(15);
    c.originalNetworkId = u16Of(16);
    c.networkName = "NET 17";
    c.transportStreamId = u16Of(18);
    c.opaque19 = 19;
    c.serviceId = u16Of(20);
    c.lcnFlavour = 21;
    c.logicalChannelNumber = u16Of(22);
    c.opaque23 = u16Of(23);
    c.serviceName = "SVC 24";
    c.pmtPid = u16Of(25);
    c.videoPid = u16Of(26);
    c.audioPid = u16Of(27);
    c.videoBitrateKbps = u16Of(28);
    c.audioBitrate = 29;
    c.opaque30 = 30;
    c.opaque31 = 31;
    c.videoStandard = 32;
    c.opaque33 = 33;
    c.opaque34 = 34;
    c.opaque35 = 35;
    c.opaque36 = 36;
    c.opaque37 = "o37";
    c.opaque38 = u16Of(38);
    c.opaque39 = 39;
    c.opaque40 = 40;
    c.opaque41 = 41;
    c.logoName = "logo42.dg1";
    c.opaque43 = 43;
    c.opaque44 = 44;
    c.opaque45 = 45;
    c.opaque46 = 46;
    c.opaque47 = 47;
    c.opaque48 = 48;
    c.opaque49 = 49;
    c.opaque50 = "o50";
    c.opaque51 = "o51";
    c.opaque52 = "o52";
    c.opaque53 = 53;
    c.opaque54 = 54;
    c.opaque55 = 55;
    c.eventName = "Event 56";
    c.eventText = "Text 57";
    c.audioCoding = 58;
    c.videoCoding = 59;
    c.opaque60 = 60;
    c.opaque61 = 61;
    c.aspectRatio = 62;
    c.brightness = 63;
    c.contrast = 64;
    c.saturation = 65;
    return c;
}

QByteArray distinctFullBytes()
{
    Bytes b;
    b.text("REF-1").u8(2).u8(3).u8(4).u32(474125);
    for (int n = 6; n <= 12; ++n) {
        b.u8(n);
    }
    b.u16(u16Of(13)).u8(14).u16(u16Of(15)).u16(u16Of(16)).text("NET 17");
    b.u16(u16Of(18)).u8(19).u16(u16Of(20)).u8(21).u16(u16Of(22)).u16(u16Of(23)).text("SVC 24");
    b.u16(u16Of(25)).u16(u16Of(26)).u16(u16Of(27)).u16(u16Of(28));
    for (int n = 29; n <= 36; ++n) {
        b.u8(n);
    }
    b.text("o37").u16(u16Of(38)).u8(39).u8(40).u8(41).text("logo42.dg1");
    for (int n = 43; n <= 49; ++n) {
        b.u8(n);
    }
    b.text("o50").text("o51").text("o52").u8(53).u8(54).u8(55);
    b.text("Event 56").text("Text 57");
    for (int n = 58; n <= 65; ++n) {
        b.u8(n);
    }
    return b;
}

// The distinct record in the compact layout, written by hand.
QByteArray distinctCompactBytes(int headerByte)
{
    Bytes b;
    b.raw(kMagicBytes).u8(headerByte).u16(0);
    b.text("REF-1").u16(u16Of(18)).u16(u16Of(20)).u8(14).u8(19).u8(3);
    b.u16(474).u8(6).u8(7).u8(8).u8(9).u8(10).u8(71); // 11 dB
    b.u16(u16Of(25)).u16(u16Of(26)).u16(u16Of(27)).u16(u16Of(28)).u8(29);
    b.u16(u16Of(22)).u16(u16Of(16)).text("SVC 24").text("NET 17");
    b.u8(32).u8(63).u8(63).u8(64).u8(65);
    b.u16(u16Of(15)).u16(3793).u8(2).u8(21);
    return b.patchLength(b.size());
}

// What a compact record of c leaves in base: the fields it carries, and DVB-T.
DeviceConfig compactPart(const DeviceConfig &c, DeviceConfig base = DeviceConfig())
{
    DeviceConfig &r = base;
    r.headerByte = c.headerByte;
    r.reference = c.reference;
    r.transportStreamId = c.transportStreamId;
    r.serviceId = c.serviceId;
    r.networkVersion = c.networkVersion;
    r.opaque19 = c.opaque19;
    r.country = c.country;
    r.frequencyKhz = c.frequencyKhz;
    r.bandwidth = c.bandwidth;
    r.transmissionMode = c.transmissionMode;
    r.constellation = c.constellation;
    r.codeRate = c.codeRate;
    r.guardInterval = c.guardInterval;
    r.attenuationDb = c.attenuationDb;
    r.pmtPid = c.pmtPid;
    r.videoPid = c.videoPid;
    r.audioPid = c.audioPid;
    r.videoBitrateKbps = c.videoBitrateKbps;
    r.audioBitrate = c.audioBitrate;
    r.logicalChannelNumber = c.logicalChannelNumber;
    r.originalNetworkId = c.originalNetworkId;
    r.serviceName = c.serviceName;
    r.networkName = c.networkName;
    r.videoStandard = c.videoStandard;
    r.aspectRatio = c.aspectRatio;
    r.brightness = c.brightness;
    r.contrast = c.contrast;
    r.saturation = c.saturation;
    r.networkId = c.networkId;
    r.defaultCountry = c.defaultCountry;
    r.lcnFlavour = c.lcnFlavour;
    r.deliverySystem = 1;
    return base;
}

// One compact record for the parse rows: everything fixed except what a row
// changes.
struct CompactRow
{
    QByteArray reference = "REF";
    QByteArray serviceName = "SVC";
    int networkVersion = 3;
    int mhz = 474;
    int levelCode = 255;
    int pictureFormat = 2;
    int tailFields = 4; // how many of the four tail fields the length covers
    bool tailBytesBeyondLength = false;
};

constexpr int kOnid = 0x20FA;
constexpr int kNid = 0x0033;

QByteArray compactBytes(const CompactRow &row)
{
    Bytes b;
    b.raw(kMagicBytes).u8(0).u16(0);
    b.text(row.reference).u16(1).u16(2).u8(row.networkVersion).u8(0).u8(1);
    b.u16(row.mhz).u8(2).u8(1).u8(2).u8(1).u8(0).u8(row.levelCode);
    b.u16(256).u16(257).u16(258).u16(6000).u8(1);
    b.u16(7).u16(kOnid).text(row.serviceName).text("NET");
    b.u8(0).u8(row.pictureFormat).u8(128).u8(129).u8(130);
    const int body = b.size();
    static const int widths[] = {2, 2, 1, 1};
    const int values[] = {kNid, 3793, 3, 2};
    int length = body;
    for (int i = 0; i < 4; ++i) {
        if (i < row.tailFields || row.tailBytesBeyondLength) {
            if (widths[i] == 2) {
                b.u16(values[i]);
            } else {
                b.u8(values[i]);
            }
        }
        if (i < row.tailFields) {
            length = b.size();
        }
    }
    return b.patchLength(length);
}

QByteArray written(const RecordBuffer &buffer, int length)
{
    return QByteArray(reinterpret_cast<const char *>(buffer.data()), length);
}

} // namespace

class RecordTest : public QObject
{
    Q_OBJECT

private slots:
    void charset_data();
    void charset();
    void encodeText_data();
    void encodeText();
    void decodeText_data();
    void decodeText();

    void levelTableFollowsTheAmplitudeRule();
    void dbFromLevelCode_data();
    void dbFromLevelCode();
    void levelCodeFromDb_data();
    void levelCodeFromDb();

    void fullLayout_data();
    void fullLayout();
    void compactLayout_data();
    void compactLayout();
    void compactParse_data();
    void compactParse();
    void compactNetworkVersion_data();
    void compactNetworkVersion();
    void compactKeepsWhatItDoesNotCarry();
    void wrongMagicLeavesTheRecord_data();
    void wrongMagicLeavesTheRecord();
    void compactRecordReadAsFullShowsTheMagic();

    void fullRecordAtTheEndOfTheBuffer_data();
    void fullRecordAtTheEndOfTheBuffer();
    void compactRecordAtTheEndOfTheBuffer_data();
    void compactRecordAtTheEndOfTheBuffer();
    void writersCutOverlongTexts_data();
    void writersCutOverlongTexts();
    void bufferFromBytes_data();
    void bufferFromBytes();
};

void RecordTest::charset_data()
{
    QTest::addColumn<int>("byte");
    QTest::addColumn<QChar>("shown");

    QTest::newRow("00") << 0x00 << QChar(u'.');
    QTest::newRow("1F") << 0x1F << QChar(u'.');
    QTest::newRow("20 blank") << 0x20 << QChar(u' ');
    QTest::newRow("22 apostrophe") << 0x22 << QChar(u'\'');
    QTest::newRow("27 apostrophe") << 0x27 << QChar(u'\'');
    QTest::newRow("7E") << 0x7E << QChar(u'~');
    QTest::newRow("7F") << 0x7F << QChar(u'.');
    QTest::newRow("9F") << 0x9F << QChar(u'.');
    QTest::newRow("A0") << 0xA0 << QChar(u'.');
    QTest::newRow("A1") << 0xA1 << QChar(u'\u00A1');
    QTest::newRow("AD hyphen") << 0xAD << QChar(u'-');
    QTest::newRow("E9") << 0xE9 << QChar(u'\u00E9');
    QTest::newRow("FF") << 0xFF << QChar(u'\u00FF');
}

void RecordTest::charset()
{
    QFETCH(int, byte);
    QFETCH(QChar, shown);
    QCOMPARE(DeviceCharset().size(), 256);
    QCOMPARE(DeviceCharset().at(byte), shown);
}

void RecordTest::encodeText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("position");
    QTest::addColumn<QByteArray>("bytes"); // written from position on
    QTest::addColumn<int>("endPosition");
    QTest::addColumn<bool>("whole");

    const auto hex = [](const char *h) { return QByteArray::fromHex(h); };
    QTest::newRow("empty") << QString() << 0 << hex("00") << 1 << true;
    QTest::newRow("plain") << QStringLiteral("Ab 1") << 10
                           << hex("41622031"
                                  "00")
                           << 15 << true;
    QTest::newRow("quotation mark") << QStringLiteral("a\"b") << 0 << hex("612E6200") << 4 << true;
    QTest::newRow("apostrophe") << QStringLiteral("a'b") << 0 << hex("61276200") << 4 << true;
    QTest::newRow("l with stroke")
        << QStringLiteral("Wrocław") << 0 << hex("57726F632E617700") << 8 << true;
    QTest::newRow("latin-1 letters") << QStringLiteral("é¡ÿ") << 0 << hex("E9A1FF00") << 4 << true;
    QTest::newRow("A0 AD 7F tab") << QStringLiteral("\u00A0\u00AD\u007F\t") << 0
                                  << hex("2E2E2E2E00") << 5 << true;
    QTest::newRow("full stop and hyphen")
        << QStringLiteral(".-") << 0 << hex("2E2D00") << 3 << true;
    // Two code units, two bytes: the form counts its limits the same way.
    QTest::newRow("outside the plane")
        << QString::fromUtf8("\xF0\x9F\x93\xBA") << 0 << hex("2E2E00") << 3 << true;
    QTest::newRow("cut before the end")
        << QStringLiteral("abc") << 4094 << hex("6100") << 4096 << false;
    QTest::newRow("only the zero fits")
        << QStringLiteral("abc") << 4095 << hex("00") << 4096 << false;
    QTest::newRow("empty in the last byte") << QString() << 4095 << hex("00") << 4096 << true;
    QTest::newRow("at the end") << QStringLiteral("abc") << 4096 << QByteArray() << 4096 << false;
}

void RecordTest::encodeText()
{
    QFETCH(QString, text);
    QFETCH(int, position);
    QFETCH(QByteArray, bytes);
    QFETCH(int, endPosition);
    QFETCH(bool, whole);

    // On the heap so that a write past the end is caught by the sanitizer.
    auto buffer = std::make_unique<RecordBuffer>();
    buffer->fill(0xEE);
    quint16 p = quint16(position);
    QCOMPARE(EncodeDeviceText(text, *buffer, p), whole);
    QCOMPARE(int(p), endPosition);
    QCOMPARE(written(*buffer, kRecordBufferSize).mid(position, bytes.size()), bytes);
    if (position + bytes.size() < kRecordBufferSize) {
        QCOMPARE(buffer->at(position + bytes.size()), quint8(0xEE));
    }
}

void RecordTest::decodeText_data()
{
    QTest::addColumn<QByteArray>("bytes"); // placed at position
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("endPosition");
    QTest::addColumn<bool>("terminated");

    const auto hex = [](const char *h) { return QByteArray::fromHex(h); };
    QTest::newRow("empty") << hex("00") << 0 << QString() << 1 << true;
    QTest::newRow("plain") << hex("41620043") << 3 << QStringLiteral("Ab") << 6 << true;
    QTest::newRow("22 shows as apostrophe")
        << hex("61226200") << 0 << QStringLiteral("a'b") << 4 << true;
    QTest::newRow("controls and AD")
        << hex("010A7F9FA0AD00") << 0 << QStringLiteral(".....-") << 7 << true;
    QTest::newRow("latin-1") << hex("E9B300") << 0 << QStringLiteral("é³") << 3 << true;
    QTest::newRow("unterminated at the end")
        << hex("6162") << 4094 << QStringLiteral("ab") << 4096 << false;
    QTest::newRow("zero in the last byte")
        << hex("6100") << 4094 << QStringLiteral("a") << 4096 << true;
    QTest::newRow("at the end") << QByteArray() << 4096 << QString() << 4096 << false;
}

void RecordTest::decodeText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, position);
    QFETCH(QString, text);
    QFETCH(int, endPosition);
    QFETCH(bool, terminated);

    auto buffer = std::make_unique<RecordBuffer>();
    std::copy(bytes.begin(), bytes.end(), buffer->begin() + position);
    quint16 p = quint16(position);
    bool ended = !terminated;
    QCOMPARE(DecodeDeviceText(*buffer, p, &ended), text);
    QCOMPARE(int(p), endPosition);
    QCOMPARE(ended, terminated);
}

void RecordTest::levelTableFollowsTheAmplitudeRule()
{
    for (int i = 0; i <= kMaxAttenuationDb; ++i) {
        QCOMPARE(int(LevelCodeTable[i]), int(std::floor(255.0 * std::pow(10.0, -i / 20.0))));
    }
}

void RecordTest::dbFromLevelCode_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("db");

    QTest::newRow("255") << 255 << 0;
    QTest::newRow("254, between 0 and 1 dB") << 254 << 1;
    QTest::newRow("227") << 227 << 1;
    QTest::newRow("200") << 200 << 3;
    QTest::newRow("80") << 80 << 10;
    QTest::newRow("11") << 11 << 27;
    QTest::newRow("10") << 10 << 28;
    QTest::newRow("9") << 9 << 29;
    QTest::newRow("0") << 0 << 29;
}

void RecordTest::dbFromLevelCode()
{
    QFETCH(int, code);
    QFETCH(int, db);
    QCOMPARE(DbFromLevelCode(code), db);
}

void RecordTest::levelCodeFromDb_data()
{
    QTest::addColumn<int>("db");
    QTest::addColumn<int>("code");

    QTest::newRow("0 dB") << 0 << 255;
    QTest::newRow("3 dB") << 3 << 180;
    QTest::newRow("29 dB") << 29 << 9;
    // A record from a file can carry any byte there: held to the table.
    QTest::newRow("30 dB") << 30 << 9;
    QTest::newRow("200 dB") << 200 << 9;
    QTest::newRow("-1 dB") << -1 << 255;
}

void RecordTest::levelCodeFromDb()
{
    QFETCH(int, db);
    QFETCH(int, code);
    QCOMPARE(LevelCodeFromDb(db), code);
}

void RecordTest::fullLayout_data()
{
    QTest::addColumn<DeviceConfig>("record");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<DeviceConfig>("readBack");

    const DeviceConfig distinct = distinctRecord();
    QTest::newRow("every field its own value") << distinct << distinctFullBytes() << distinct;

    QTest::newRow("shortest, all texts empty")
        << DeviceConfig() << QByteArray(kShortestFullRecord, '\0') << DeviceConfig();

    DeviceConfig quoted;
    quoted.reference = "say \"hi\"";
    quoted.serviceName = "it's Łódź";
    DeviceConfig quotedBack = quoted;
    quotedBack.reference = "say .hi.";
    quotedBack.serviceName = "it's .ódź";
    quotedBack.serviceName[8] = u'.'; // ź is above U+00FF as well
    {
        Bytes b;
        // 21 fixed bytes up to the network name, 10 up to the service name,
        // then 39 fixed bytes and seven empty texts.
        b.text("say .hi.").raw(QByteArray(21, '\0')).text("");
        b.raw(QByteArray(10, '\0'))
            .text("it's .\xF3"
                  "d.");
        b.raw(QByteArray(39 + 7, '\0'));
        QTest::newRow("quotation mark, apostrophe, letters above FF")
            << quoted << QByteArray(b) << quotedBack;
    }

    DeviceConfig wide;
    wide.symbolRate = 70000;
    wide.cableConstellation = -1;
    wide.frequencyKhz = -5;
    DeviceConfig wideBack = wide;
    wideBack.symbolRate = 70000 & 0xFFFF;
    wideBack.cableConstellation = 255;
    {
        Bytes b;
        b.text("").u8(0).u8(0).u8(0).u32(-5).raw(QByteArray(6, '\0')).u8(255).u16(70000);
        b.raw(QByteArray(kShortestFullRecord - b.size(), '\0'));
        QTest::newRow("low bits of wide values") << wide << QByteArray(b) << wideBack;
    }
}

void RecordTest::fullLayout()
{
    QFETCH(DeviceConfig, record);
    QFETCH(QByteArray, bytes);
    QFETCH(DeviceConfig, readBack);

    auto buffer = std::make_unique<RecordBuffer>();
    bool cut = true;
    const quint16 length = WriteFullLayout(record, *buffer, &cut);
    QVERIFY(!cut);
    QCOMPARE(written(*buffer, length).toHex(' '), bytes.toHex(' '));

    DeviceConfig parsed;
    parsed.headerByte = 7; // not a field of this layout
    QCOMPARE(ParseFullLayout(*buffer, parsed), ParseStatus::Complete);
    readBack.headerByte = 7;
    QVERIFY(parsed == readBack);
}

void RecordTest::compactLayout_data()
{
    QTest::addColumn<DeviceConfig>("record");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<DeviceConfig>("readBack"); // parsed into a fresh record

    DeviceConfig distinct = distinctRecord();
    distinct.headerByte = 0xA5;
    QTest::newRow("every field its own value, 474.125 MHz")
        << distinct << distinctCompactBytes(0xA5) << compactPart(distinct);

    {
        Bytes b;
        b.raw(kMagicBytes).u8(0).u16(kShortestCompactRecord).text("");
        b.raw(QByteArray(14, '\0')).u8(255).raw(QByteArray(13, '\0')).text("").text("");
        b.u8(0).u8(1).raw(QByteArray(3 + 6, '\0'));
        DeviceConfig back;
        back.deliverySystem = 1;
        QTest::newRow("shortest, all texts empty") << DeviceConfig() << QByteArray(b) << back;
    }

    DeviceConfig coded;
    coded.networkVersion = 0xEE;
    coded.attenuationDb = 29;
    coded.aspectRatio = 1;
    coded.frequencyKhz = 858999;
    DeviceConfig codedBack = coded;
    codedBack.networkVersion = 0x0E;
    codedBack.frequencyKhz = 858875; // the 125 kHz step below
    codedBack.deliverySystem = 1;
    {
        Bytes b;
        b.raw(kMagicBytes).u8(0).u16(kShortestCompactRecord).text("").u16(0).u16(0).u8(0x0E);
        b.u8(0).u8(0).u16(858).raw(QByteArray(5, '\0')).u8(9).raw(QByteArray(13, '\0'));
        b.text("").text("").u8(0).u8(2).raw(QByteArray(3, '\0')).u16(0).u16(6871).u8(0).u8(0);
        QTest::newRow("network version, 29 dB, 16/9, frequency steps")
            << coded << QByteArray(b) << codedBack;
    }
}

void RecordTest::compactLayout()
{
    QFETCH(DeviceConfig, record);
    QFETCH(QByteArray, bytes);
    QFETCH(DeviceConfig, readBack);

    auto buffer = std::make_unique<RecordBuffer>();
    bool cut = true;
    const quint16 length = WriteCompactLayout(record, *buffer, &cut);
    QVERIFY(!cut);
    QCOMPARE(written(*buffer, length).toHex(' '), bytes.toHex(' '));

    DeviceConfig parsed;
    QCOMPARE(ParseCompactLayout(*buffer, parsed), ParseStatus::Complete);
    QVERIFY(parsed == readBack);
}

void RecordTest::compactParse_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("frequencyKhz");
    QTest::addColumn<int>("networkId");
    QTest::addColumn<int>("defaultCountry");
    QTest::addColumn<int>("lcnFlavour");
    QTest::addColumn<int>("attenuationDb");
    QTest::addColumn<int>("aspectRatio");
    QTest::addColumn<QString>("serviceName");

    const CompactRow base;
    QTest::newRow("whole tail") << compactBytes(base) << 474125 << kNid << 3 << 2 << 0 << 1
                                << "SVC";

    CompactRow noTail;
    noTail.tailFields = 0;
    QTest::newRow("ends after saturation")
        << compactBytes(noTail) << 474000 << kOnid << 0 << 0 << 0 << 1 << "SVC";
    noTail.tailBytesBeyondLength = true;
    QTest::newRow("tail bytes beyond the length are not read")
        << compactBytes(noTail) << 474000 << kOnid << 0 << 0 << 0 << 1 << "SVC";

    CompactRow someTail;
    someTail.tailFields = 1;
    QTest::newRow("network id only")
        << compactBytes(someTail) << 474000 << kNid << 0 << 0 << 0 << 1 << "SVC";
    someTail.tailFields = 3;
    QTest::newRow("all but the LCN flavour")
        << compactBytes(someTail) << 474125 << kNid << 3 << 0 << 0 << 1 << "SVC";

    const struct
    {
        const char *name;
        int code;
        int db;
    } levels[] = {{"level 255", 255, 0},
                  {"level 200", 200, 3},
                  {"level 10", 10, 28},
                  {"level 9", 9, 29},
                  {"level 0", 0, 29}};
    for (const auto &l : levels) {
        CompactRow row;
        row.levelCode = l.code;
        QTest::newRow(l.name) << compactBytes(row) << 474125 << kNid << 3 << 2 << l.db << 1
                              << "SVC";
    }

    for (int stored : {0, 1, 2}) {
        CompactRow row;
        row.pictureFormat = stored;
        QTest::addRow("picture format byte %d", stored)
            << compactBytes(row) << 474125 << kNid << 3 << 2 << 0 << std::max(stored - 1, 0)
            << "SVC";
    }

    CompactRow quoted;
    quoted.serviceName = QByteArray::fromHex("6122622D");
    QTest::newRow("byte 22 in a text")
        << compactBytes(quoted) << 474125 << kNid << 3 << 2 << 0 << 1 << "a'b-";
}

void RecordTest::compactParse()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, frequencyKhz);
    QFETCH(int, networkId);
    QFETCH(int, defaultCountry);
    QFETCH(int, lcnFlavour);
    QFETCH(int, attenuationDb);
    QFETCH(int, aspectRatio);
    QFETCH(QString, serviceName);

    const RecordBuffer buffer = RecordBufferFrom(bytes);
    DeviceConfig record;
    record.networkId = 999;
    record.defaultCountry = 5;
    record.lcnFlavour = 1;
    QCOMPARE(ParseCompactLayout(buffer, record), ParseStatus::Complete);
    QCOMPARE(record.frequencyKhz, frequencyKhz);
    QCOMPARE(record.networkId, networkId);
    QCOMPARE(record.defaultCountry, defaultCountry);
    QCOMPARE(record.lcnFlavour, lcnFlavour);
    QCOMPARE(record.attenuationDb, attenuationDb);
    QCOMPARE(record.aspectRatio, aspectRatio);
    QCOMPARE(record.serviceName, serviceName);
    QCOMPARE(record.originalNetworkId, kOnid);
    QCOMPARE(record.saturation, 130);
    QCOMPARE(record.networkName, QStringLiteral("NET"));
    QCOMPARE(record.deliverySystem, 1);
}

void RecordTest::compactNetworkVersion_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("networkVersion");

    QTest::newRow("31") << 31 << 31;
    QTest::newRow("32") << 32 << 0;
    QTest::newRow("EE") << 0xEE << 14;
}

void RecordTest::compactNetworkVersion()
{
    QFETCH(int, stored);
    QFETCH(int, networkVersion);

    CompactRow row;
    row.networkVersion = stored;
    DeviceConfig record;
    QCOMPARE(ParseCompactLayout(RecordBufferFrom(compactBytes(row)), record),
             ParseStatus::Complete);
    QCOMPARE(record.networkVersion, networkVersion);
}

void RecordTest::compactKeepsWhatItDoesNotCarry()
{
    const RecordBuffer buffer = RecordBufferFrom(compactBytes(CompactRow()));
    DeviceConfig fresh;
    QCOMPARE(ParseCompactLayout(buffer, fresh), ParseStatus::Complete);

    const DeviceConfig before = distinctRecord();
    DeviceConfig record = before;
    QCOMPARE(ParseCompactLayout(buffer, record), ParseStatus::Complete);
    // The carried fields come from the bytes, every other field (symbol rate,
    // cable constellation, logo, event, codings, opaque ones) stays.
    QVERIFY(record == compactPart(fresh, before));
    QCOMPARE(record.deliverySystem, 1);
    QCOMPARE(record.logoName, before.logoName);
}

void RecordTest::wrongMagicLeavesTheRecord_data()
{
    QTest::addColumn<QByteArray>("bytes");

    QByteArray letters = compactBytes(CompactRow());
    letters.replace(0, 4, "ZUDE");
    QTest::newRow("the letters ZUDE") << letters;
    QTest::newRow("cleared buffer") << QByteArray();
    QByteArray reversed = compactBytes(CompactRow());
    reversed.replace(0, 4, QByteArray::fromHex("4A5A4650"));
    QTest::newRow("magic in the wrong byte order") << reversed;
    QTest::newRow("a full record") << distinctFullBytes();
}

void RecordTest::wrongMagicLeavesTheRecord()
{
    QFETCH(QByteArray, bytes);
    DeviceConfig record = distinctRecord();
    QCOMPARE(ParseCompactLayout(RecordBufferFrom(bytes), record), ParseStatus::WrongMagic);
    QVERIFY(record == distinctRecord());
}

void RecordTest::compactRecordReadAsFullShowsTheMagic()
{
    // A compact file loaded while a 0x82 device is connected decodes without
    // any check; its reference is the magic's letters.
    DeviceConfig record;
    QCOMPARE(ParseFullLayout(RecordBufferFrom(compactBytes(CompactRow())), record),
             ParseStatus::Complete);
    QCOMPARE(record.reference, QStringLiteral("PFZJ"));
}

void RecordTest::fullRecordAtTheEndOfTheBuffer_data()
{
    QTest::addColumn<int>("referenceLength");
    QTest::addColumn<ParseStatus>("status");
    QTest::addColumn<int>("saturation");

    const int fits = kRecordBufferSize - kShortestFullRecord;
    QTest::newRow("fills the buffer exactly") << fits << ParseStatus::Complete << 0x5A;
    QTest::newRow("one byte too long") << fits + 1 << ParseStatus::Truncated << 0;
    QTest::newRow("zero byte in the last place")
        << kRecordBufferSize - 1 << ParseStatus::Truncated << 0;
    QTest::newRow("reference without its zero byte")
        << kRecordBufferSize + 100 << ParseStatus::Truncated << 0;
}

void RecordTest::fullRecordAtTheEndOfTheBuffer()
{
    QFETCH(int, referenceLength);
    QFETCH(ParseStatus, status);
    QFETCH(int, saturation);

    Bytes b;
    b.text(QByteArray(referenceLength, 'R')).u8(1).u8(2);
    b.raw(QByteArray(kShortestFullRecord - 1 - 2 - 1, '\0')).u8(0x5A);
    const RecordBuffer buffer = RecordBufferFrom(QByteArray(b));

    DeviceConfig record = distinctRecord();
    QCOMPARE(ParseFullLayout(buffer, record), status);
    QCOMPARE(record.reference, QString(std::min(referenceLength, kRecordBufferSize), u'R'));
    QCOMPARE(record.saturation, saturation);
    // Every field is replaced, whatever was cut.
    QCOMPARE(record.eventText, QString());
    QCOMPARE(record.frequencyKhz, 0);
    if (referenceLength < kRecordBufferSize - 1) {
        QCOMPARE(record.defaultCountry, 1);
        QCOMPARE(record.country, 2);
    }
}

void RecordTest::compactRecordAtTheEndOfTheBuffer_data()
{
    QTest::addColumn<int>("referenceLength");
    QTest::addColumn<ParseStatus>("status");
    QTest::addColumn<int>("referenceKept");
    QTest::addColumn<int>("saturation");
    QTest::addColumn<int>("frequencyKhz");
    QTest::addColumn<int>("networkId");
    QTest::addColumn<int>("defaultCountry");
    QTest::addColumn<int>("lcnFlavour");

    // The parse rows' record carries "SVC" and "NET" besides the reference.
    const int fits = kRecordBufferSize - kShortestCompactRecord - 6;
    QTest::newRow("fills the buffer exactly")
        << fits << ParseStatus::Complete << fits << 130 << 474125 << kNid << 3 << 2;
    QTest::newRow("LCN flavour past the end")
        << fits + 1 << ParseStatus::Truncated << fits + 1 << 130 << 474125 << kNid << 3 << 0;
    // The 125 kHz field starts in the last byte: it and what follows are absent.
    QTest::newRow("frequency step across the end")
        << fits + 3 << ParseStatus::Truncated << fits + 3 << 130 << 474000 << kNid << 0 << 0;
    QTest::newRow("whole tail past the end")
        << fits + 6 << ParseStatus::Truncated << fits + 6 << 130 << 474000 << kOnid << 0 << 0;
    QTest::newRow("reference without its zero byte")
        << kRecordBufferSize << ParseStatus::Truncated << kRecordBufferSize - kCompactHeaderSize
        << 0 << 0 << 0 << 0 << 0;
}

void RecordTest::compactRecordAtTheEndOfTheBuffer()
{
    QFETCH(int, referenceLength);
    QFETCH(ParseStatus, status);
    QFETCH(int, referenceKept);
    QFETCH(int, saturation);
    QFETCH(int, frequencyKhz);
    QFETCH(int, networkId);
    QFETCH(int, defaultCountry);
    QFETCH(int, lcnFlavour);

    CompactRow row;
    row.reference = QByteArray(referenceLength, 'R');
    const RecordBuffer buffer = RecordBufferFrom(compactBytes(row));
    DeviceConfig record;
    QCOMPARE(ParseCompactLayout(buffer, record), status);
    QCOMPARE(record.reference, QString(referenceKept, u'R'));
    QCOMPARE(record.saturation, saturation);
    QCOMPARE(record.frequencyKhz, frequencyKhz);
    QCOMPARE(record.networkId, networkId);
    QCOMPARE(record.defaultCountry, defaultCountry);
    QCOMPARE(record.lcnFlavour, lcnFlavour);
}

void RecordTest::writersCutOverlongTexts_data()
{
    QTest::addColumn<bool>("compact");
    QTest::addColumn<int>("referenceLength");
    QTest::addColumn<int>("logoLength");
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("cut");
    QTest::addColumn<int>("referenceKept");
    QTest::addColumn<int>("logoKept");

    const int fullRoom = kRecordBufferSize - kShortestFullRecord;
    QTest::newRow("full, ordinary")
        << false << 3 << 100 << kShortestFullRecord + 103 << false << 3 << 100;
    QTest::newRow("full, logo fills the buffer")
        << false << 3 << fullRoom - 3 << kRecordBufferSize << false << 3 << fullRoom - 3;
    QTest::newRow("full, logo one too long")
        << false << 3 << fullRoom - 2 << kRecordBufferSize << true << 3 << fullRoom - 3;
    QTest::newRow("full, very long logo")
        << false << 3 << 70000 << kRecordBufferSize << true << 3 << fullRoom - 3;
    QTest::newRow("full, two long texts share the room")
        << false << 3000 << 3000 << kRecordBufferSize << true << fullRoom / 2 << fullRoom / 2;

    const int compactRoom = kRecordBufferSize - kShortestCompactRecord;
    QTest::newRow("compact, reference fills the buffer")
        << true << compactRoom << 0 << kRecordBufferSize << false << compactRoom << 0;
    QTest::newRow("compact, very long reference")
        << true << 9000 << 0 << kRecordBufferSize << true << compactRoom << 0;
}

void RecordTest::writersCutOverlongTexts()
{
    QFETCH(bool, compact);
    QFETCH(int, referenceLength);
    QFETCH(int, logoLength);
    QFETCH(int, length);
    QFETCH(bool, cut);
    QFETCH(int, referenceKept);
    QFETCH(int, logoKept);

    DeviceConfig record;
    record.reference = QString(referenceLength, u'r');
    record.logoName = QString(logoLength, u'l');
    record.saturation = 77;
    record.lcnFlavour = 2;

    auto buffer = std::make_unique<RecordBuffer>();
    bool textsCut = !cut;
    const quint16 size = compact ? WriteCompactLayout(record, *buffer, &textsCut)
                                 : WriteFullLayout(record, *buffer, &textsCut);
    QCOMPARE(int(size), length);
    QCOMPARE(textsCut, cut);

    // What was written is a whole record again.
    DeviceConfig back;
    const ParseStatus status =
        compact ? ParseCompactLayout(*buffer, back) : ParseFullLayout(*buffer, back);
    QCOMPARE(status, ParseStatus::Complete);
    QCOMPARE(back.reference, QString(referenceKept, u'r'));
    QCOMPARE(back.saturation, 77);
    QCOMPARE(back.lcnFlavour, 2);
    if (!compact) {
        QCOMPARE(back.logoName, QString(logoKept, u'l'));
    }
}

void RecordTest::bufferFromBytes_data()
{
    QTest::addColumn<int>("size");

    QTest::newRow("empty") << 0;
    QTest::newRow("short") << 10;
    QTest::newRow("exactly the buffer") << kRecordBufferSize;
    QTest::newRow("longer than the buffer") << kRecordBufferSize + 500;
}

void RecordTest::bufferFromBytes()
{
    QFETCH(int, size);
    const QByteArray bytes(size, '\x5A');
    const RecordBuffer buffer = RecordBufferFrom(bytes);
    const int kept = std::min(size, kRecordBufferSize);
    QCOMPARE(written(buffer, kRecordBufferSize),
             bytes.left(kept) + QByteArray(kRecordBufferSize - kept, '\0'));
}

QTEST_APPLESS_MAIN(RecordTest)
#include "tst_record.moc"
