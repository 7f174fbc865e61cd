// The frame format on the line and the reply reader, byte for byte.
#include "FakeSerialPort.h"
#include "link/CXmit.h"

#include <QtTest>

namespace {

QByteArray repeated(int count, char value)
{
    return QByteArray(count, value);
}

} // namespace

class FrameCodecTest : public QObject
{
    Q_OBJECT

private slots:
    void requestFrames_data();
    void requestFrames();
    void longRequestLengthForms_data();
    void longRequestLengthForms();
    void largestRequestFitsTheFrameBuffer();
    void oversizedRequestIsNotSent();
    void framesAreWrittenInChunksOf256();
    void failedWriteEndsInTimeout();

    void replies_data();
    void replies();
    void refusalKeepsTheLinkErrorAsItWas();
    void staleInputIsDiscardedBeforeTheRequest();
    void replyOfExactlyTheBufferSizeIsAccepted();
    void oversizedReplyNeverWritesPastTheBuffer();
    void noPortFailsWithoutWriting();
};

void FrameCodecTest::requestFrames_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("identification") << 0x10 << QByteArray() << FakeLine::hex("021010");
    QTest::newRow("payload 02 doubled")
        << 0xC0 << FakeLine::hex("034E02") << FakeLine::hex("02C3034E02028C");
    QTest::newRow("command line sync") << 0x80 << QByteArray("sync", 5)
                                       << FakeLine::hex("0284057379"
                                                        "6E630086");
    QTest::newRow("three bytes: short form")
        << 0x50 << FakeLine::hex("AABBCC") << FakeLine::hex("0253AABBCC8E");
    QTest::newRow("four bytes: one length byte")
        << 0x50 << FakeLine::hex("01020304") << FakeLine::hex("025404010202030454");
    QTest::newRow("check of 02 doubled")
        << 0x10 << FakeLine::hex("13") << FakeLine::hex("0211130202");
    QTest::newRow("low bits of the command ignored")
        << 0x1F << QByteArray() << FakeLine::hex("021010");
}

void FrameCodecTest::requestFrames()
{
    QFETCH(int, command);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, line);

    FakeLink rig;
    rig.xmit.Transact(static_cast<quint8>(command),
                      reinterpret_cast<const quint8 *>(payload.constData()),
                      static_cast<int>(payload.size()), 20);
    QCOMPARE(rig.line->written.toHex(' '), line.toHex(' '));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(rig.xmit.m_txFrame), rig.xmit.m_txLength),
             line);
    QCOMPARE(rig.xmit.m_txCheck, quint8(0));
}

void FrameCodecTest::longRequestLengthForms_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<int>("lineLength");

    // 0x11 payload bytes: nothing to escape but the length bytes.
    QTest::newRow("255: one byte") << 255 << FakeLine::hex("0254FF11") << 1 + 2 + 255 + 1;
    QTest::newRow("256: two bytes 01 00") << 256 << FakeLine::hex("0258010011") << 1 + 3 + 256 + 1;
    QTest::newRow("512: high length byte 02 doubled")
        << 512 << FakeLine::hex("025802020011") << 1 + 4 + 512 + 1;
    QTest::newRow("767: high byte 02 doubled")
        << 767 << FakeLine::hex("02580202FF11") << 1 + 4 + 767 + 1;
}

void FrameCodecTest::longRequestLengthForms()
{
    QFETCH(int, length);
    QFETCH(QByteArray, start);
    QFETCH(int, lineLength);

    FakeLink rig;
    const QByteArray payload = repeated(length, '\x11');
    rig.xmit.Transact(0x50, reinterpret_cast<const quint8 *>(payload.constData()), length, 20);
    QVERIFY(rig.line->written.startsWith(start));
    QCOMPARE(rig.line->written.size(), lineLength);
    // The check covers header, length and payload: XOR of the unescaped body is 0.
    const QByteArray &w = rig.line->written;
    quint8 sum = 0;
    for (int i = 1; i < w.size(); ++i) {
        if (static_cast<quint8>(w[i]) == 0x02 && i + 1 < w.size() &&
            static_cast<quint8>(w[i + 1]) == 0x02)
            ++i;
        sum ^= static_cast<quint8>(w[i]);
    }
    QCOMPARE(sum, quint8(0));
}

