// vxsim as a black box over its pseudo-terminal.

#include "tests/tools/VxsimHarness.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest>

#include <csignal>

using namespace vxtest;

namespace {

// "none", "refused", "badcheck" or "ok:<payload hex>".
QString Outcome(const std::optional<Reply> &r)
{
    if (!r)
        return "none";
    if (!r->checkOk)
        return "badcheck";
    if (r->code == 0xE0)
        return "refused";
    return "ok:" + QString::fromLatin1(r->payload.toHex());
}

// "10" or "C0:01 4E 02": a command code and its payload.
std::pair<quint8, QByteArray> Request(const QString &text)
{
    const QStringList parts = text.split(':');
    return {quint8(parts[0].toUInt(nullptr, 16)),
            parts.size() > 1 ? QByteArray::fromHex(parts[1].toLatin1()) : QByteArray()};
}

QByteArray Text(const char *s)
{
    return QByteArray(s, int(qstrlen(s)) + 1); // with its zero byte
}

QByteArray Le16(int v)
{
    QByteArray b;
    b.append(char(v & 0xFF));
    b.append(char(v >> 8));
    return b;
}

QByteArray Block(int offset, const QByteArray &data)
{
    QByteArray p;
    p.append('\x01');
    p.append(char(offset >> 16));
    p.append(char(offset >> 8));
    p.append(char(offset));
    return p + data;
}

// Identifies repeatedly until the device answers (it drops requests while
// it restarts). Returns the software version byte, or -1.
int VersionAfterRestart(Client &c)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 20000) {
        const auto r = c.Transact(0x10, {}, 300);
        if (r && r->checkOk && r->code == 0xF0 && r->payload.size() >= 2)
            return quint8(r->payload[1]);
    }
    return -1;
}

} // namespace

class VxsimTest : public QObject
{
    Q_OBJECT

private slots:
    void literalFrames_data();
    void literalFrames();
    void numberedFiles();
    void defaultState_data();
    void defaultState();
    void preparedStateIsKept();
    void configurationRecord();
    void pathFilesAndCommandLines();
    void imageUploadAndRestart_data();
    void imageUploadAndRestart();
    void faults_data();
    void faults();
    void delayedReplyKeepsOrder();
    void badOptions_data();
    void badOptions();
    void vanishAndReturn();
    void runtimeControl();
    void transcript_data();
    void transcript();
    void survivesAnyBytes();
    void cleanExitOnSignal();
    void exitsWithParent();
    void pacedOutputIsNotFaster();
    void pacedInputIsNotFaster();
};

void VxsimTest::literalFrames_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");

    const QStringList t82{"--type", "0x82", "--sw", "0x17", "--hw", "1"};
    const QStringList t78{"--type", "0x78", "--sw", "0x17", "--hw", "1"};

    QTest::newRow("identify 0x82") << t82 << Hex("021010") << Hex("02F382170167");
    QTest::newRow("identify 0x78, status byte 2 doubled")
        << (t78 + QStringList{"--status", "2"}) << Hex("021010") << Hex("02F40478170202019C");
    QTest::newRow("id-bytes, one byte")
        << QStringList{"--id-bytes", "82"} << Hex("021010") << Hex("02F18273");
    QTest::newRow("id-bytes, version 0")
        << QStringList{"--id-bytes", "820001"} << Hex("021010") << Hex("02F382000170");
    QTest::newRow("four bytes take the one-byte length")
        << QStringList{"--id-bytes", "82000102"} << Hex("021010") << Hex("02F404820001020271");
    QTest::newRow("payload 0x02 doubled")
        << QStringList{"--id-bytes", "02"} << Hex("021010") << Hex("02F10202F3");
    QTest::newRow("check 0x02 doubled")
        << QStringList{"--id-bytes", "F3"} << Hex("021010") << Hex("02F1F30202");
    // 512 bytes: the two-byte length's high byte is 0x02 and is doubled.
    QTest::newRow("two-byte length 02 00")
        << QStringList{"--id-bytes", QString(1024, '0')} << Hex("021010")
        << (Hex("02F802020000") + QByteArray(511, '\0') + Hex("FA"));
    QTest::newRow("unknown command refused") << t82 << Hex("023030") << Hex("02E0E0");
    QTest::newRow("other family's apply refused") << t82 << Hex("02B0B0") << Hex("02E0E0");
    QTest::newRow("other family's restart refused") << t82 << Hex("02D0D0") << Hex("02E0E0");
    QTest::newRow("apply on 0x78") << t78 << Hex("02B0B0") << Hex("02F0F0");
    QTest::newRow("bad check: no reply") << t82 << Hex("021011") << QByteArray();
    QTest::newRow("escaped request payload") << t78 << Hex("02C3014E02028E") << Hex("02F0F0");
    QTest::newRow("one-byte length of zero") << t78 << Hex("02B400B4") << Hex("02F0F0");
    QTest::newRow("new start byte drops a partial frame")
        << t82 << Hex("0284057379021010") << Hex("02F382170167");
    QTest::newRow("stray bytes before a frame")
        << t82 << Hex("55AA0202E0021010") << Hex("02F382170167");
    QTest::newRow("sync") << t82 << Hex("0284057379 6E630086") << Hex("02F0F0");
    QTest::newRow("command line without zero byte refused")
        << t82 << Hex("0284047379 6E6387") << Hex("02E0E0");
    QTest::newRow("image end without begin refused") << t82 << Hex("02C10202C3") << Hex("02E0E0");
    QTest::newRow("image block without begin refused")
        << t82 << EncodeFrame(0xC0, Block(0, "abc")) << Hex("02E0E0");
}

