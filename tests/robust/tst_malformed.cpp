// Untrusted bytes in every reader: reply frames, configuration records, the
// form's loader, I/Q images and files, configuration files and the firmware
// catalogue. Each reader gets hand-picked hostile inputs as table rows, then a
// fixed number of seeded random mutations of a valid input. The checks are
// the promises that matter: lengths and counts stay within their bounds,
// refused input leaves the previous state alone, valid input round-trips.
// The sanitizer build turns any overrun or undefined behaviour into a failure.
#include "FakeSerialPort.h"
#include "FormRecorders.h"
#include "app/AppState.h"
#include "calib/CalibFiles.h"
#include "calib/IqCalibration.h"
#include "firmware/FirmwareCatalogue.h"
#include "firmware/Md5.h"
#include "link/CXmit.h"
#include "settings/CSetting.h"
#include "settings/DeviceConfig.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <limits>
#include <random>

namespace {

// Same seed, same cases, on every run.
constexpr quint32 kSeed = 0x5EED2026;

class Rng
{
public:
    explicit Rng(quint32 seed) : m_engine(seed) {}
    int Below(int n) { return n <= 0 ? 0 : int(m_engine() % quint32(n)); }
    quint8 Byte() { return quint8(m_engine() & 0xFF); }
    QByteArray Bytes(int n)
    {
        QByteArray out(n, '\0');
        for (char &c : out)
            c = char(Byte());
        return out;
    }

private:
    std::mt19937 m_engine;
};

// Values that sit on a bound somewhere: frame markers and flags, counts
// around 100, the extremes.
constexpr quint8 kEdgeBytes[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x08, 0x0C, 0x0F,
                                 0x10, 0x20, 0x2E, 0x2F, 0x5C, 0x7F, 0x80, 0xE0,
                                 0xF0, 0xF8, 0xFF, 99,   100,  101,  0x4A, 0x50};

// One to four edits: flipped bits, edge values, inserted or removed runs, a
// cut end, a long run of one value. The result is at most maxSize bytes.
QByteArray Mutate(QByteArray bytes, Rng &rng, int maxSize)
{
    const int steps = 1 + rng.Below(4);
    for (int s = 0; s < steps; ++s) {
        const int size = int(bytes.size());
        const int at = rng.Below(size + 1);
        const char edge = char(kEdgeBytes[rng.Below(int(std::size(kEdgeBytes)))]);
        switch (rng.Below(8)) {
        case 0:
            if (size > 0)
                bytes[at % size] = char(bytes[at % size] ^ char(1 << rng.Below(8)));
            break;
        case 1:
        case 2:
            if (size > 0)
                bytes[at % size] = edge;
            break;
        case 3:
            bytes.insert(at, rng.Bytes(1 + rng.Below(8)));
            break;
        case 4:
            bytes.remove(at, 1 + rng.Below(16));
            break;
        case 5:
            if (rng.Below(4) == 0)
                bytes.truncate(at);
            break;
        case 6:
            bytes.insert(at, QByteArray(1 + rng.Below(300), edge));
            break;
        default:
            if (size > 0)
                bytes[at % size] = char(rng.Byte());
            break;
        }
    }
    if (bytes.size() > maxSize)
        bytes.truncate(maxSize);
    return bytes;
}

QByteArray Hex(const char *text)
{
    return QByteArray::fromHex(text);
}

QByteArray RefusedReply()
{
    return Hex("02E0E0");
}

QByteArray Payload(const CXmit &x)
{
    return QByteArray(reinterpret_cast<const char *>(x.m_reply), x.m_replyLength);
}

// ---- configuration records -----------------------------------------------

QByteArray BufferBytes(const RecordBuffer &buffer, int length = kRecordBufferSize)
{
    return QByteArray(reinterpret_cast<const char *>(buffer.data()), length);
}

// A record with every field set and texts of their usual lengths.
DeviceConfig SampleRecord()
{
    DeviceConfig r;
    r.reference = QStringLiteral("UNIT-0042 rack 3");
    r.defaultCountry = 4;
    r.country = 4;
    r.deliverySystem = 1;
    r.frequencyKhz = 474000;
    r.bandwidth = 2;
    r.transmissionMode = 1;
    r.constellation = 2;
    r.codeRate = 1;
    r.guardInterval = 3;
    r.attenuationDb = 7;
    r.cableConstellation = 4;
    r.symbolRate = 6900;
    r.networkVersion = 5;
    r.networkId = 12;
    r.originalNetworkId = 8442;
    r.networkName = QStringLiteral("NETWORK");
    r.transportStreamId = 3;
    r.opaque19 = 9;
    r.serviceId = 300;
    r.lcnFlavour = 2;
    r.logicalChannelNumber = 21;
    r.serviceName = QStringLiteral("SERVICE ONE");
    r.pmtPid = 256;
    r.videoPid = 257;
    r.audioPid = 258;
    r.videoBitrateKbps = 6000;
    r.audioBitrate = 1;
    r.logoName = QStringLiteral("logo.dg1");
    r.eventName = QStringLiteral("News");
    r.eventText = QStringLiteral("Evening news");
    r.videoCoding = 1;
    r.aspectRatio = 1;
    r.brightness = 128;
    r.contrast = 120;
    r.saturation = 110;
    return r;
}

QList<QString> Texts(const DeviceConfig &r)
{
    return {r.reference, r.networkName, r.serviceName, r.opaque37,  r.logoName,
            r.opaque50,  r.opaque51,    r.opaque52,    r.eventName, r.eventText};
}

// Empty when the parsed record keeps its bounds and, when it was read
// whole, comes back unchanged through the writer; else what went wrong.
QString CheckParsed(ParseStatus status, const DeviceConfig &parsed, bool compact,
                    const DeviceConfig &base)
{
    for (const QString &text : Texts(parsed)) {
        if (text.size() > kRecordBufferSize)
            return QStringLiteral("text of %1 characters").arg(text.size());
    }
    if (status != ParseStatus::Complete)
        return {};
    RecordBuffer written{};
    bool cut = true;
    const quint16 length = compact ? WriteCompactLayout(parsed, written, &cut)
                                   : WriteFullLayout(parsed, written, &cut);
    if (length > kRecordBufferSize)
        return QStringLiteral("written length %1").arg(length);
    // A whole full record writes back at its own length. A compact one may
    // have come without its tail, which is always written: its texts may
    // then have to be cut to make room.
    if (cut && !compact)
        return QStringLiteral("texts of a whole record were cut when written back");
    DeviceConfig again = base;
    const ParseStatus second =
        compact ? ParseCompactLayout(written, again) : ParseFullLayout(written, again);
    if (second != ParseStatus::Complete)
        return QStringLiteral("written record does not read back whole");
    if (cut)
        return {};
    // The tail holds the frequency in 125 kHz steps in 16 bits; a record
    // without a tail can carry more in its MHz field than the tail can hold.
    if (compact && parsed.frequencyKhz / 125 > 0xFFFF)
        again.frequencyKhz = parsed.frequencyKhz;
    if (!(again == parsed))
        return QStringLiteral("written record reads back different");
    return {};
}

// The form takes the codings and the event texts back from its own
// controls as soon as it has shown them (a coding the list does not hold
// comes back as no selection); everything else is the decoder's.
DeviceConfig WithFormHeldFields(DeviceConfig expected, const DeviceConfig &held)
{
    expected.audioCoding = held.audioCoding;
    expected.videoCoding = held.videoCoding;
    expected.eventName = held.eventName;
    expected.eventText = held.eventText;
    return expected;
}

// ---- files ------------------------------------------------------------------

bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

IqCalibrationTable SentinelTable()
{
    IqCalibrationTable t;
    t.rowCount = 3;
    for (int i = 0; i < kIqMaxRows; ++i)
        t.rows[size_t(i)] = {470 + i, -i, i * 2};
    return t;
}

bool SameTable(const IqCalibrationTable &a, const IqCalibrationTable &b)
{
    return a.rowCount == b.rowCount && a.rows == b.rows;
}

QByteArray IqRows(int count, quint8 fill = 0x11)
{
    return QByteArray(kIqRowBytes * count, char(fill));
}

QByteArray Magic()
{
    return Hex("50465A4A");
}

// ---- firmware catalogue -----------------------------------------------------

QString Flags(const ComponentList &list, quint8 ComponentEntry::*flag)
{
    QStringList out;
    for (int i = 0; i < list.count; ++i)
        out << QString::number(list.entries[i].*flag);
    return out.join(u' ');
}

bool LeavesFolder(const QString &name)
{
    return name.contains(u'/') || name.contains(u'\\') || name == QLatin1String("..") ||
           name == QLatin1String(".");
}

// Longest line of firmware.cfg the catalogue keeps.
constexpr int kMaxCatalogueLine = 4096;

// Replies for a catalogue walk: each component opens, reads its header and
// closes, so every third reply carries the header.
void ScriptHeaders(FakeLine &line, const QList<QByteArray> &headers)
{
    for (const QByteArray &header : headers) {
        line.replies << FakeLine::okReply({}) << FakeLine::okReply(header) << FakeLine::okReply({});
    }
}

} // namespace

class MalformedInputTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void replyFrames_data();
    void replyFrames();
    void repliesIntoSmallBuffers_data();
    void repliesIntoSmallBuffers();
    void replyMutations();
    void discoveryReplies_data();
    void discoveryReplies();

    void deviceText_data();
    void deviceText();
    void fullRecords_data();
    void fullRecords();
    void compactRecords_data();
    void compactRecords();
    void recordMutations();

    void formLoad_data();
    void formLoad();
    void formLoadMutations();

    void iqFiles_data();
    void iqFiles();
    void iqFileMutations();
    void iqDeviceImages_data();
    void iqDeviceImages();
    void iqDeviceImageMutations();

    void configFiles_data();
    void configFiles();
    void unreadablePaths_data();
    void unreadablePaths();

    void leadingNumbers_data();
    void leadingNumbers();
    void componentLines_data();
    void componentLines();
    void catalogues_data();
    void catalogues();
    void catalogueMutations();
    void packageNames_data();
    void packageNames();

private:
    QString m_folder; // per test function, removed with it
    std::unique_ptr<QTemporaryDir> m_dir;
};

void MalformedInputTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_folder = m_dir->path() + u'/';
    g_manufacturerMode = 0;
    g_hardwareVersion = 0;
    g_relaxDigestChecks = 0;
    g_xmit.m_deviceType = 0;
}

void MalformedInputTest::cleanup()
{
    g_manufacturerMode = 0;
    g_hardwareVersion = 0;
    g_relaxDigestChecks = 0;
    g_firmwareFolder.clear();
    g_xmit.m_deviceType = 0;
    m_dir.reset();
}

// ---- reply frames -------------------------------------------------------------

void MalformedInputTest::replyFrames_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QByteArray>("payload");

    const QByteArray none;
    QTest::newRow("silence") << none << false << none;
    QTest::newRow("one start byte") << Hex("02") << false << none;
    QTest::newRow("doubled start byte only") << Hex("0202") << false << none;
    QTest::newRow("all FF") << QByteArray(64, char(0xFF)) << false << none;
    QTest::newRow("start then all FF") << Hex("02") + QByteArray(64, char(0xFF)) << false << none;
    QTest::newRow("empty good reply") << FakeLine::okReply({}) << true << none;
    QTest::newRow("refused reply") << RefusedReply() << false << none;
    QTest::newRow("bad check") << Hex("02F14100") << false << none;
    QTest::newRow("header only") << Hex("02F1") << false << none;
    QTest::newRow("255 bytes, short length form")
        << FakeLine::okReply(QByteArray(255, 'a')) << true << QByteArray(255, 'a');
    QTest::newRow("4095 bytes") << FakeLine::okReply(QByteArray(4095, 'b')) << true
                                << QByteArray(4095, 'b');
    QTest::newRow("4096 bytes") << FakeLine::okReply(QByteArray(4096, 'c')) << true
                                << QByteArray(4096, 'c');
    QTest::newRow("4097 bytes") << FakeLine::okReply(QByteArray(4097, 'd')) << false << none;
    QTest::newRow("4096 of start bytes")
        << FakeLine::okReply(QByteArray(4096, '\x02')) << true << QByteArray(4096, '\x02');
    QTest::newRow("length 65535 announced")
        << Hex("02F8FFFF") + QByteArray(16, 'e') << false << none;
    QTest::newRow("high byte of 4096, then silence") << Hex("02F810") << false << none;
    QTest::newRow("high byte of 4352, then silence") << Hex("02F811") << false << none;
    QTest::newRow("high byte of 65280, then silence") << Hex("02F8FF") << false << none;
    QTest::newRow("4096 announced, 10 sent")
        << Hex("02F81000") + QByteArray(10, 'f') << false << none;
    QTest::newRow("4097 announced, then a good frame")
        << Hex("02F81001") + FakeLine::okReply("ok") << true << QByteArray("ok");
    QTest::newRow("new frame inside a payload")
        << Hex("02F4054142") + FakeLine::okReply("OK") << true << QByteArray("OK");
    QTest::newRow("noise before the frame")
        << Hex("FF0041E0F8") + FakeLine::okReply(Hex("8205")) << true << Hex("8205");
}

void MalformedInputTest::replyFrames()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, accepted);
    QFETCH(QByteArray, payload);

    FakeLink rig;
    rig.line->replies = {line};
    // A frame that ends early waits out its time-out: short for those,
    // generous for the ones that must come through on a loaded machine.
    const bool ok = rig.xmit.Transact(kCmdIdentify, nullptr, 0, accepted ? 5000 : 30);
    QCOMPARE(ok, accepted);
    QVERIFY2(rig.xmit.m_replyLength >= 0 && rig.xmit.m_replyLength <= kReplyCapacity,
             qPrintable(QString::number(rig.xmit.m_replyLength)));
    if (accepted) {
        QCOMPARE(rig.xmit.m_replyCode, kReplyOk);
        QCOMPARE(Payload(rig.xmit), payload);
    }
}

