// The command operations: exact requests on the line, what they keep from
// the replies, and the bounds of their buffers.
#include "FakeSerialPort.h"
#include "link/CXmit.h"

#include <QtTest>

namespace {

enum class Op { RunCommandLine, OpenDeviceFile, SendImageBlock, ReadFileData, WriteFileData, Poll };

} // namespace

class CommandsTest : public QObject
{
    Q_OBJECT

private slots:
    void requests_data();
    void requests();
    void textBuffersAreBounded_data();
    void textBuffersAreBounded();
    void toDeviceTextRefusesASmallBuffer();
    void textsTheDeviceCannotHoldAreNotSent_data();
    void textsTheDeviceCannotHoldAreNotSent();
    void readFileDataKeepsToWhatAReplyHolds_data();
    void readFileDataKeepsToWhatAReplyHolds();
    void pollIdentityStoresTheIdentity();
    void pollIdentityCopiesNoMoreThanTheBuffer();
    void pollIdentityOfAForeignDeviceCopiesNothing();
    void readFileDataKeepsToTheDestination();
    void readFileDataFailureLeavesTheDestination();
};

void CommandsTest::requests_data()
{
    QTest::addColumn<int>("op");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("sync") << int(Op::RunCommandLine) << "sync"
                          << FakeLine::hex("02840573796E630086");
    QTest::newRow("logo path: 15 payload bytes")
        << int(Op::OpenDeviceFile) << "/mnt/logo.dg1"
        << FakeLine::hex("02A40F002F6D6E742F6C6F676F2E64673100CB");
    QTest::newRow("characters up to U+00FF travel as their one byte")
        << int(Op::RunCommandLine) << QString("a") + QChar(0x00FF)
        << FakeLine::hex("028361FF"
                         "001D");
    QTest::newRow("image block at 01 23 45")
        << int(Op::SendImageBlock) << QString() << FakeLine::hex("02C40601012345AABBB5");
    QTest::newRow("read 256 bytes")
        << int(Op::ReadFileData) << QString() << FakeLine::hex("02C3030001C1");
    QTest::newRow("write two bytes")
        << int(Op::WriteFileData) << QString() << FakeLine::hex("02C304010202C4");
    QTest::newRow("identity poll") << int(Op::Poll) << QString() << FakeLine::hex("021010");
}

void CommandsTest::requests()
{
    QFETCH(int, op);
    QFETCH(QString, text);
    QFETCH(QByteArray, line);

    FakeLink rig;
    rig.line->replies = {FakeLine::okReply(QByteArray())};
    const quint8 two[2] = {0xAA, 0xBB};
    const quint8 small[2] = {0x01, 0x02};
    quint8 destination[300] = {};
    switch (static_cast<Op>(op)) {
    case Op::RunCommandLine:
        rig.xmit.RunCommandLine(text);
        break;
    case Op::OpenDeviceFile:
        rig.xmit.OpenDeviceFile(text);
        break;
    case Op::SendImageBlock:
        rig.xmit.SendImageBlock(0x012345, two, 2);
        break;
    case Op::ReadFileData:
        rig.xmit.ReadFileData(256, destination, sizeof destination);
        break;
    case Op::WriteFileData:
        rig.xmit.WriteFileData(small, 2);
        break;
    case Op::Poll:
        rig.xmit.PollIdentity();
        break;
    }
    QCOMPARE(rig.line->written.toHex(' '), line.toHex(' '));
}

void CommandsTest::textBuffersAreBounded_data()
{
    QTest::addColumn<bool>("path");
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("sent");

    // Command line: text and its zero in 256 bytes.
    QTest::newRow("command line of 255 fits") << false << 255 << true;
    QTest::newRow("command line of 256 refused") << false << 256 << false;
    QTest::newRow("command line of 5000 refused") << false << 5000 << false;
    // Path: sub-command byte, path and zero in 256 bytes.
    QTest::newRow("path of 254 fits") << true << 254 << true;
    QTest::newRow("path of 255 refused") << true << 255 << false;
}

void CommandsTest::textBuffersAreBounded()
{
    QFETCH(bool, path);
    QFETCH(int, length);
    QFETCH(bool, sent);

    FakeLink rig;
    rig.line->replies = {FakeLine::okReply(QByteArray())};
    const QString text(length, QChar('x'));
    const bool ok = path ? rig.xmit.OpenDeviceFile(text) : rig.xmit.RunCommandLine(text);
    QCOMPARE(ok, sent);
    QCOMPARE(!rig.line->written.isEmpty(), sent);
    // A text that does not fit is not the link's fault.
    QCOMPARE(rig.xmit.m_linkError, 0);
    if (sent) // header, two length bytes, the payload and the check
        QCOMPARE(rig.line->written.size(), 1 + 3 + length + (path ? 2 : 1) + 1);
}

void CommandsTest::toDeviceTextRefusesASmallBuffer()
{
    quint8 buffer[5];
    std::memset(buffer, 0xEE, sizeof buffer);
    QCOMPARE(CXmit::ToDeviceText("abcde", buffer, 5), -1);
    QCOMPARE(buffer[0], quint8(0xEE));
    QCOMPARE(CXmit::ToDeviceText("abcd", buffer, 5), 5);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(buffer), 5), QByteArray("abcd", 5));
}