void FrameCodecTest::largestRequestFitsTheFrameBuffer()
{
    // Every byte 0x02: each one takes two bytes on the line.
    FakeLink rig;
    const QByteArray payload = repeated(kMaxRequestPayload, '\x02');
    rig.xmit.Transact(0xC0, reinterpret_cast<const quint8 *>(payload.constData()),
                      kMaxRequestPayload, 20);
    QVERIFY(rig.xmit.m_txLength <= kTxFrameCapacity);
    QCOMPARE(rig.line->written.size(), rig.xmit.m_txLength);
    QVERIFY(rig.xmit.m_txLength > 2 * kMaxRequestPayload);
}

void FrameCodecTest::oversizedRequestIsNotSent()
{
    FakeLink rig;
    const QByteArray payload = repeated(kMaxRequestPayload + 1, '\x02');
    QVERIFY(!rig.xmit.Transact(0xC0, reinterpret_cast<const quint8 *>(payload.constData()),
                               static_cast<int>(payload.size()), 20));
    QVERIFY(rig.line->written.isEmpty());
    QCOMPARE(rig.xmit.m_linkError, 0);
}

void FrameCodecTest::framesAreWrittenInChunksOf256()
{
    FakeLink rig;
    const QByteArray payload = repeated(601, '\x11');
    rig.xmit.Transact(0x50, reinterpret_cast<const quint8 *>(payload.constData()), 601, 20);
    const int total = 1 + 4 + 601 + 1; // length 02 59, the 02 doubled
    QCOMPARE(rig.line->chunkSizes, (QList<int>{256, 256, total - 512}));
}

void FrameCodecTest::failedWriteEndsInTimeout()
{
    FakeLink rig;
    rig.line->failWrites = true;
    rig.line->replies = {FakeLine::hex("02F382170167")};
    const QByteArray payload = repeated(600, '\x11');
    QVERIFY(
        !rig.xmit.Transact(0x50, reinterpret_cast<const quint8 *>(payload.constData()), 600, 20));
    QCOMPARE(rig.line->chunkSizes.size(), 1); // the rest of the frame is not sent
    QCOMPARE(rig.xmit.m_linkError, 1);
}

void FrameCodecTest::replies_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("linkError");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("payload");

    const QByteArray none;
    QTest::newRow("three-byte reply")
        << FakeLine::hex("02F382170167") << true << 0 << 0xF0 << FakeLine::hex("821701");
    QTest::newRow("bad check: stored but failed")
        << FakeLine::hex("02F382170166") << false << 1 << 0xF0 << FakeLine::hex("821701");
    QTest::newRow("one length byte of 0: no payload")
        << FakeLine::hex("02F400F4") << true << 0 << 0xF0 << none;
    QTest::newRow("one length byte")
        << FakeLine::hex("02F4055555555555A4") << true << 0 << 0xF0 << FakeLine::hex("5555555555");
    QTest::newRow("escaped 02 in payload")
        << FakeLine::hex("02F10202F3") << true << 0 << 0xF0 << FakeLine::hex("02");
    QTest::newRow("header below E0 ignored until a new start")
        << FakeLine::hex("0210"
                         "F1AA5B"
                         "02F1AA5B")
        << true << 0 << 0xF0 << FakeLine::hex("AA");
    QTest::newRow("header below E0, nothing after: time-out")
        << FakeLine::hex("021010") << false << 1 << 0x00 << none;
    QTest::newRow("lone 02 mid-reply restarts reception")
        << FakeLine::hex("02F38217"
                         "02F1AA5B")
        << true << 0 << 0xF0 << FakeLine::hex("AA");
    QTest::newRow("garbage before the reply") << FakeLine::hex("AABB0010"
                                                               "02F1AA5B")
                                              << true << 0 << 0xF0 << FakeLine::hex("AA");
    QTest::newRow("cut off: time-out")
        << FakeLine::hex("02F38217") << false << 1 << 0xF0 << FakeLine::hex("8217");
    QTest::newRow("silence: time-out") << none << false << 1 << 0x00 << none;
    QTest::newRow("refusal") << FakeLine::hex("02E0E0") << false << 0 << 0xE0 << none;
    QTest::newRow("refusal with payload")
        << FakeLine::hex("02E1AA4B") << false << 0 << 0xE0 << FakeLine::hex("AA");
}