void MalformedInputTest::repliesIntoSmallBuffers_data()
{
    QTest::addColumn<bool>("identity"); // PollIdentity, else ReadFileData
    QTest::addColumn<int>("requested");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("bufferSize");
    QTest::addColumn<int>("kept"); // bytes copied; -1: a file read not even sent

    QTest::newRow("4096 into 1") << false << 16 << QByteArray(4096, 'x') << 1 << 1;
    QTest::newRow("4096 into 512") << false << 512 << QByteArray(4096, 'x') << 512 << 512;
    QTest::newRow("4096 into none") << false << 4096 << QByteArray(4096, 'x') << 0 << 0;
    QTest::newRow("nothing into 512") << false << 512 << QByteArray() << 512 << 0;
    QTest::newRow("4097 asked") << false << 4097 << QByteArray(4096, 'x') << 4096 << -1;
    QTest::newRow("65535 asked") << false << 65535 << QByteArray(4096, 'x') << 4096 << -1;
    QTest::newRow("identity of 0 bytes") << true << 0 << QByteArray() << 4 << 0;
    QTest::newRow("identity of 1 byte") << true << 0 << Hex("78") << 4 << 1;
    QTest::newRow("identity of 4096 bytes into 4")
        << true << 0 << Hex("8207") + QByteArray(4094, char(0xFF)) << 4 << 4;
    QTest::newRow("identity of a foreign type") << true << 0 << Hex("5107") << 4 << 0;
}

void MalformedInputTest::repliesIntoSmallBuffers()
{
    QFETCH(bool, identity);
    QFETCH(int, requested);
    QFETCH(QByteArray, reply);
    QFETCH(int, bufferSize);
    QFETCH(int, kept);

    FakeLink rig;
    rig.line->replies = {FakeLine::okReply(reply)};
    // Exactly the size given, so the sanitizer sees one byte too many.
    std::vector<quint8> buffer(size_t(bufferSize), 0xA5);
    quint8 *data = bufferSize > 0 ? buffer.data() : nullptr;
    if (identity) {
        rig.xmit.PollIdentity(data, bufferSize);
    } else {
        const bool ok = rig.xmit.ReadFileData(quint16(requested), data, bufferSize);
        QCOMPARE(ok, kept >= 0);
        if (kept < 0) {
            QVERIFY(rig.line->written.isEmpty());
            kept = 0;
        }
    }
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(buffer.data()), kept), reply.left(kept));
    QVERIFY(std::all_of(buffer.begin() + kept, buffer.end(), [](quint8 b) { return b == 0xA5; }));
}

void MalformedInputTest::replyMutations()
{
    Rng rng(kSeed);
    static const int kSizes[] = {0, 1, 2, 3, 4, 100, 254, 255, 256, 257, 600, 4095, 4096};
    int accepted = 0;
    for (int n = 0; n < 2000; ++n) {
        const int size = kSizes[rng.Below(int(std::size(kSizes)))];
        const QByteArray payload = rng.Bytes(size);
        const QByteArray frame = FakeLine::okReply(payload);
        // Every tenth case is the valid frame itself: it must come through.
        const bool intact = n % 10 == 0;
        QByteArray line = intact ? frame : Mutate(frame, rng, 5000);
        // Most broken frames are followed by a good one, as from a device
        // that answers again: the reader then usually finds its way back
        // instead of waiting out its time-out, which keeps the run short.
        if (!intact && n % 4 != 1)
            line += FakeLine::okReply("end");

        FakeLink rig;
        rig.line->replies = {line};
        const bool ok = rig.xmit.Transact(kCmdReadConfig, nullptr, 0, intact ? 5000 : 1);
        const QString where =
            QStringLiteral("case %1: %2").arg(n).arg(QString::fromLatin1(line.left(48).toHex(' ')));
        QVERIFY2(rig.xmit.m_replyLength >= 0 && rig.xmit.m_replyLength <= kReplyCapacity,
                 qPrintable(where));
        if (ok) {
            ++accepted;
            QVERIFY2(rig.xmit.m_replyCode == kReplyOk, qPrintable(where));
        }
        if (intact) {
            QVERIFY2(ok, qPrintable(where));
            QVERIFY2(Payload(rig.xmit) == payload, qPrintable(where));
        }
    }
    QVERIFY(accepted >= 200);
}

// ---- configuration records ----------------------------------------------------

void MalformedInputTest::discoveryReplies_data()
{
    QTest::addColumn<QByteArray>("first"); // the first port's reply
    QTest::addColumn<int>("found");        // software version found

    const QByteArray device = FakeLine::okReply(Hex("820903"));
    QTest::newRow("first silent after a length high byte") << Hex("02F8FF") << 9;
    QTest::newRow("first sends a bad check") << Hex("02F14100") << 9;
    QTest::newRow("first refuses") << RefusedReply() << 9;
    QTest::newRow("first: identity of one byte") << FakeLine::okReply(Hex("82")) << 9;
    QTest::newRow("first: 4096 bytes of noise") << FakeLine::okReply(QByteArray(4096, 'n')) << 9;
    QTest::newRow("first: identity of 4096 bytes")
        << FakeLine::okReply(Hex("780504") + QByteArray(4093, char(0xFF))) << 5;
}

void MalformedInputTest::discoveryReplies()
{
    QFETCH(QByteArray, first);
    QFETCH(int, found);

    FakeBus bus;
    bus.add(QStringLiteral("A"))->replies = {first};
    bus.add(QStringLiteral("B"))->replies = {FakeLine::okReply(Hex("820903"))};
    CXmit xmit;
    xmit.SetPortPaths({QStringLiteral("A"), QStringLiteral("B")});
    xmit.SetPortFactory([&bus] { return std::make_unique<FakeBusPort>(&bus); });
    QCOMPARE(int(xmit.FindDevice()), found);
    QVERIFY(xmit.m_replyLength >= 0 && xmit.m_replyLength <= kReplyCapacity);
    QCOMPARE(xmit.CurrentPortPath(), QString::fromLatin1(found == 9 ? "B" : "A"));
}

void MalformedInputTest::deviceText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("after");
    QTest::addColumn<bool>("terminated");

    QTest::newRow("zero first") << QByteArray() << 0 << 0 << 1 << true;
    QTest::newRow("whole buffer without a zero")
        << QByteArray(4096, 'A') << 0 << 4096 << 4096 << false;
    QTest::newRow("zero in the last byte") << QByteArray(4095, 'A') << 0 << 4095 << 4096 << true;
    QTest::newRow("last byte, zero") << QByteArray() << 4095 << 0 << 4096 << true;
    QTest::newRow("last byte, not zero") << QByteArray(4096, 'A') << 4095 << 1 << 4096 << false;
    QTest::newRow("at the end") << QByteArray(4096, 'A') << 4096 << 0 << 4096 << false;
    QTest::newRow("one past the end") << QByteArray(4096, 'A') << 4097 << 0 << 4096 << false;
    QTest::newRow("far beyond") << QByteArray(4096, 'A') << 65535 << 0 << 4096 << false;
    QTest::newRow("every byte value") << [] {
        QByteArray b;
        for (int i = 1; i < 256; ++i)
            b.append(char(i));
        return b;
    }() << 0 << 255 << 256 << true;
}

void MalformedInputTest::deviceText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, position);
    QFETCH(int, length);
    QFETCH(int, after);
    QFETCH(bool, terminated);

    const RecordBuffer buffer = RecordBufferFrom(bytes);
    quint16 at = quint16(position);
    bool ended = !terminated;
    const QString text = DecodeDeviceText(buffer, at, &ended);
    QCOMPARE(text.size(), length);
    QCOMPARE(int(at), after);
    QCOMPARE(ended, terminated);
    for (const QChar c : text)
        QVERIFY(DeviceCharset().contains(c));
}