void VxsimTest::literalFrames()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);

    Simulator sim;
    QVERIFY(sim.Start(args));
    Client c(sim.Path());
    QVERIFY(c.IsOpen());
    QVERIFY(c.Send(request));
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (got.size() < reply.size() && t.elapsed() < 5000)
        got += c.ReadFor(20);
    got += c.ReadFor(reply.isEmpty() ? 400 : 100); // and nothing more
    QCOMPARE(got.toHex(' '), reply.toHex(' '));
}

void VxsimTest::numberedFiles()
{
    Simulator sim;
    QVERIFY(sim.Start({"--type", "0x78"}));
    Client c(sim.Path());
    QVERIFY(c.IsOpen());

    struct Step
    {
        const char *request;
        const char *outcome;
    };
    // File 700 is 0x02BC: its number's low byte goes first.
    const Step steps[] = {
        {"C0:03 05 00", "refused"},     // read with nothing open
        {"C0:01 39 30", "refused"},     // open-read a file that does not exist
        {"C0:00 BC", "refused"},        // open without a whole file number
        {"C0:04 41", "refused"},        // write with nothing open
        {"C0:00 BC 02", "ok:"},         // open-write 700
        {"C0:04 41 42 43", "ok:"},      // write at 0
        {"C0:03 01 00", "refused"},     // read from a file open for writing
        {"C0:04 44 02 45", "ok:"},      // write continues at 3
        {"C0:02", "ok:"},               // close
        {"C0:04 46", "refused"},        // write after close
        {"C0:03 01 00", "refused"},     // read after close
        {"C0:01 BC 02", "ok:"},         // open-read 700
        {"C0:04 46", "refused"},        // write to a file open for reading
        {"C0:03 02 00", "ok:4142"},     // first two bytes
        {"C0:03 10 00", "ok:43440245"}, // the rest: fewer than asked for
        {"C0:03 05 00", "ok:"},         // at the end: nothing
        {"C0:01 BC 02", "ok:"},         // opening again starts at 0
        {"C0:03 00 00", "ok:"},         // a read of 0 bytes
        {"C0:03 01 00", "ok:41"},       //
        {"C0:02", "ok:"},               //
        {"C0:02", "ok:"},               // closing with nothing open is harmless
        {"C0:07", "refused"},           // unknown sub-command
        {"C0", "refused"},              // no sub-command at all
        {"C0:00 BC 02", "ok:"},         // open-write truncates
        {"C0:04 5A", "ok:"},            //
        {"C0:01 4E 02", "ok:"},         // a new open ends the old one
        {"C0:03 04 00", "ok:50465a4a"}, // and reads from its own start
        {"C0:02", "ok:"},               //
    };
    for (const Step &s : steps) {
        const auto [code, payload] = Request(QString::fromLatin1(s.request));
        QCOMPARE(Outcome(c.Transact(code, payload)) + " <- " + s.request,
                 QString::fromLatin1(s.outcome) + " <- " + s.request);
    }
    QCOMPARE(sim.StateFile("files/700.bin"), QByteArray("Z"));
}

void VxsimTest::defaultState_data()
{
    QTest::addColumn<QString>("type");
    QTest::newRow("0x82") << "0x82";
    QTest::newRow("0x78") << "0x78";
}