void CommandsTest::textsTheDeviceCannotHoldAreNotSent_data()
{
    QTest::addColumn<bool>("path");
    QTest::addColumn<QString>("text");

    // Keeping the low byte would turn these into a cut text (U+4E00 gives a
    // zero byte) or into another letter ("ł" U+0142 gives "B").
    QTest::newRow("U+4E00 inside a path") << true << QString("/mnt/a") + QChar(0x4E00) + "b.dg1";
    QTest::newRow("Polish l with stroke in a command line")
        << false << QString("cp /a/") + QChar(0x0142) + " /b";
    QTest::newRow("U+0100, just above the byte range") << false << QString(QChar(0x0100));
    QTest::newRow("character outside the basic plane")
        << true << QString::fromUtf8("/mnt/\xF0\x9F\x93\xBA.dg1");
}

void CommandsTest::textsTheDeviceCannotHoldAreNotSent()
{
    QFETCH(bool, path);
    QFETCH(QString, text);

    quint8 buffer[kTextBufferSize];
    std::memset(buffer, 0xEE, sizeof buffer);
    QCOMPARE(CXmit::ToDeviceText(text, buffer, kTextBufferSize), -1);
    QCOMPARE(buffer[0], quint8(0xEE));

    FakeLink rig;
    rig.line->replies = {FakeLine::okReply(QByteArray())};
    QVERIFY(!(path ? rig.xmit.OpenDeviceFile(text) : rig.xmit.RunCommandLine(text)));
    QVERIFY(rig.line->written.isEmpty());
    QCOMPARE(rig.xmit.m_linkError, 0);
}

void CommandsTest::readFileDataKeepsToWhatAReplyHolds_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("line"); // empty: refused without sending

    QTest::newRow("4096, a full reply") << 4096 << FakeLine::hex("02C3030010D0");
    QTest::newRow("4097, one more than a reply holds") << 4097 << QByteArray();
    QTest::newRow("65535") << 65535 << QByteArray();
}

void CommandsTest::readFileDataKeepsToWhatAReplyHolds()
{
    QFETCH(int, count);
    QFETCH(QByteArray, line);

    FakeLink rig;
    rig.line->replies = {FakeLine::okReply(QByteArray(qMin(count, kReplyCapacity), '\x41'))};
    std::vector<quint8> destination(static_cast<size_t>(count), 0xEE);
    const bool ok = rig.xmit.ReadFileData(static_cast<quint16>(count), destination.data(), count);
    QCOMPARE(ok, !line.isEmpty());
    QCOMPARE(rig.line->written, line);
    // Asking for too much is the caller's mistake, not the link's.
    QCOMPARE(rig.xmit.m_linkError, 0);
    QCOMPARE(destination[0], quint8(ok ? 0x41 : 0xEE));
}

void CommandsTest::pollIdentityStoresTheIdentity()
{
    FakeLink rig;
    rig.line->replies = {FakeLine::okReply(FakeLine::hex("78170201"))};
    quint8 buffer[8] = {};
    QCOMPARE(rig.xmit.PollIdentity(buffer, sizeof buffer), quint8(0x17));
    QCOMPARE(rig.xmit.m_deviceType, quint8(0x78));
    QCOMPARE(g_softwareVersion, quint8(0x17));
    QCOMPARE(g_hardwareVersion, quint8(1));
    QCOMPARE(buffer[2], quint8(2));
}

void CommandsTest::pollIdentityCopiesNoMoreThanTheBuffer()
{
    FakeLink rig;
    rig.line->replies = {FakeLine::okReply(FakeLine::hex("7817020101010101"
                                                         "0101010101"))};
    quint8 buffer[10];
    std::memset(buffer, 0xEE, sizeof buffer);
    QCOMPARE(rig.xmit.PollIdentity(buffer, 8), quint8(0x17));
    QCOMPARE(buffer[7], quint8(0x01));
    QCOMPARE(buffer[8], quint8(0xEE));
    QCOMPARE(buffer[9], quint8(0xEE));
}

void CommandsTest::pollIdentityOfAForeignDeviceCopiesNothing()
{
    FakeLink rig;
    rig.xmit.m_deviceType = 0x82;
    rig.line->replies = {FakeLine::okReply(FakeLine::hex("551701"))};
    quint8 buffer[8];
    std::memset(buffer, 0xEE, sizeof buffer);
    QCOMPARE(rig.xmit.PollIdentity(buffer, sizeof buffer), quint8(0));
    QCOMPARE(buffer[0], quint8(0xEE));
    QCOMPARE(rig.xmit.m_deviceType, quint8(0x82));
}

void CommandsTest::readFileDataKeepsToTheDestination()
{
    FakeLink rig;
    rig.line->replies = {FakeLine::okReply(QByteArray(300, '\x41'))};
    quint8 destination[210];
    std::memset(destination, 0xEE, sizeof destination);
    QVERIFY(rig.xmit.ReadFileData(300, destination, 200));
    QCOMPARE(rig.xmit.m_replyLength, 300);
    QCOMPARE(destination[199], quint8(0x41));
    QCOMPARE(destination[200], quint8(0xEE));
}

void CommandsTest::readFileDataFailureLeavesTheDestination()
{
    FakeLink rig;
    rig.line->replies = {FakeLine::hex("02E0E0")};
    quint8 destination[4] = {9, 9, 9, 9};
    QVERIFY(!rig.xmit.ReadFileData(4, destination, sizeof destination));
    QCOMPARE(destination[0], quint8(9));
    QCOMPARE(rig.xmit.m_linkError, 0);
}

QTEST_GUILESS_MAIN(CommandsTest)
#include "tst_commands.moc"