void MalformedInputTest::fullRecords_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("status");

    const int complete = int(ParseStatus::Complete);
    const int truncated = int(ParseStatus::Truncated);
    RecordBuffer valid{};
    const quint16 validLength = WriteFullLayout(SampleRecord(), valid);

    QTest::newRow("empty") << QByteArray() << complete;
    QTest::newRow("one byte") << QByteArray("A") << complete;
    QTest::newRow("all FF") << QByteArray(4096, char(0xFF)) << truncated;
    QTest::newRow("all NUL") << QByteArray(4096, '\0') << complete;
    QTest::newRow("first text fills the buffer") << QByteArray(4096, 'A') << truncated;
    QTest::newRow("first text ends in the last byte") << QByteArray(4095, 'A') << truncated;
    // 80 bytes of an empty record after a text of 4016 characters: exactly full.
    QTest::newRow("record ends in the last byte") << QByteArray(4016, 'A') << complete;
    QTest::newRow("record one byte too long") << QByteArray(4017, 'A') << truncated;
    QTest::newRow("valid record") << BufferBytes(valid, validLength) << complete;
    QTest::newRow("valid record, more than 4096 bytes")
        << BufferBytes(valid, validLength) + QByteArray(8000, 'z') << complete;
}

void MalformedInputTest::fullRecords()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, status);

    const DeviceConfig base = SampleRecord();
    DeviceConfig record = base;
    const ParseStatus got = ParseFullLayout(RecordBufferFrom(bytes), record);
    QCOMPARE(int(got), status);
    const QString problem = CheckParsed(got, record, false, base);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    if (QByteArray(QTest::currentDataTag()).startsWith("valid record"))
        QCOMPARE(record, base);
}

void MalformedInputTest::compactRecords_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("status");

    const int complete = int(ParseStatus::Complete);
    const int truncated = int(ParseStatus::Truncated);
    const int wrong = int(ParseStatus::WrongMagic);
    // Header with a total length, then a reference of n characters; the
    // fixed fields after it read as zeros. The tail starts at n + 43.
    auto withReference = [](int length, int n) {
        QByteArray b = Magic();
        b.append('\x01');
        b.append(char(length & 0xFF));
        b.append(char((length >> 8) & 0xFF));
        b.append(QByteArray(n, 'R'));
        return b;
    };
    RecordBuffer valid{};
    DeviceConfig sample = SampleRecord();
    sample.headerByte = 3;
    const quint16 validLength = WriteCompactLayout(sample, valid);

    QTest::newRow("empty") << QByteArray() << wrong;
    QTest::newRow("one byte") << QByteArray("P") << wrong;
    QTest::newRow("three magic bytes") << Hex("50465A") << wrong;
    QTest::newRow("magic backwards") << Hex("4A5A4650") << wrong;
    QTest::newRow("all FF") << QByteArray(4096, char(0xFF)) << wrong;
    QTest::newRow("magic only") << Magic() << complete;
    QTest::newRow("magic then all FF") << Magic() + QByteArray(4092, char(0xFF)) << truncated;
    QTest::newRow("length 65535, empty fields") << withReference(65535, 0) << complete;
    QTest::newRow("length 0, tail absent") << withReference(0, 0) << complete;
    QTest::newRow("tail in the last two bytes, length 4097")
        << withReference(4097, 4051) << truncated;
    QTest::newRow("tail at the end, length 4096") << withReference(4096, 4053) << complete;
    QTest::newRow("tail at the end, length 4097") << withReference(4097, 4053) << truncated;
    QTest::newRow("reference without a zero") << withReference(100, 4089) << truncated;
    QTest::newRow("valid record") << BufferBytes(valid, validLength) << complete;
}

void MalformedInputTest::compactRecords()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, status);

    DeviceConfig base = SampleRecord();
    base.headerByte = 3;
    DeviceConfig record = base;
    const ParseStatus got = ParseCompactLayout(RecordBufferFrom(bytes), record);
    QCOMPARE(int(got), status);
    if (got == ParseStatus::WrongMagic) {
        QCOMPARE(record, base); // refused: left as it was
        return;
    }
    const QString problem = CheckParsed(got, record, true, base);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    if (QByteArray(QTest::currentDataTag()) == "valid record")
        QCOMPARE(record, base);
}

void MalformedInputTest::recordMutations()
{
    Rng rng(kSeed + 1);
    const DeviceConfig base = SampleRecord();
    RecordBuffer full{};
    RecordBuffer compact{};
    const QByteArray fullBytes = BufferBytes(full, WriteFullLayout(base, full));
    const QByteArray compactBytes = BufferBytes(compact, WriteCompactLayout(base, compact));
    int complete = 0;
    for (int n = 0; n < 3000; ++n) {
        const bool isCompact = n % 2 == 1;
        const QByteArray bytes = Mutate(isCompact ? compactBytes : fullBytes, rng, 5000);
        const RecordBuffer buffer = RecordBufferFrom(bytes);
        const QString where = QStringLiteral("case %1").arg(n);

        DeviceConfig record = base;
        const ParseStatus status =
            isCompact ? ParseCompactLayout(buffer, record) : ParseFullLayout(buffer, record);
        if (status == ParseStatus::WrongMagic) {
            QVERIFY2(isCompact && record == base, qPrintable(where));
            continue;
        }
        complete += status == ParseStatus::Complete ? 1 : 0;
        const QString problem = CheckParsed(status, record, isCompact, base);
        QVERIFY2(problem.isEmpty(), qPrintable(where + u' ' + problem));

        // A text read from anywhere in the buffer, even past its end.
        quint16 position = quint16(rng.Below(4200));
        const int start = std::min<int>(position, kRecordBufferSize);
        const QString text = DecodeDeviceText(buffer, position);
        QVERIFY2(position <= kRecordBufferSize && text.size() <= kRecordBufferSize - start,
                 qPrintable(where));
    }
    QVERIFY(complete >= 500);
}

// ---- the form's loader --------------------------------------------------------

void MalformedInputTest::formLoad_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("bytes");

    RecordBuffer full{};
    RecordBuffer compact{};
    const QByteArray fullBytes = BufferBytes(full, WriteFullLayout(SampleRecord(), full));
    const QByteArray compactBytes =
        BufferBytes(compact, WriteCompactLayout(SampleRecord(), compact));

    for (const int type : {int(kDeviceType82), int(kDeviceType78)}) {
        const QByteArray valid = type == kDeviceType82 ? fullBytes : compactBytes;
        const QString prefix = QStringLiteral("%1: ").arg(type, 0, 16);
        auto row = [&](const char *name) -> QTestData & {
            return QTest::newRow(qPrintable(prefix + QLatin1String(name))) << type;
        };
        row("empty") << QByteArray();
        row("all FF") << QByteArray(4096, char(0xFF));
        row("magic then all FF") << Magic() + QByteArray(4092, char(0xFF));
        row("one unterminated text") << QByteArray(4096, 'N');
        row("valid record") << valid;
        row("valid record cut in half") << valid.left(valid.size() / 2);
    }
}