void VxsimTest::defaultState()
{
    QFETCH(QString, type);
    Simulator sim;
    QVERIFY(sim.Start({"--type", type}));
    Client c(sim.Path());

    if (type == "0x82") {
        const auto r = c.Transact(0x70, {});
        QVERIFY(r && r->checkOk && r->code == 0xF0);
        const QByteArray rec = r->payload;
        // Ten texts and 70 bytes of numbers; the frequency follows the
        // reference and three single bytes.
        QCOMPARE(rec.size(), 131);
        QVERIFY(rec.startsWith(QByteArray("VXSIM\0", 6)));
        QCOMPARE(rec.mid(9, 4), Hex("90 3B 07 00")); // 474000 kHz
        for (const char *text : {"ZEPHALINK NET", "ZEPHALINK", "logo.dg1", "News", "Evening news"})
            QVERIFY2(rec.contains(QByteArray(text, int(qstrlen(text)) + 1)), text);
        QCOMPARE(rec.right(3), Hex("80 80 80")); // brightness, contrast, saturation
        QCOMPARE(sim.StateFile("fs/VX360HD/current11.cfg"), rec);
        return;
    }

    QCOMPARE(Outcome(c.Transact(0xC0, Hex("01 4E 02"))), QString("ok:"));
    const auto r = c.Transact(0xC0, Hex("03 00 01"));
    QVERIFY(r && r->checkOk && r->code == 0xF0);
    const QByteArray rec = r->payload;
    QCOMPARE(rec.left(4), Hex("50 46 5A 4A"));
    QCOMPARE(quint8(rec[5]) | (quint8(rec[6]) << 8), int(rec.size())); // total length
    QCOMPARE(rec.size(), 76);
    QCOMPARE(rec.mid(7, 6), QByteArray("VXSIM\0", 6));
    QCOMPARE(rec.mid(rec.size() - 4, 2), Le16(474000 / 125)); // the 125 kHz tail
    QCOMPARE(sim.StateFile("files/595.bin"), rec);

    QCOMPARE(Outcome(c.Transact(0xC0, Hex("01 58 02"))), QString("ok:"));
    QCOMPARE(Outcome(c.Transact(0xC0, Hex("03 05 00"))), QString("ok:50465a4a03"));
    // Rows: MHz, dAmp + 10000, dPhi + 10000, little-endian.
    QByteArray rows;
    for (auto [mhz, amp, phi] : {std::tuple{474, -35, 120}, {594, 12, -8}, {858, 0, 0}})
        rows += Le16(mhz) + Le16(amp + 10000) + Le16(phi + 10000);
    QCOMPARE(Outcome(c.Transact(0xC0, Hex("03 12 00"))), "ok:" + QString(rows.toHex()));
}

void VxsimTest::preparedStateIsKept()
{
    Simulator sim;
    QVERIFY(QDir().mkpath(sim.StateDir() + "/files"));
    QFile prepared(sim.StateDir() + "/files/590.bin");
    QVERIFY(prepared.open(QIODevice::WriteOnly));
    prepared.write("PREPARED");
    prepared.close();
    QVERIFY(sim.Start({"--type", "0x78"}));
    Client c(sim.Path());
    QCOMPARE(Outcome(c.Transact(0xC0, Hex("01 4E 02"))), QString("ok:"));
    QCOMPARE(Outcome(c.Transact(0xC0, Hex("03 00 01"))),
             "ok:" + QString(QByteArray("PREPARED").toHex()));
    // The files that were missing are seeded all the same.
    QVERIFY(sim.StateFile("files/600.bin").startsWith(Hex("50 46 5A 4A")));
}

void VxsimTest::configurationRecord()
{
    Simulator sim;
    QVERIFY(sim.Start({"--type", "0x82"}));
    Client c(sim.Path());
    // 300 bytes with plenty of 0x02: two-byte length forms both ways.
    QByteArray record;
    for (int i = 0; i < 300; ++i)
        record.append(char(i % 3 == 0 ? 0x02 : i));
    QCOMPARE(Outcome(c.Transact(0x50, record)), QString("ok:"));
    const auto r = c.Transact(0x70, {});
    QVERIFY(r && r->checkOk && r->code == 0xF0);
    QCOMPARE(r->payload, record);
    QVERIFY(r->raw.startsWith(Hex("02 F8 01 2C")));
    QCOMPARE(sim.StateFile("fs/VX360HD/current11.cfg"), record);

    // The largest request (3 + 65535 bytes) is stored, but cannot come back
    // in one reply: refused rather than cut short.
    const QByteArray huge(3 + 65535, 'x');
    quint8 check = 0x5B ^ 0xFF ^ 0xFF;
    for (char b : huge)
        check ^= quint8(b);
    QVERIFY(c.Send(Hex("02 5B FF FF") + huge + char(check)));
    QCOMPARE(Outcome(c.ReadReply(20000)), QString("ok:"));
    QCOMPARE(Outcome(c.Transact(0x70, {})), QString("refused"));
}