void FrameCodecTest::replies()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, ok);
    QFETCH(int, linkError);
    QFETCH(int, code);
    QFETCH(QByteArray, payload);

    FakeLink rig;
    rig.line->replies = {reply};
    QCOMPARE(rig.xmit.Transact(0x10, nullptr, 0, 40), ok);
    QCOMPARE(rig.xmit.m_linkError, linkError);
    QCOMPARE(int(rig.xmit.m_replyCode), code);
    if (!payload.isEmpty() || ok) {
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(rig.xmit.m_reply), payload.size()),
                 payload);
    }
    if (ok)
        QCOMPARE(rig.xmit.m_replyLength, payload.size());
}

void FrameCodecTest::refusalKeepsTheLinkErrorAsItWas()
{
    FakeLink rig;
    rig.xmit.m_linkError = 1;
    rig.line->replies = {FakeLine::hex("02E0E0")};
    QVERIFY(!rig.xmit.Transact(0x10, nullptr, 0, 40));
    QCOMPARE(rig.xmit.m_linkError, 1);
}

void FrameCodecTest::staleInputIsDiscardedBeforeTheRequest()
{
    FakeLink rig(FakeLine::hex("02F1AA5B")); // a good frame left over from before
    rig.line->replies = {QByteArray()};      // the device says nothing to this request
    QVERIFY(!rig.xmit.Transact(0x10, nullptr, 0, 30));
    QCOMPARE(rig.xmit.m_linkError, 1);
}

void FrameCodecTest::replyOfExactlyTheBufferSizeIsAccepted()
{
    FakeLink rig;
    rig.line->replies = {FakeLine::okReply(repeated(kReplyCapacity, '\x55'))};
    QVERIFY(rig.xmit.Transact(0x70, nullptr, 0, 200));
    QCOMPARE(rig.xmit.m_replyLength, kReplyCapacity);
    QCOMPARE(rig.xmit.m_reply[kReplyCapacity - 1], quint8(0x55));
}

void FrameCodecTest::oversizedReplyNeverWritesPastTheBuffer()
{
    // A reply announcing one byte more than m_reply holds is not accepted;
    // the fields behind the buffer stay as the request left them.
    FakeLink rig;
    rig.line->replies = {FakeLine::okReply(repeated(kReplyCapacity + 1, '\x55'))};
    QVERIFY(!rig.xmit.Transact(0x70, nullptr, 0, 100));
    QCOMPARE(rig.xmit.m_linkError, 1);
    QVERIFY(rig.xmit.m_replyLength <= kReplyCapacity);
    QCOMPARE(rig.xmit.m_txLength, 3);
    QCOMPARE(rig.xmit.m_txCheck, quint8(0));

    // The largest length the format can announce, followed by a good frame:
    // the good frame is taken.
    FakeLink second;
    second.line->replies = {FakeLine::hex("02FBFFFF") + repeated(300, '\x55') +
                            FakeLine::hex("02F1AA5B")};
    QVERIFY(second.xmit.Transact(0x70, nullptr, 0, 200));
    QCOMPARE(second.xmit.m_replyLength, 1);
    QCOMPARE(second.xmit.m_reply[0], quint8(0xAA));
}

void FrameCodecTest::noPortFailsWithoutWriting()
{
    CXmit xmit;
    QVERIFY(!xmit.Transact(0x10, nullptr, 0, 20));
    QCOMPARE(xmit.m_linkError, 1);
    QCOMPARE(xmit.m_txLength, 0);
}

QTEST_GUILESS_MAIN(FrameCodecTest)
#include "tst_frame_codec.moc"