void MalformedInputTest::formLoad()
{
    QFETCH(int, type);
    QFETCH(QByteArray, bytes);

    g_xmit.m_deviceType = quint8(type);
    formtest::Recorders recorders;
    CSetting form;
    const RecordBuffer buffer = RecordBufferFrom(bytes);
    const bool refused = type == kDeviceType78 && !bytes.startsWith(Magic());

    RecordBuffer sample{};
    if (type == kDeviceType82)
        WriteFullLayout(SampleRecord(), sample);
    else
        WriteCompactLayout(SampleRecord(), sample);
    form.LoadFromBytes(sample);
    const DeviceConfig before = form.m_record;
    const QString frequencyShown = form.findChild<QLineEdit *>("frequencyEdit")->text();
    recorders.beeps.clear();

    form.LoadFromBytes(buffer);
    if (refused) {
        QCOMPARE(recorders.beeps.size(), 1);
        QCOMPARE(form.m_record, before);
        QCOMPARE(form.findChild<QLineEdit *>("frequencyEdit")->text(), frequencyShown);
        return;
    }
    // The form holds what the decoder makes of the bytes.
    DeviceConfig expected = before;
    if (type == kDeviceType82)
        ParseFullLayout(buffer, expected);
    else
        ParseCompactLayout(buffer, expected);
    QCOMPARE(form.m_record, WithFormHeldFields(expected, form.m_record));
    QCOMPARE(form.m_record.eventName, expected.eventName);
    QCOMPARE(form.m_record.eventText, expected.eventText);
    for (QComboBox *list : form.findChildren<QComboBox *>())
        QVERIFY(list->currentIndex() >= -1 && list->currentIndex() < list->count());
    QCOMPARE(form.m_changeCountdown, quint8(0));

    // Whatever was loaded, the record built from the form comes out whole.
    RecordBuffer rebuilt{};
    const quint16 length = form.BuildRecord(rebuilt);
    QVERIFY(length > 0 && length <= kRecordBufferSize);
    DeviceConfig reread;
    const ParseStatus status = type == kDeviceType82 ? ParseFullLayout(rebuilt, reread)
                                                     : ParseCompactLayout(rebuilt, reread);
    QCOMPARE(int(status), int(ParseStatus::Complete));
}

void MalformedInputTest::formLoadMutations()
{
    Rng rng(kSeed + 2);
    formtest::Recorders recorders;
    for (const quint8 type : {kDeviceType82, kDeviceType78}) {
        g_xmit.m_deviceType = type;
        CSetting form;
        RecordBuffer validBuffer{};
        const quint16 validLength = type == kDeviceType82
                                        ? WriteFullLayout(SampleRecord(), validBuffer)
                                        : WriteCompactLayout(SampleRecord(), validBuffer);
        const QByteArray valid = BufferBytes(validBuffer, validLength);
        for (int n = 0; n < 250; ++n) {
            const RecordBuffer buffer = RecordBufferFrom(Mutate(valid, rng, 5000));
            const DeviceConfig before = form.m_record;
            form.LoadFromBytes(buffer);
            DeviceConfig expected = before;
            const ParseStatus status = type == kDeviceType82 ? ParseFullLayout(buffer, expected)
                                                             : ParseCompactLayout(buffer, expected);
            const QString where = QStringLiteral("type %1 case %2").arg(type, 0, 16).arg(n);
            QVERIFY2(form.m_record == (status == ParseStatus::WrongMagic
                                           ? before
                                           : WithFormHeldFields(expected, form.m_record)),
                     qPrintable(where));
            QVERIFY2(form.m_record.eventName == expected.eventName &&
                         form.m_record.eventText == expected.eventText,
                     qPrintable(where));
            RecordBuffer rebuilt{};
            QVERIFY2(form.BuildRecord(rebuilt) <= kRecordBufferSize, qPrintable(where));
        }
    }
}

// ---- I/Q calibration ------------------------------------------------------------

void MalformedInputTest::iqFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("rows"); // -1: refused

    QTest::newRow("empty") << QByteArray() << -1;
    QTest::newRow("count 0") << Hex("00") << 0;
    QTest::newRow("count 1, row one byte short") << Hex("01") + IqRows(1).left(5) << -1;
    QTest::newRow("count 1") << Hex("01") + IqRows(1) << 1;
    QTest::newRow("count 100") << Hex("64") + IqRows(100) << 100;
    QTest::newRow("count 100, one byte short") << Hex("64") + IqRows(100).left(599) << -1;
    QTest::newRow("count 101") << Hex("65") + IqRows(101) << -1;
    QTest::newRow("count 255") << Hex("FF") + IqRows(255) << -1;
    QTest::newRow("all FF") << QByteArray(4096, char(0xFF)) << -1;
    QTest::newRow("count 2, junk after")
        << Hex("02") + IqRows(2, 0xFF) + QByteArray(4096, 'j') << 2;
    QTest::newRow("count 100, 4096 bytes of junk after")
        << Hex("64") + IqRows(100, 0x80) + QByteArray(4096, char(0xFF)) << 100;
}

void MalformedInputTest::iqFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, rows);

    const IqCalibrationTable before = SentinelTable();
    IqCalibrationTable decoded = before;
    QCOMPARE(DecodeIqFile(bytes, decoded), rows >= 0);

    const QString path = m_folder + QStringLiteral("t.iqc");
    QVERIFY(WriteFile(path, bytes));
    IqCalibrationTable read = before;
    QCOMPARE(int(ReadIqFile(path, read)), int(rows >= 0 ? IqFileRead::Ok : IqFileRead::Refused));

    for (const IqCalibrationTable *table : {&decoded, &read}) {
        if (rows < 0) {
            QVERIFY(SameTable(*table, before));
        } else {
            QCOMPARE(table->rowCount, rows);
            // What was read writes back as the bytes it came from.
            QCOMPARE(EncodeIqFile(*table), bytes.left(1 + kIqRowBytes * rows));
        }
    }
}

void MalformedInputTest::iqFileMutations()
{
    Rng rng(kSeed + 3);
    IqCalibrationTable sample = SentinelTable();
    sample.rowCount = 100;
    const QByteArray valid = EncodeIqFile(sample);
    int accepted = 0;
    for (int n = 0; n < 3000; ++n) {
        const QByteArray bytes = Mutate(valid, rng, 5000);
        const IqCalibrationTable before = SentinelTable();
        IqCalibrationTable table = before;
        const bool ok = DecodeIqFile(bytes, table);
        const QString where = QStringLiteral("case %1").arg(n);
        if (!ok) {
            QVERIFY2(SameTable(table, before), qPrintable(where));
            continue;
        }
        ++accepted;
        QVERIFY2(table.rowCount >= 0 && table.rowCount <= kIqMaxRows, qPrintable(where));
        QVERIFY2(EncodeIqFile(table) == bytes.left(1 + kIqRowBytes * table.rowCount),
                 qPrintable(where));
    }
    QVERIFY(accepted >= 300);
}