void VxsimTest::pathFilesAndCommandLines()
{
    Simulator sim;
    QVERIFY(sim.Start({"--type", "0x82"}));
    Client c(sim.Path());

    QCOMPARE(Outcome(c.Transact(0xA0, Hex("04 41"))), QString("refused")); // nothing open
    QCOMPARE(Outcome(c.Transact(0xA0, Hex("02"))), QString("refused"));

    QCOMPARE(Outcome(c.Transact(0xA0, '\0' + Text("/mnt/logo.dg1"))), QString("ok:"));
    QByteArray logo;
    for (int i = 0; i < 1000; ++i)
        logo.append(char(i * 7));
    for (int at = 0; at < logo.size(); at += 400)
        QCOMPARE(Outcome(c.Transact(0xA0, '\x04' + logo.mid(at, 400))), QString("ok:"));
    QCOMPARE(Outcome(c.Transact(0xA0, Hex("02"))), QString("ok:"));
    QCOMPARE(sim.StateFile("fs/mnt/logo.dg1"), logo);

    // Creating again truncates.
    QCOMPARE(Outcome(c.Transact(0xA0, '\0' + Text("/mnt/logo.dg1"))), QString("ok:"));
    QCOMPARE(Outcome(c.Transact(0xA0, Hex("04 41"))), QString("ok:"));
    QCOMPARE(Outcome(c.Transact(0xA0, Hex("02"))), QString("ok:"));
    QCOMPARE(sim.StateFile("fs/mnt/logo.dg1"), QByteArray("A"));

    // Paths that would leave the device's file system, or name nothing.
    for (const char *bad : {"../escape", "/mnt/../../escape", "/", ""})
        QVERIFY2(Outcome(c.Transact(0xA0, '\0' + Text(bad))) == "refused", bad);
    QCOMPARE(Outcome(c.Transact(0xA0, Hex("00 2F 61"))), QString("refused")); // no zero byte
    QVERIFY(!QFileInfo::exists(sim.Dir() + "/escape"));
    QVERIFY(!QFileInfo::exists(sim.StateDir() + "/escape"));

    QCOMPARE(Outcome(c.Transact(0x80, Text("cp /VX360HD/current11.cfg /VX360HD/default11.cfg"))),
             QString("ok:"));
    QVERIFY(!sim.StateFile("fs/VX360HD/default11.cfg").isEmpty());
    QCOMPARE(sim.StateFile("fs/VX360HD/default11.cfg"), sim.StateFile("fs/VX360HD/current11.cfg"));
    QCOMPARE(Outcome(c.Transact(0x80, Text("cp /nothing /x"))), QString("refused"));
    QCOMPARE(Outcome(c.Transact(0x80, Text("cp /VX360HD/current11.cfg"))), QString("refused"));
    QCOMPARE(Outcome(c.Transact(0x80, Text("cp /VX360HD/current11.cfg /../../x"))),
             QString("refused"));
    for (const char *line : {"mount /dev/mmcblk0p1 /mnt", "umount /mnt", "sync", "reboot now"})
        QVERIFY2(Outcome(c.Transact(0x80, Text(line))) == "ok:", line);
    // Accepted, but noted in the transcript.
    QVERIFY(!sim.Transcript(true).filter("not understood").isEmpty());
}

void VxsimTest::imageUploadAndRestart_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<int>("version");

    QByteArray straddling(5000, '\xA5');
    straddling.replace(2040, 16, "VXSIM-RELEASE=31");
    QTest::newRow("release across a block boundary") << straddling << 31;

    QByteArray twice(3000, '\0');
    twice.replace(100, 16, "VXSIM-RELEASE=40");
    twice.replace(2500, 16, "VXSIM-RELEASE=50");
    QTest::newRow("first occurrence counts") << twice << 40;

    QTest::newRow("no release: unchanged") << QByteArray(4096, 'z') << 23;
    QTest::newRow("marker without digits: unchanged") << QByteArray("xxVXSIM-RELEASE=yy") << 23;
    QTest::newRow("release above 255: unchanged") << QByteArray("VXSIM-RELEASE=300") << 23;
    QTest::newRow("release 0") << QByteArray("VXSIM-RELEASE=0;") << 0;

    // Blocks of 0x02 escape to frames of more than 4096 bytes.
    QTest::newRow("blocks of 0x02") << (QByteArray(6000, '\x02') + "VXSIM-RELEASE=7") << 7;
}