void MalformedInputTest::iqDeviceImages_data()
{
    QTest::addColumn<QByteArray>("openReply");
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("rowBytes");
    QTest::addColumn<int>("rows");

    const QByteArray ok = FakeLine::okReply({});
    QTest::newRow("open refused") << RefusedReply() << Magic() + Hex("01") << IqRows(1) << 0;
    QTest::newRow("empty head") << ok << QByteArray() << IqRows(1) << 0;
    QTest::newRow("head of 4 bytes") << ok << Magic() << IqRows(1) << 0;
    QTest::newRow("wrong magic") << ok << Hex("50465A4B01") << IqRows(1) << 0;
    QTest::newRow("all FF head") << ok << QByteArray(5, char(0xFF)) << IqRows(1) << 0;
    QTest::newRow("count 0") << ok << Magic() + Hex("00") << QByteArray() << 0;
    QTest::newRow("count 5, 29 bytes") << ok << Magic() + Hex("05") << IqRows(5).left(29) << 4;
    QTest::newRow("count 5, nothing") << ok << Magic() + Hex("05") << QByteArray() << 0;
    QTest::newRow("count 100") << ok << Magic() + Hex("64") << IqRows(100) << 100;
    QTest::newRow("count 101") << ok << Magic() + Hex("65") << IqRows(101) << 100;
    QTest::newRow("count 255") << ok << Magic() + Hex("FF") << IqRows(255) << 100;
    QTest::newRow("count 255, 4096 bytes")
        << ok << Magic() + Hex("FF") << QByteArray(4096, char(0xFF)) << 100;
    QTest::newRow("count 2, rows longer than asked")
        << ok << Magic() + Hex("02") << IqRows(50) << 2;
    QTest::newRow("head of 4096 bytes")
        << ok << Magic() + Hex("03") + QByteArray(4091, 'h') << IqRows(3) << 3;
}

void MalformedInputTest::iqDeviceImages()
{
    QFETCH(QByteArray, openReply);
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, rowBytes);
    QFETCH(int, rows);

    g_manufacturerMode = 1;
    g_hardwareVersion = 3;
    FakeLink rig;
    rig.xmit.m_deviceType = kDeviceType78;
    rig.line->replies = {openReply, FakeLine::okReply(head), FakeLine::okReply(rowBytes),
                         FakeLine::okReply({})};
    IqCalibrationTable table = SentinelTable();
    QVERIFY(ReadIqTableFromDevice(rig.xmit, table));
    QCOMPARE(table.rowCount, rows);
    QCOMPARE(EncodeIqFile(table).mid(1), rowBytes.left(kIqRowBytes * rows));
}

void MalformedInputTest::iqDeviceImageMutations()
{
    Rng rng(kSeed + 4);
    g_manufacturerMode = 1;
    g_hardwareVersion = 3;
    IqCalibrationTable sample = SentinelTable();
    sample.rowCount = 100;
    const QByteArray image = EncodeIqImage(sample);
    for (int n = 0; n < 400; ++n) {
        // The frames stay whole (a broken frame is the reply reader's
        // business, above); what they carry is mutated.
        const QByteArray mutated = Mutate(image, rng, 4096);
        const QByteArray head = mutated.left(5);
        const QByteArray rowBytes = rng.Below(8) == 0 ? rng.Bytes(4096) : mutated.mid(5);
        FakeLink rig;
        rig.xmit.m_deviceType = kDeviceType78;
        rig.line->replies = {FakeLine::okReply({}), FakeLine::okReply(head),
                             FakeLine::okReply(rowBytes), FakeLine::okReply({})};
        IqCalibrationTable table = SentinelTable();
        ReadIqTableFromDevice(rig.xmit, table);
        const QString where = QStringLiteral("case %1").arg(n);
        QVERIFY2(table.rowCount >= 0 && table.rowCount <= kIqMaxRows, qPrintable(where));
        QVERIFY2(head.size() == 5 || table.rowCount == 0, qPrintable(where));
        if (table.rowCount > 0) {
            QVERIFY2(table.rowCount <= quint8(head.at(4)), qPrintable(where));
            QVERIFY2(EncodeIqFile(table).mid(1) == rowBytes.left(kIqRowBytes * table.rowCount),
                     qPrintable(where));
        }
    }
}

// ---- configuration files ----------------------------------------------------------

void MalformedInputTest::configFiles_data()
{
    using S = ConfigFileRead::Status;
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("status");

    const int t82 = kDeviceType82;
    const int t78 = kDeviceType78;
    QByteArray compact = Magic() + Hex("00") + Hex("0C00") + QByteArray(5, 'c'); // 12 bytes
    RecordBuffer full{};
    const QByteArray fullRecord = BufferBytes(full, WriteFullLayout(SampleRecord(), full));

    QTest::newRow("empty, 82") << QByteArray() << t82 << int(S::TooShort);
    QTest::newRow("empty, 78") << QByteArray() << t78 << int(S::NoCompactMagic);
    QTest::newRow("one byte, 78") << QByteArray("P") << t78 << int(S::NoCompactMagic);
    QTest::newRow("3 magic bytes, 78") << Hex("50465A") << t78 << int(S::NoCompactMagic);
    QTest::newRow("magic only, 78") << Magic() << t78 << int(S::Ok);
    QTest::newRow("4095 bytes") << QByteArray(4095, 'a') << t82 << int(S::Ok);
    QTest::newRow("4096 bytes") << QByteArray(4096, char(0xFF)) << t82 << int(S::Ok);
    QTest::newRow("4097 bytes") << QByteArray(4097, 'a') << t82 << int(S::TooLong);
    QTest::newRow("1 MB") << QByteArray(1 << 20, '\0') << t78 << int(S::TooLong);
    QTest::newRow("compact record, 82") << compact << t82 << int(S::CompactUnder82);
    QTest::newRow("compact magic, length off by one, 82")
        << compact + "x" << t82 << int(S::TooShort);
    QTest::newRow("compact magic, other length, 82")
        << compact + QByteArray(80, 'x') << t82 << int(S::Ok);
    QTest::newRow("compact, length 65535, 78") << Magic() + Hex("00FFFF") << t78 << int(S::Ok);
    QTest::newRow("full record, 82") << fullRecord << t82 << int(S::Ok);
}

void MalformedInputTest::configFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, type);
    QFETCH(int, status);

    const QString path = m_folder + QStringLiteral("c.vxc");
    QVERIFY(WriteFile(path, bytes));
    const ConfigFileRead read = ReadConfigFile(path, quint8(type));
    QCOMPARE(int(read.status), status);
    const bool kept = read.status == ConfigFileRead::Status::Ok ||
                      read.status == ConfigFileRead::Status::NoCompactMagic;
    if (!kept) {
        QVERIFY(read.record.isEmpty());
        return;
    }
    QCOMPARE(read.record.size(), kConfigRecordCapacity);
    QCOMPARE(read.record.left(bytes.size()), bytes);
    QVERIFY(read.record.mid(bytes.size()).count('\0') == kConfigRecordCapacity - bytes.size());
    if (QByteArray(QTest::currentDataTag()).startsWith("full record")) {
        DeviceConfig record;
        QCOMPARE(int(ParseFullLayout(RecordBufferFrom(read.record), record)),
                 int(ParseStatus::Complete));
        QCOMPARE(record, SampleRecord());
    }
}

void MalformedInputTest::unreadablePaths_data()
{
    using S = ConfigFileRead::Status;
    QTest::addColumn<QString>("path"); // relative: inside the test folder
    QTest::addColumn<int>("config");
    QTest::addColumn<int>("iq");

    QTest::newRow("missing") << "missing.vxc" << int(S::CannotOpen) << int(IqFileRead::CannotOpen);
    QTest::newRow("a folder") << "folder" << int(S::CannotOpen) << int(IqFileRead::CannotOpen);
    QTest::newRow("endless zeros") << "/dev/zero" << int(S::TooLong) << int(IqFileRead::Ok);
    QTest::newRow("empty name") << "" << int(S::CannotOpen) << int(IqFileRead::CannotOpen);
}

void MalformedInputTest::unreadablePaths()
{
    QFETCH(QString, path);
    QFETCH(int, config);
    QFETCH(int, iq);

    QVERIFY(QDir(m_folder).mkdir(QStringLiteral("folder")));
    if (path.isEmpty()) {
        for (int i = 0; i < 2; ++i)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("No file name")));
    }
    const QString full = path.isEmpty()               ? path
                         : QDir::isAbsolutePath(path) ? path
                                                      : m_folder + path;
    const ConfigFileRead read = ReadConfigFile(full, kDeviceType82);
    QCOMPARE(int(read.status), config);
    IqCalibrationTable table = SentinelTable();
    QCOMPARE(int(ReadIqFile(full, table)), iq);
    if (iq != int(IqFileRead::Ok))
        QVERIFY(SameTable(table, SentinelTable()));
    else
        QCOMPARE(table.rowCount, 0); // a count of zero, then nothing more is read
}

// ---- firmware catalogue -------------------------------------------------------------

void MalformedInputTest::leadingNumbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("iq");      // ParseLeadingInt, for the I/Q cells
    QTest::addColumn<int>("catalog"); // ReadDecimal, for firmware.cfg and package names

    const int max = std::numeric_limits<qint32>::max();
    const int min = std::numeric_limits<qint32>::min();
    QTest::newRow("empty") << QString() << 0 << 0;
    QTest::newRow("blanks only") << QString(1000, u' ') << 0 << 0;
    QTest::newRow("sign only") << QStringLiteral("-") << 0 << 0;
    QTest::newRow("two signs") << QStringLiteral("+-5") << 0 << 0;
    QTest::newRow("largest") << QStringLiteral("2147483647") << max << max;
    QTest::newRow("one past the largest") << QStringLiteral("2147483648") << max << max;
    QTest::newRow("smallest") << QStringLiteral("-2147483648") << min << min;
    QTest::newRow("one past the smallest") << QStringLiteral("-2147483649") << min << min;
    QTest::newRow("100000 nines") << QString(100000, u'9') << max << max;
    QTest::newRow("digits then letters") << QStringLiteral("12abc") << 12 << 12;
    QTest::newRow("line feed before") << QStringLiteral("\n7") << 7 << 7;
    QTest::newRow("NUL before") << QString::fromLatin1("\0"
                                                       "7",
                                                       2)
                                << 0 << 0;
    QTest::newRow("digits of another script") << QString::fromUtf8("\u0663") << 0 << 0;
}

void MalformedInputTest::leadingNumbers()
{
    QFETCH(QString, text);
    QFETCH(int, iq);
    QFETCH(int, catalog);

    QCOMPARE(ParseLeadingInt(text), iq);
    QCOMPARE(ReadDecimal(text), catalog);
}

void MalformedInputTest::componentLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("fileNumber");
    QTest::addColumn<int>("identityOffset");
    QTest::addColumn<int>("identityLength");
    QTest::addColumn<QString>("file");

    QTest::newRow("empty") << QString() << 0 << 0 << 0 << QString();
    QTest::newRow("one character") << QStringLiteral("7") << 7 << 0 << 0 << QString();
    QTest::newRow("only blanks") << QString(5000, u' ') << 0 << 0 << 0 << QString();
    QTest::newRow("numbers beyond 32 bits")
        << QStringLiteral("99999999999 -99999999999 300 1 2 3 L n f d") << 2147483647
        << int(-2147483647 - 1) << 44 << QStringLiteral("f");
    QTest::newRow("very long name") << QStringLiteral("1 2 3 4 5 6 L n ") + QString(100000, u'x')
                                    << 1 << 2 << 3 << QString(100000, u'x');
    QTest::newRow("NUL bytes") << QString::fromLatin1("1 2 3 4 5 6 L n\0m f\0le d", 24) << 1 << 2
                               << 3 << QString::fromLatin1("f\0le", 4);
    QTest::newRow("parent folder")
        << QStringLiteral("1 0 0 0 0 0 L n .. d") << 1 << 0 << 0 << QStringLiteral("..");
    QTest::newRow("absolute path") << QStringLiteral("1 0 0 0 0 0 L n /etc/passwd d") << 1 << 0 << 0
                                   << QStringLiteral("/etc/passwd");
}

void MalformedInputTest::componentLines()
{
    QFETCH(QString, line);
    QFETCH(int, fileNumber);
    QFETCH(int, identityOffset);
    QFETCH(int, identityLength);
    QFETCH(QString, file);

    const ComponentEntry e = ParseComponentLine(line);
    QCOMPARE(e.fileNumber, fileNumber);
    QCOMPARE(e.identityOffset, identityOffset);
    QCOMPARE(int(e.identityLength), identityLength);
    QCOMPARE(e.file, file);
    QCOMPARE(e.needsWrite, quint8(0));
    QCOMPARE(e.refused, quint8(0));
}

void MalformedInputTest::catalogues_data()
{
    QTest::addColumn<QByteArray>("cfg");
    QTest::addColumn<QByteArray>("header"); // the device file's start, for every component
    QTest::addColumn<QString>("refused");
    QTest::addColumn<QString>("needsWrite");

    const QByteArray header(512, '\0');
    QTest::newRow("empty") << QByteArray() << header << QString() << QString();
    QTest::newRow("blank first line")
        << QByteArray("\n1 0 0 0 0 0 L n f d\n") << header << QString() << QString();
    QTest::newRow("six lines, five kept")
        << QByteArray("1 0 0 0 0 0 L n f d\n").repeated(6) << header << "0 0 0 0 0"
        << "0 0 0 0 0";
    QTest::newRow("names outside the folder") << QByteArray("1 0 0 0 0 0 L n .. d\r\n"
                                                            "2 0 0 0 0 0 L n /etc/passwd d\r\n"
                                                            "3 0 0 0 0 0 L n sub/f d\r\n"
                                                            "4 0 0 0 0 0 L n ..\\up d\r\n"
                                                            "5 0 0 0 0 0 L n . d\r\n")
                                              << header << "1 1 1 1 1"
                                              << "0 0 0 0 0";
    QTest::newRow("names that only look odd")
        << QByteArray("1 0 0 0 0 0 L n ..f d\n2 0 0 0 0 0 L n f.. d\n") << header << "0 0"
        << "0 0";
    QTest::newRow("identity up to the last header byte")
        << QByteArray("1 509 2 0 0 0 L n f d\n") << header << "0"
        << "0";
    QTest::newRow("identity one past the header")
        << QByteArray("1 510 2 0 0 0 L n f d\n") << header << "1"
        << "0";
    QTest::newRow("release in the last header byte")
        << QByteArray("1 0 0 0 511 0 L n f d\n") << header << "0"
        << "0";
    QTest::newRow("release past the header")
        << QByteArray("1 0 0 0 512 0 L n f d\n") << header << "1"
        << "0";
    QTest::newRow("negative offsets")
        << QByteArray("1 -1 1 0 0 0 L n f d\n1 0 0 0 -1 0 L n f d\n") << header << "1 1"
        << "0 0";
    QTest::newRow("offsets beyond 32 bits")
        << QByteArray("1 99999999999 255 0 99999999999 0 L n f d\n") << header << "1"
        << "0";
    QTest::newRow("255-byte identity, 4096-byte header")
        << QByteArray("1 0 255 0 0 0 L n f d\n") << QByteArray(4096, char(0xFF)) << "0"
        << "1";
    QTest::newRow("header shorter than the identity")
        << QByteArray("1 8 4 305419896 0 0 L n f d\n") << QByteArray(3, '\x12') << "0"
        << "1";
    QTest::newRow("empty header") << QByteArray("1 0 0 0 0 1 L n f d\n") << QByteArray() << "0"
                                  << "1";
    QTest::newRow("NUL in the name") << QByteArray("1 0 0 0 0 0 L n f\0x d\n", 22) << header << "0"
                                     << "0";
    QTest::newRow("very long line")
        << QByteArray("1 0 0 0 0 0 L n ") + QByteArray(100000, 'x') << header << "0"
        << "0";
    QTest::newRow("line past 4096 bytes, then a good line")
        << QByteArray("1 0 0 0 0 0 L n ") + QByteArray(5000, 'x') + " d\r\n2 0 0 0 0 0 L n f d\n"
        << header << "0 0"
        << "0 0";
}