void VxsimTest::imageUploadAndRestart()
{
    QFETCH(QByteArray, image);
    QFETCH(int, version);

    Simulator sim;
    QVERIFY(
        sim.Start({"--type", "0x82", "--sw", "23", "--restart-ms", "1000", "--finish-ms", "100"}));
    Client c(sim.Path());

    QCOMPARE(Outcome(c.Transact(0xC0, Hex("00"))), QString("ok:"));
    for (int at = 0; at < image.size(); at += 2048)
        QCOMPARE(Outcome(c.Transact(0xC0, Block(at, image.mid(at, 2048)))), QString("ok:"));
    QCOMPARE(Outcome(c.Transact(0xC0, Hex("02"), 50000)), QString("ok:"));
    QCOMPARE(sim.StateFile("image.bin"), image);

    // The new release shows only after a restart.
    QCOMPARE(Outcome(c.Transact(0x10, {})), QString("ok:821701"));
    QCOMPARE(Outcome(c.Transact(0x20, {})), QString("ok:"));
    QCOMPARE(Outcome(c.Transact(0x10, {}, 150)), QString("none")); // silent while restarting
    QCOMPARE(VersionAfterRestart(c), version);
    const QStringList events = sim.Transcript(true);
    QVERIFY(!events.filter("no answer: restarting").isEmpty());
}

void VxsimTest::faults_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<QStringList>("outcomes");
    QTest::addColumn<int>("fired"); // fault lines in the transcript

    const QString id = "ok:821701";
    const QStringList three{"10", "10", "10"};
    QTest::newRow("refuse") << "0x82" << QStringList{"refuse@cmd=0x10"} << three
                            << QStringList{"refused", "refused", "refused"} << 3;
    QTest::newRow("silent, twice") << "0x82" << QStringList{"silent@cmd=10,times=2"} << three
                                   << QStringList{"none", "none", id} << 2;
    QTest::newRow("badcheck once") << "0x82" << QStringList{"badcheck@cmd=0x10,times=1"} << three
                                   << QStringList{"badcheck", id, id} << 1;
    QTest::newRow("garbage: the reply still gets through")
        << "0x82" << QStringList{"garbage@cmd=0x10"} << three << QStringList{id, id, id} << 3;
    QTest::newRow("by frame number")
        << "0x82" << QStringList{"refuse@frame=2"} << three << QStringList{id, "refused", id} << 1;
    QTest::newRow("sub-command does not match a bare command")
        << "0x82" << QStringList{"refuse@cmd=0x10/00"} << three << QStringList{id, id, id} << 0;
    QTest::newRow("by sub-command") << "0x78" << QStringList{"refuse@cmd=0xC0/03"}
                                    << QStringList{"C0:01 4E 02", "C0:03 04 00", "C0:02"}
                                    << QStringList{"ok:", "refused", "ok:"} << 1;
    QTest::newRow("refused command is not carried out")
        << "0x78" << QStringList{"refuse@cmd=0xC0/01"} << QStringList{"C0:01 4E 02", "C0:03 04 00"}
        << QStringList{"refused", "refused"} << 1;
    QTest::newRow("first matching fault applies")
        << "0x82" << QStringList{"silent@frame=1", "refuse@cmd=0x10,times=1"} << three
        << QStringList{"none", "refused", id} << 2;
}

void VxsimTest::faults()
{
    QFETCH(QString, type);
    QFETCH(QStringList, faults);
    QFETCH(QStringList, requests);
    QFETCH(QStringList, outcomes);
    QFETCH(int, fired);

    QStringList args{"--type", type, "--sw", "23", "--hw", "1"};
    for (const QString &f : faults)
        args << "--fault" << f;
    Simulator sim;
    QVERIFY(sim.Start(args));
    Client c(sim.Path());
    for (int i = 0; i < requests.size(); ++i) {
        const auto [code, payload] = Request(requests[i]);
        const bool none = outcomes[i] == "none";
        const auto r = c.Transact(code, payload, none ? 400 : 5000);
        QCOMPARE(Outcome(r) + " at " + QString::number(i),
                 outcomes[i] + " at " + QString::number(i));
        if (r && faults.first().startsWith("garbage")) {
            // Junk with stray start-and-header pairs came first.
            QVERIFY(r->raw.indexOf(Hex("02 F3")) > 0);
            QVERIFY(r->raw.left(r->raw.indexOf(Hex("02 F3"))).contains(Hex("02 41")));
        }
    }
    QCOMPARE(sim.Transcript(true).filter(QRegularExpression("^# \\d+ fault ")).size(), fired);
}

void VxsimTest::delayedReplyKeepsOrder()
{
    Simulator sim;
    QVERIFY(sim.Start({"--type", "0x82", "--fault", "delay:600@cmd=0x10"}));
    Client c(sim.Path());
    QVERIFY(c.Send(EncodeFrame(0x10, {})));
    QCOMPARE(Outcome(c.ReadReply(150)), QString("none")); // not yet
    // A request sent meanwhile waits its turn.
    QVERIFY(c.Send(EncodeFrame(0x30, {})));
    QCOMPARE(Outcome(c.ReadReply(10000)), QString("ok:821701"));
    QCOMPARE(Outcome(c.ReadReply(10000)), QString("refused"));
}

void VxsimTest::badOptions_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("unknown option") << QStringList{"--bogus"};
    QTest::newRow("missing value") << QStringList{"--sw"};
    QTest::newRow("type") << QStringList{"--type", "0x99"};
    QTest::newRow("version above a byte") << QStringList{"--sw", "300"};
    QTest::newRow("odd hex") << QStringList{"--id-bytes", "820"};
    QTest::newRow("fault kind") << QStringList{"--fault", "explode@cmd=0x10"};
    QTest::newRow("fault target") << QStringList{"--fault", "refuse@everything"};
    QTest::newRow("command code low bits") << QStringList{"--fault", "refuse@cmd=0x11"};
    QTest::newRow("delay without time") << QStringList{"--fault", "delay@cmd=0x10"};
    QTest::newRow("frame 0") << QStringList{"--fault", "silent@frame=0"};
    QTest::newRow("times 0") << QStringList{"--fault", "silent@frame=1,times=0"};
    QTest::newRow("empty state, inline") << QStringList{"--state="};
    QTest::newRow("empty state") << QStringList{"--state", ""};
    QTest::newRow("empty link") << QStringList{"--link="};
    QTest::newRow("empty transcript") << QStringList{"--transcript="};
    QTest::newRow("link in a folder that does not exist")
        << QStringList{"--link", "/nonexistent-vxsim-folder/ttyVX0"};
}

void VxsimTest::badOptions()
{
    QFETCH(QStringList, args);
    QProcess p;
    p.start(QStringLiteral(VXSIM_PATH), args);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 2);
    QVERIFY(p.readAllStandardOutput().isEmpty()); // no terminal announced
    QVERIFY(!p.readAllStandardError().isEmpty());
}

void VxsimTest::vanishAndReturn()
{
    Simulator sim;
    QVERIFY(sim.Start({"--type", "0x82", "--fault", "vanish:300@frame=2"}));
    QCOMPARE(QFileInfo(sim.LinkPath()).symLinkTarget(), sim.Path());
    {
        Client c(sim.LinkPath());
        QCOMPARE(Outcome(c.Transact(0x10, {})), QString("ok:821701"));
        QCOMPARE(Outcome(c.Transact(0x10, {}, 300)), QString("none"));
        QVERIFY(c.HungUp(5000)); // the terminal itself went away
    }
    const QString second = sim.NextPath(10000);
    QVERIFY(!second.isEmpty());
    QCOMPARE(QFileInfo(sim.LinkPath()).symLinkTarget(), second);
    {
        Client c(sim.LinkPath());
        QCOMPARE(Outcome(c.Transact(0x10, {})), QString("ok:821701"));
        // Vanishing on request from the control input.
        sim.Control("vanish 200");
        QVERIFY(c.HungUp(5000));
    }
    const QString third = sim.NextPath(10000);
    QVERIFY(!third.isEmpty());
    QCOMPARE(QFileInfo(sim.LinkPath()).symLinkTarget(), third);
    Client c(sim.LinkPath());
    QCOMPARE(Outcome(c.Transact(0x10, {})), QString("ok:821701"));

    const QStringList events = sim.Transcript(true).filter(QRegularExpression("vanish|return"));
    QCOMPARE(events.size(), 6); // fault, vanish, return; control, vanish, return
    QVERIFY(events.last().endsWith("return " + third));
}

void VxsimTest::runtimeControl()
{
    Simulator sim;
    QVERIFY(sim.Start({"--type", "0x78", "--sw", "23", "--hw", "3"}));
    Client c(sim.Path());
    QCOMPARE(Outcome(c.Transact(0x10, {})), QString("ok:78170003"));

    sim.Control("status 2");
    QCOMPARE(Outcome(c.Transact(0x10, {})), QString("ok:78170203"));
    sim.Control("silent on");
    QCOMPARE(Outcome(c.Transact(0x10, {}, 400)), QString("none"));
    sim.Control("silent off");
    QCOMPARE(Outcome(c.Transact(0x10, {})), QString("ok:78170203"));
    sim.Control("refuse@cmd=0x10");
    sim.Control("this is not a control");
    QCOMPARE(Outcome(c.Transact(0x10, {})), QString("refused"));
    sim.Control("silent on");
    sim.Control("clear"); // faults and silence both
    QCOMPARE(Outcome(c.Transact(0x10, {})), QString("ok:78170203"));
    QVERIFY(!sim.Transcript(true).filter("control error").isEmpty());

    // The end of the control input does not end the device.
    sim.CloseInput();
    QTest::qWait(200);
    QVERIFY(sim.Running());
    QCOMPARE(Outcome(c.Transact(0x10, {})), QString("ok:78170203"));
}