void MalformedInputTest::catalogues()
{
    QFETCH(QByteArray, cfg);
    QFETCH(QByteArray, header);
    QFETCH(QString, refused);
    QFETCH(QString, needsWrite);

    formtest::Recorders recorders;
    g_relaxDigestChecks = 1; // the lines, not the digests, are under test here
    const QString cfgPath = m_folder + QStringLiteral("firmware.cfg");
    QVERIFY(WriteFile(cfgPath, cfg));
    QVERIFY(WriteFile(m_folder + QStringLiteral("extension.bin"), "unchecked\n"));
    FakeLink rig;
    ScriptHeaders(*rig.line, QList<QByteArray>(kMaxComponents, header));

    ComponentList list;
    LoadComponentList(rig.xmit, cfgPath, m_folder + QStringLiteral("extension.bin"), list);
    QCOMPARE(Flags(list, &ComponentEntry::refused), refused);
    QCOMPARE(Flags(list, &ComponentEntry::needsWrite), needsWrite);
    // No field of a line can outgrow the longest line kept.
    for (int i = 0; i < list.count; ++i) {
        const ComponentEntry &e = list.entries[i];
        QVERIFY(e.file.size() + e.name.size() + e.digest.size() <= kMaxCatalogueLine);
    }
    // A refused line is never read from the device: three exchanges (open,
    // read, close) for each of the others, none for it.
    const int taken = int(refused.count(u'0'));
    QCOMPARE(int(rig.line->chunkSizes.size()), 3 * taken);
}

void MalformedInputTest::catalogueMutations()
{
    Rng rng(kSeed + 5);
    formtest::Recorders recorders;
    g_relaxDigestChecks = 1;
    QVERIFY(WriteFile(m_folder + QStringLiteral("extension.bin"), "unchecked\n"));
    const QByteArray valid("600 0 2 4660 2 12 L Logo logo.dg1 0123456789ABCDEF0123456789ABCDEF\n"
                           "601 4 1 7 5 3 - Font font.bin d\n"
                           "602 0 0 0 0 1 L Table table.bin d\n");
    for (int n = 0; n < 400; ++n) {
        QByteArray cfg = Mutate(valid, rng, 4096);
        // Now and then a separator or a folder step where a name may be.
        if (rng.Below(3) == 0)
            cfg.insert(rng.Below(int(cfg.size()) + 1), rng.Below(2) ? "/" : " .. ");
        // A new file each time: overwriting one costs a flush on some file systems.
        const QString cfgPath = m_folder + QStringLiteral("firmware%1.cfg").arg(n);
        QVERIFY(WriteFile(cfgPath, cfg));
        FakeLink rig;
        QList<QByteArray> headers;
        for (int i = 0; i < kMaxComponents; ++i)
            headers << rng.Bytes(rng.Below(600));
        ScriptHeaders(*rig.line, headers);

        ComponentList list;
        LoadComponentList(rig.xmit, cfgPath, m_folder + QStringLiteral("extension.bin"), list);
        const QString where = QStringLiteral("case %1: %2").arg(n).arg(QString::fromLatin1(cfg));
        QVERIFY2(list.count >= 0 && list.count <= kMaxComponents, qPrintable(where));
        int taken = 0;
        for (int i = 0; i < list.count; ++i) {
            const ComponentEntry &e = list.entries[i];
            if (LeavesFolder(e.file))
                QVERIFY2(e.refused == 1, qPrintable(where));
            if (e.refused)
                QVERIFY2(e.needsWrite == 0, qPrintable(where));
            else
                ++taken;
        }
        QVERIFY2(rig.line->chunkSizes.size() == 3 * taken, qPrintable(where));
    }
}

void MalformedInputTest::packageNames_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("release");
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<int>("warnings");

    const QByteArray content("image bytes");
    const QString digest = QString::fromLatin1(
        QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex().toUpper());

    QTest::newRow("no packages") << QStringList() << 0 << QString() << 0;
    QTest::newRow("nothing after the underscore") << QStringList{"VX_.bin"} << 0 << QString() << 0;
    QTest::newRow("letters for a release") << QStringList{"VX_ab.bin"} << 0 << QString() << 0;
    QTest::newRow("negative release") << QStringList{"VX_-5.bin"} << 0 << QString() << 0;
    QTest::newRow("other device") << QStringList{"VXY_20.bin", "V_20.bin", "_20.bin"} << 0
                                  << QString() << 0;
    QTest::newRow("name shorter than a digest") << QStringList{"VX_1.bin"} << 0 << "VX_1.bin" << 1;
    QTest::newRow("wrong digest") << QStringList{"VX_12" + QString(32, u'0') + ".bin"} << 0
                                  << "VX_12" + QString(32, u'0') + ".bin" << 1;
    QTest::newRow("right digest, capital extension")
        << QStringList{"VX_12" + digest.toLower() + ".BIN"} << 12
        << "VX_12" + digest.toLower() + ".BIN" << 0;
    QTest::newRow("release 99 without a digest")
        << QStringList{"VX_99.bin"} << 99 << "VX_99.bin" << 0;
    QTest::newRow("three digits read as two")
        << QStringList{"VX_100" + digest + ".bin", "VX_09" + digest + ".bin"} << 10
        << "VX_100" + digest + ".bin" << 0;
    QTest::newRow("folder named like a package")
        << QStringList{"VX_50.bin/"} << 0 << QString() << 0;
}

void MalformedInputTest::packageNames()
{
    QFETCH(QStringList, names);
    QFETCH(int, release);
    QFETCH(QString, chosen);
    QFETCH(int, warnings);

    formtest::Recorders recorders;
    g_firmwareFolder = m_folder;
    for (const QString &name : names) {
        if (name.endsWith(u'/'))
            QVERIFY(QDir(m_folder).mkdir(name.chopped(1)));
        else
            QVERIFY(WriteFile(m_folder + name, "image bytes"));
    }
    int got = -1;
    QByteArray image("stale");
    const QString path = FindFirmwarePackage(QStringLiteral("VX"), &got, &image);
    QCOMPARE(got, release);
    QCOMPARE(QFileInfo(path).fileName(), chosen);
    QCOMPARE(int(recorders.warnings.size()), warnings);
    QCOMPARE(image, release != 0 ? QByteArray("image bytes") : QByteArray());
}

QTEST_MAIN(MalformedInputTest)
#include "tst_malformed.moc"