void VxsimTest::transcript_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("numbered file read, bad check, refusal, garbage")
        << QStringList{"--type", "0x78", "--sw", "0x17", "--hw", "1", "--fault", "garbage@frame=6"}
        << QList<QByteArray>{Hex("021010"),     Hex("02C3014E02028E"), Hex("02C3030001C1"),
                             Hex("02C10202C3"), Hex("021011"),         Hex("023030")}
        << QStringList{"> 02 10 10 | 0x10 identify",
                       "< 02 F4 04 78 17 00 01 9E | 0xF0 ok len=4",
                       "> 02 C3 01 4E 02 02 8E | 0xC0 open-read 590",
                       "< 02 F0 F0 | 0xF0 ok len=0",
                       "> 02 C3 03 00 01 C1 | 0xC0 read 256",
                       "< * | 0xF0 ok len=76",
                       "> 02 C1 02 02 C3 | 0xC0 close",
                       "< 02 F0 F0 | 0xF0 ok len=0",
                       "> 02 10 11 | BADCHECK",
                       "> 02 30 30 | 0x30 unknown len=0",
                       "< A5 5A 02 41 13 37 02 70 00 FF 0D 0A | garbage",
                       "< 02 E0 E0 | 0xE0 refused"};

    QTest::newRow("make-default sequence of a 0x82 device")
        << QStringList{"--type", "0x82", "--fault", "badcheck@cmd=0xA0/02"}
        << QList<QByteArray>{EncodeFrame(0x80, Text("sync")),
                             EncodeFrame(0xA0, '\0' + Text("/mnt/logo.dg1")),
                             EncodeFrame(0xA0, Hex("04 01 02 03")),
                             EncodeFrame(0xA0, Hex("02")),
                             EncodeFrame(0xC0, Hex("00")),
                             EncodeFrame(0xC0, Block(2048, "ab")),
                             EncodeFrame(0x20, {})}
        << QStringList{"> 02 84 05 73 79 6E 63 00 86 | 0x80 \"sync\"",
                       "< 02 F0 F0 | 0xF0 ok len=0",
                       "> * | 0xA0 create /mnt/logo.dg1",
                       "< 02 F0 F0 | 0xF0 ok len=0",
                       "> 02 A4 04 04 01 02 02 03 A4 | 0xA0 append 3",
                       "< 02 F0 F0 | 0xF0 ok len=0",
                       "> 02 A1 02 02 A3 | 0xA0 close",
                       "< 02 F0 0F | 0xF0 ok len=0 badcheck",
                       "> 02 C1 00 C1 | 0xC0 image-begin",
                       "< 02 F0 F0 | 0xF0 ok len=0",
                       "> * | 0xC0 image-block 2 at 2048",
                       "< 02 F0 F0 | 0xF0 ok len=0",
                       "> 02 20 20 | 0x20 restart",
                       "< 02 F0 F0 | 0xF0 ok len=0"};
}

void VxsimTest::transcript()
{
    QFETCH(QStringList, args);
    QFETCH(QList<QByteArray>, frames);
    QFETCH(QStringList, lines);

    Simulator sim;
    QVERIFY(sim.Start(args));
    Client c(sim.Path());
    for (const QByteArray &f : frames) {
        QVERIFY(c.Send(f));
        c.ReadReply(f == Hex("021011") ? 300 : 5000);
    }
    QTRY_COMPARE_WITH_TIMEOUT(sim.Transcript().size(), lines.size(), 5000);
    const QStringList got = sim.Transcript();
    for (int i = 0; i < lines.size(); ++i) {
        QString g = got[i];
        if (lines[i].contains(" * | "))
            g.replace(QRegularExpression("^([<>]) .* \\| "), "\\1 * | ");
        QCOMPARE(g, lines[i]);
    }
    // Every frame line starts with its milliseconds; events with "# ".
    QFile raw(sim.TranscriptPath());
    QVERIFY(raw.open(QIODevice::ReadOnly));
    for (const QByteArray &line : raw.readAll().split('\n')) {
        if (!line.isEmpty())
            QVERIFY2(QRegularExpression("^(\\d+ [<>] [0-9A-F]{2}( [0-9A-F]{2})* \\| .+|# \\d+ .+)$")
                         .match(QString::fromLatin1(line))
                         .hasMatch(),
                     line.constData());
    }
}

void VxsimTest::survivesAnyBytes()
{
    Simulator sim;
    QVERIFY(sim.Start({"--type", "0x82", "--sw", "23", "--hw", "1", "--restart-ms", "100"}));
    Client c(sim.Path());
    QRandomGenerator rng(20240611);
    QByteArray noise;
    for (int i = 0; i < 300000; ++i) {
        const quint32 roll = rng.bounded(100);
        if (roll < 3) {
            // A start byte with a header of any kind, long lengths included.
            noise.append('\x02');
            noise.append(char(rng.bounded(256)));
        } else {
            noise.append(char(rng.bounded(256)));
        }
    }
    QVERIFY(c.Send(noise));
    // A frame announcing the largest payload, cut off by a new start.
    QVERIFY(c.Send(Hex("02 5B FF FF") + QByteArray(1000, 'q')));
    c.ReadFor(500);
    QVERIFY(sim.Running());
    // Replies to frames hidden in the noise, or a restart among them, may
    // still be under way: ask until the answer is the identity.
    QString outcome;
    QElapsedTimer t;
    t.start();
    while (outcome != "ok:821701" && t.elapsed() < 20000)
        outcome = Outcome(c.Transact(0x10, {}, 500));
    QCOMPARE(outcome, QString("ok:821701"));
    QVERIFY(!sim.Transcript(true).filter("BADCHECK").isEmpty());
}

void VxsimTest::cleanExitOnSignal()
{
    // Without --state the device lives in a fresh folder of its own.
    QTemporaryDir dir;
    QProcess p;
    const QString link = dir.filePath("link");
    const QString transcript = dir.filePath("t.txt");
    p.start(QStringLiteral(VXSIM_PATH), {"--link", link, "--transcript", transcript});
    QVERIFY(p.waitForReadyRead(10000));
    QVERIFY(QFileInfo(link).isSymLink());
    QFile t(transcript);
    QVERIFY(t.open(QIODevice::ReadOnly));
    const QRegularExpressionMatch m =
        QRegularExpression(" state (\\S+)").match(QString::fromLatin1(t.readAll()));
    QVERIFY(m.hasMatch());
    const QString state = m.captured(1);
    QVERIFY(QFileInfo(state + "/fs/VX360HD/current11.cfg").isFile());

    p.terminate();
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
    QVERIFY(!QFileInfo::exists(state));
}

void VxsimTest::exitsWithParent()
{
    QTemporaryDir dir;
    QProcess shell;
    // The shell starts vxsim, prints its process id and ends soon after.
    shell.start("/bin/sh", {"-c",
                            "\"$0\" --exit-with-parent --state \"$1\" </dev/null >/dev/null "
                            "& echo $!; sleep 1",
                            QStringLiteral(VXSIM_PATH), dir.filePath("state")});
    QVERIFY(shell.waitForFinished(10000));
    const pid_t pid = pid_t(shell.readAllStandardOutput().trimmed().toInt());
    QVERIFY(pid > 0);
    auto alive = [pid]() {
        QFile stat(QString("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            return false;
        const QByteArray s = stat.readAll();
        const int close = s.lastIndexOf(')');
        return close > 0 && s.mid(close + 2, 1) != "Z";
    };
    QTRY_VERIFY_WITH_TIMEOUT(!alive(), 10000);
}

void VxsimTest::pacedOutputIsNotFaster()
{
    // 1000 reply bytes at 9600 bit/s, 10 bits a byte, take at least a second.
    Simulator sim;
    QVERIFY(sim.Start({"--baud", "9600", "--id-bytes", QString(2 * 994, 'A')}));
    Client c(sim.Path());
    QElapsedTimer t;
    t.start();
    const auto r = c.Transact(0x10, {}, 20000);
    QVERIFY(r && r->checkOk);
    QCOMPARE(r->payload.size(), 994);
    QVERIFY2(t.elapsed() >= 950, qPrintable(QString::number(t.elapsed())));
}

void VxsimTest::pacedInputIsNotFaster()
{
    // A 1000-byte request at 9600 bit/s takes at least a second to come in;
    // with --pace-input the answer waits for it.
    Simulator sim;
    QVERIFY(sim.Start({"--type", "0x78", "--baud", "9600", "--pace-input"}));
    Client c(sim.Path());
    QVERIFY(c.Transact(0xC0, Hex("00BD02"))->code == 0xF0); // open-write 701
    QElapsedTimer t;
    t.start();
    const auto r = c.Transact(0xC0, QByteArray(1, '\x04') + QByteArray(995, 'A'), 20000);
    QVERIFY(r && r->checkOk);
    QCOMPARE(r->code, quint8(0xF0));
    QVERIFY2(t.elapsed() >= 950, qPrintable(QString::number(t.elapsed())));
}

QTEST_GUILESS_MAIN(VxsimTest)
#include "tst_vxsim.moc"
