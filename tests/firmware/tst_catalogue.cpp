// The firmware catalogue: which package is chosen for a 0x82 device, how a
// component list is read, and which components of a 0x78 device are marked
// for writing from the start of their device files.
#include "FirmwareTestSupport.h"
#include "app/AppState.h"
#include "firmware/FirmwareCatalogue.h"
#include "firmware/Md5.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kDevice = QStringLiteral("VX360SDH1");

// A package file name with "{md5}" (the content's digest), "{lower}" (the
// same in lowercase) or "{bad}" (a wrong digest) filled in.
QString PackageName(const QString &pattern, const QByteArray &content)
{
    QString name = pattern;
    name.replace(QStringLiteral("{md5}"), fwtest::Md5Of(content));
    name.replace(QStringLiteral("{lower}"), fwtest::Md5Of(content).toLower());
    name.replace(QStringLiteral("{bad}"), QString(32, u'0'));
    return name;
}

QByteArray Content(const QString &pattern)
{
    return "image of " + pattern.toLatin1();
}

ComponentEntry Entry(qint32 number, qint32 idOffset, int idLength, qint32 idValue,
                     qint32 versionOffset, int release, bool length, const QString &name,
                     const QString &file, const QString &digest)
{
    ComponentEntry e;
    e.fileNumber = number;
    e.identityOffset = idOffset;
    e.identityLength = quint8(idLength);
    e.identityValue = idValue;
    e.versionOffset = versionOffset;
    e.release = quint8(release);
    e.lengthPrefix = length ? 1 : 0;
    e.name = name;
    e.file = file;
    e.digest = digest;
    return e;
}

} // namespace

Q_DECLARE_METATYPE(ComponentEntry)

class CatalogueTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void hardwareFolder();
    void packageSelection_data();
    void packageSelection();
    void packageTooLargeIsRefused();
    void parseLine_data();
    void parseLine();
    void listReading_data();
    void listReading();
    void componentMarking_data();
    void componentMarking();

private:
    QTemporaryDir *m_dir = nullptr;
};

void CatalogueTest::init()
{
    QCoreApplication::setApplicationName(QStringLiteral("ZEPHALINK"));
    m_dir = new QTemporaryDir;
    g_firmwareFolder = m_dir->path() + QStringLiteral("/firmware/");
    QDir().mkpath(g_firmwareFolder);
    g_hardwareVersion = 1;
    g_relaxDigestChecks = 0;
}

void CatalogueTest::cleanup()
{
    g_relaxDigestChecks = 0;
    g_firmwareFolder.clear();
    delete m_dir;
    m_dir = nullptr;
}

void CatalogueTest::hardwareFolder()
{
    g_hardwareVersion = 12;
    QCOMPARE(FirmwareFolderForHardware(), g_firmwareFolder + QStringLiteral("H12/"));
    g_hardwareVersion = 0;
    QCOMPARE(FirmwareFolderForHardware(), g_firmwareFolder + QStringLiteral("H0/"));
}

void CatalogueTest::packageSelection_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<int>("release");
    QTest::addColumn<QString>("chosen"); // pattern of the package expected to be loaded
    QTest::addColumn<bool>("md5Message");

    const QString p12 = QStringLiteral("VX360SDH1_12_{md5}.bin");
    const QString p13 = QStringLiteral("VX360SDH1_13_{md5}.bin");
    QTest::newRow("no package") << QStringList{} << 0 << QString() << false;
    QTest::newRow("13 over 12") << QStringList{p12, p13} << 13 << p13 << false;
    QTest::newRow("13 over 12, listed the other way")
        << QStringList{p13, p12} << 13 << p13 << false;
    QTest::newRow("other letter case ignored")
        << QStringList{p12, QStringLiteral("vx360sdh1_14_{md5}.bin")} << 12 << p12 << false;
    QTest::newRow("other hardware version ignored")
        << QStringList{p12, QStringLiteral("VX360SDH2_15_{md5}.bin"),
                       QStringLiteral("VX360SDH11_16_{md5}.bin")}
        << 12 << p12 << false;
    QTest::newRow("no underscore ignored")
        << QStringList{QStringLiteral("VX360SDH1-17-{md5}.bin")} << 0 << QString() << false;
    QTest::newRow("upper-case extension found")
        << QStringList{QStringLiteral("VX360SDH1_13_{md5}.BIN")} << 13
        << QStringLiteral("VX360SDH1_13_{md5}.BIN") << false;
    QTest::newRow("other extension ignored")
        << QStringList{QStringLiteral("VX360SDH1_13_{md5}.img")} << 0 << QString() << false;
    QTest::newRow("lowercase digest matches")
        << QStringList{QStringLiteral("VX360SDH1_13_{lower}.bin")} << 13
        << QStringLiteral("VX360SDH1_13_{lower}.bin") << false;
    QTest::newRow("free text before the digest")
        << QStringList{QStringLiteral("VX360SDH1_13_beta_{md5}.bin")} << 13
        << QStringLiteral("VX360SDH1_13_beta_{md5}.bin") << false;
    QTest::newRow("wrong digest: message, no package, older not tried")
        << QStringList{p12, QStringLiteral("VX360SDH1_13_{bad}.bin")} << 0 << QString() << true;
    QTest::newRow("release 99 accepted with a wrong digest")
        << QStringList{p12, QStringLiteral("VX360SDH1_99_{bad}.bin")} << 99
        << QStringLiteral("VX360SDH1_99_{bad}.bin") << false;
    QTest::newRow("release digits 00 is no package")
        << QStringList{QStringLiteral("VX360SDH1_00_{md5}.bin")} << 0 << QString() << false;
    QTest::newRow("one release digit then text")
        << QStringList{QStringLiteral("VX360SDH1_7x_{md5}.bin")} << 7
        << QStringLiteral("VX360SDH1_7x_{md5}.bin") << false;
}

void CatalogueTest::packageSelection()
{
    QFETCH(QStringList, files);
    QFETCH(int, release);
    QFETCH(QString, chosen);
    QFETCH(bool, md5Message);

    for (const QString &pattern : files)
        QVERIFY(fwtest::WriteFile(g_firmwareFolder + PackageName(pattern, Content(pattern)),
                                  Content(pattern)));

    fwtest::RecordingAlerts alerts;
    fwtest::RecordingStatus status;
    int r = -1;
    QByteArray image("stale");
    FindFirmwarePackage(kDevice, &r, &image);

    QCOMPARE(r, release);
    if (!chosen.isEmpty()) {
        QCOMPARE(image, Content(chosen));
        QCOMPARE(status.progress, QStringList{QStringLiteral("0/%1").arg(image.size())});
    }
    if (md5Message) {
        const QString bad = QStringLiteral("VX360SDH1_13_{bad}.bin");
        const QString actual = fwtest::Md5Of(Content(bad));
        const QStringList expected{QStringLiteral("ZEPHALINK: MD5 Error") + actual +
                                   QString(32, u'0')};
        QCOMPARE(alerts.warnings, expected);
        QCOMPARE(alerts.notices, expected); // the plain box, without a warning icon
    } else {
        QCOMPARE(alerts.warnings, QStringList());
    }
    QCOMPARE(alerts.beeps, QStringList());
}

void CatalogueTest::packageTooLargeIsRefused()
{
    // One byte more than 24-bit offsets can reach; sparse, so it costs nothing.
    QFile big(g_firmwareFolder + QStringLiteral("VX360SDH1_14_%1.bin").arg(QString(32, u'A')));
    QVERIFY(big.open(QIODevice::WriteOnly));
    QVERIFY(big.resize(kMaxImageSize + 1));
    big.close();
    QVERIFY(fwtest::WriteFile(
        g_firmwareFolder + PackageName(QStringLiteral("VX360SDH1_13_{md5}.bin"), "ok"), "ok"));

    fwtest::RecordingAlerts alerts;
    int r = -1;
    QByteArray image;
    FindFirmwarePackage(kDevice, &r, &image);
    QCOMPARE(r, 0);
    QVERIFY(image.isEmpty());
    QCOMPARE(alerts.warnings.size(), 1);
    QCOMPARE(alerts.notices, QStringList());
    QVERIFY2(alerts.warnings.first().contains(QStringLiteral("16777217 bytes")),
             qPrintable(alerts.warnings.first()));

    // At exactly 16 MiB the package is still usable.
    QVERIFY(QFile::remove(big.fileName()));
    QByteArray limit(int(kMaxImageSize), 'x');
    QVERIFY(fwtest::WriteFile(
        g_firmwareFolder + PackageName(QStringLiteral("VX360SDH1_14_{md5}.bin"), limit), limit));
    FindFirmwarePackage(kDevice, &r, &image);
    QCOMPARE(r, 14);
    QCOMPARE(image.size(), kMaxImageSize);
}

void CatalogueTest::parseLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<ComponentEntry>("entry");

    QTest::newRow("the 7 0 0 0 4 12 L example")
        << "7 0 0 0 4 12 L FPGA fpga.bin 0123456789abcdef0123456789ABCDEF"
        << Entry(7, 0, 0, 0, 4, 12, true, "FPGA", "fpga.bin", "0123456789ABCDEF0123456789ABCDEF");
    QTest::newRow("several blanks count as one, leading blanks skipped")
        << "   700  0 2   22104 2 12 - VXMAIN vxmain.bin  D"
        << Entry(700, 0, 2, 22104, 2, 12, false, "VXMAIN", "vxmain.bin", "D");
    QTest::newRow("a tab is not a separator")
        << "1 2 3 4 5 6 - a\tb f d" << Entry(1, 2, 3, 4, 5, 6, false, "a\tb", "f", "D");
    QTest::newRow("L anywhere in the options; lowercase l is not it")
        << "1 0 0 0 0 1 xLx n f d" << Entry(1, 0, 0, 0, 0, 1, true, "n", "f", "D");
    QTest::newRow("lowercase l") << "1 0 0 0 0 1 l n f d"
                                 << Entry(1, 0, 0, 0, 0, 1, false, "n", "f", "D");
    QTest::newRow("missing fields are empty")
        << "5 1" << Entry(5, 1, 0, 0, 0, 0, false, "", "", "");
    QTest::newRow("a line of blanks gives an empty entry")
        << "    " << Entry(0, 0, 0, 0, 0, 0, false, "", "", "");
    QTest::newRow("fields after the tenth ignored")
        << "1 2 3 4 5 6 L n f d extra more" << Entry(1, 2, 3, 4, 5, 6, true, "n", "f", "D");
    QTest::newRow("non-numeric and signed numbers")
        << "x -3 +2 12ab 4 300 - n f d" << Entry(0, -3, 2, 12, 4, 300 & 0xFF, false, "n", "f", "D");
}

void CatalogueTest::parseLine()
{
    QFETCH(QString, line);
    QFETCH(ComponentEntry, entry);
    const ComponentEntry e = ParseComponentLine(line);
    QCOMPARE(e.fileNumber, entry.fileNumber);
    QCOMPARE(e.identityOffset, entry.identityOffset);
    QCOMPARE(e.identityLength, entry.identityLength);
    QCOMPARE(e.identityValue, entry.identityValue);
    QCOMPARE(e.versionOffset, entry.versionOffset);
    QCOMPARE(e.release, entry.release);
    QCOMPARE(e.lengthPrefix, entry.lengthPrefix);
    QCOMPARE(e.name, entry.name);
    QCOMPARE(e.file, entry.file);
    QCOMPARE(e.digest, entry.digest);
    QCOMPARE(e.needsWrite, quint8(0));
}

// How much of the list is taken, and the "Configuration Error" cases. The
// device holds current copies of every component, so nothing is marked.
void CatalogueTest::listReading_data()
{
    QTest::addColumn<QStringList>("lines");  // "{A}" stands for the digest of a.bin
    QTest::addColumn<QString>("listDigest"); // "{cfg}" the right one, "" no extension.bin
    QTest::addColumn<bool>("relax");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("opened"); // device files opened for reading
    QTest::addColumn<bool>("configError");
    QTest::addColumn<int>("refusedLines"); // flagged: never read, never written

    const QString a = QStringLiteral("700 0 1 65 1 12 - A a.bin {A}");
    const QString b = QStringLiteral("701 0 1 65 1 12 - B b.bin {B}");
    QTest::newRow("two good lines")
        << QStringList{a, b} << "{cfg}" << false << 2 << QStringList{"700", "701"} << false << 0;
    QTest::newRow("CR LF line ends") << QStringList{a + "\r", b + "\r"} << "{cfg}" << false << 2
                                     << QStringList{"700", "701"} << false << 0;
    QTest::newRow("lowercase digest in extension.bin")
        << QStringList{a} << "{cfg-lower}" << false << 1 << QStringList{"700"} << false << 0;
    QTest::newRow("empty second line ends the list")
        << QStringList{a, "", b} << "{cfg}" << false << 1 << QStringList{"700"} << false << 0;
    QTest::newRow("seven lines give five")
        << QStringList{a, a, a, a, a, b, b} << "{cfg}" << false << 5
        << QStringList{"700", "700", "700", "700", "700"} << false << 0;
    QTest::newRow("a line of blanks is an entry, and no file")
        << QStringList{a, "   "} << "{cfg}" << false << 2 << QStringList{"700", "0"} << false << 0;
    // {A} becomes 32 digits: the first line is then 4096 characters long.
    QTest::newRow("a line of 4096 characters is taken whole")
        << QStringList{QString(4096 - (a.size() - 3 + 32), u' ') + a, b} << "{cfg}" << false << 2
        << QStringList{"700", "701"} << false << 0;
    QTest::newRow("an overlong line is cut at 4096 characters, the next one read")
        << QStringList{QString(4096, u' ') + a, b} << "{cfg}" << false << 2
        << QStringList{"0", "701"} << false << 0;
    QTest::newRow("no extension.bin: list not read")
        << QStringList{a} << "" << false << 0 << QStringList{} << true << 0;
    QTest::newRow("wrong list digest: list not read")
        << QStringList{a} << "{bad}" << false << 0 << QStringList{} << true << 0;
    QTest::newRow("wrong list digest, relaxed")
        << QStringList{a} << "{bad}" << true << 1 << QStringList{"700"} << false << 0;
    QTest::newRow("one wrong component digest: error, the others read")
        << QStringList{QStringLiteral("700 0 1 65 1 12 - A a.bin %1").arg(QString(32, u'0')), b}
        << "{cfg}" << false << 2 << QStringList{"701"} << true << 0;
    QTest::newRow("wrong component digest, relaxed")
        << QStringList{QStringLiteral("700 0 1 65 1 12 - A a.bin %1").arg(QString(32, u'0')), b}
        << "{cfg}" << true << 2 << QStringList{"700", "701"} << false << 0;
    QTest::newRow("missing component file")
        << QStringList{QStringLiteral("702 0 1 65 1 12 - C c.bin %1").arg(QString(32, u'0')), a}
        << "{cfg}" << false << 2 << QStringList{"700"} << true << 0;
    QTest::newRow("a name leaving the folder is refused, even relaxed")
        << QStringList{QStringLiteral("703 0 1 65 1 12 - X ../a.bin {A}"), a} << "{cfg}" << true
        << 2 << QStringList{"700"} << true << 1;
    QTest::newRow("offsets beyond the 512-byte header are refused")
        << QStringList{QStringLiteral("700 0 1 65 512 12 - A a.bin {A}"),
                       QStringLiteral("700 510 2 65 1 12 - A a.bin {A}"), b}
        << "{cfg}" << false << 3 << QStringList{"701"} << true << 2;
    QTest::newRow("negative offsets are refused")
        << QStringList{QStringLiteral("700 -1 1 65 1 12 - A a.bin {A}"),
                       QStringLiteral("700 0 1 65 -2 12 - A a.bin {A}")}
        << "{cfg}" << false << 2 << QStringList{} << true << 2;
}

void CatalogueTest::listReading()
{
    QFETCH(QStringList, lines);
    QFETCH(QString, listDigest);
    QFETCH(bool, relax);
    QFETCH(int, count);
    QFETCH(QStringList, opened);
    QFETCH(bool, configError);
    QFETCH(int, refusedLines);

    const QString folder = FirmwareFolderForHardware();
    const QByteArray aBytes = "A\x0C component a";
    const QByteArray bBytes = "A\x0C component b";
    QVERIFY(fwtest::WriteFile(folder + "a.bin", aBytes));
    QVERIFY(fwtest::WriteFile(folder + "b.bin", bBytes));
    QString text = lines.join(u'\n') + u'\n';
    text.replace(QStringLiteral("{A}"), fwtest::Md5Of(aBytes).toLower());
    text.replace(QStringLiteral("{B}"), fwtest::Md5Of(bBytes));
    QVERIFY(fwtest::WriteFile(folder + "firmware.cfg", text.toLatin1()));
    const QString cfgDigest = fwtest::Md5Of(text.toLatin1());
    if (!listDigest.isEmpty()) {
        QString d = listDigest;
        d.replace(QStringLiteral("{cfg-lower}"), cfgDigest.toLower());
        d.replace(QStringLiteral("{cfg}"), cfgDigest);
        d.replace(QStringLiteral("{bad}"), QString(32, u'F'));
        QVERIFY(fwtest::WriteFile(folder + "extension.bin", (d + "\nnot read\n").toLatin1()));
    }
    g_relaxDigestChecks = relax ? 1 : 0;

    // The device holds current copies of both components.
    fwtest::Device device;
    QVERIFY(device.Start(
        {"--type", "0x78"},
        {{"files/700.bin", aBytes}, {"files/701.bin", bBytes}, {"files/0.bin", "A\x0C"}}));
    fwtest::RecordingStatus status;
    fwtest::RecordingAlerts alerts;
    ComponentList list;
    const bool ok =
        LoadComponentList(device.xmit, folder + "firmware.cfg", folder + "extension.bin", list);

    QCOMPARE(ok, !configError);
    QCOMPARE(list.count, count);
    int refused = 0;
    for (int i = 0; i < list.count; ++i) {
        QCOMPARE(list.entries[i].needsWrite, quint8(0));
        refused += list.entries[i].refused;
    }
    QCOMPARE(refused, refusedLines);
    QStringList openedNow;
    for (const QString &r : device.Requests())
        if (r.startsWith(QLatin1String("0xC0 open-read ")))
            openedNow << r.section(u' ', 2);
    QCOMPARE(openedNow, opened);
    if (configError) {
        QCOMPARE(alerts.beeps, QStringList{"880/500"});
        QCOMPARE(status.shows.size(), 1);
        QCOMPARE(status.shows[0].text, QStringLiteral("Configuration Error"));
        QCOMPARE(status.shows[0].durationMs, 3000);
        QVERIFY(status.shows[0].wait);
    } else {
        QCOMPARE(alerts.beeps, QStringList());
        QCOMPARE(status.shows.size(), 0);
    }
}

// One component against the start of its device file.
void CatalogueTest::componentMarking_data()
{
    QTest::addColumn<QString>("fields");        // the first seven fields of the line
    QTest::addColumn<QByteArray>("deviceFile"); // empty: the device has no such file
    QTest::addColumn<bool>("marked");
    QTest::addColumn<QStringList>("requests");

    const QStringList read3{"0xC0 open-read 700", "0xC0 read 3", "0xC0 close"};
    QTest::newRow("identity 50 49 matches, version at 1 reads 3 bytes")
        << "700 0 2 20553 1 12 -" << QByteArray("\x50\x49", 2) << false
        << QStringList{"0xC0 open-read 700", "0xC0 read 3", "0xC0 close"};
    QTest::newRow("same release") << "700 0 2 20553 2 12 -" << QByteArray("\x50\x49\x0C", 3)
                                  << false << read3;
    QTest::newRow("older release")
        << "700 0 2 20553 2 12 -" << QByteArray("\x50\x49\x0B", 3) << true << read3;
    QTest::newRow("higher device release not marked")
        << "700 0 2 20553 2 12 -" << QByteArray("\x50\x49\x0D\x00", 4) << false << read3;
    QTest::newRow("foreign identity")
        << "700 0 2 20553 1 12 -" << QByteArray("\x50\x48\x0C", 3) << true << read3;
    QTest::newRow("release byte compared unsigned")
        << "700 0 0 0 0 200 -" << QByteArray("\xC8", 1) << false
        << QStringList{"0xC0 open-read 700", "0xC0 read 1", "0xC0 close"};
    QTest::newRow("the 7 0 0 0 4 12 L example reads 5 bytes")
        << "7 0 0 0 4 12 L" << QByteArray("\x05\x00\x00\x00\x0C", 5) << false
        << QStringList{"0xC0 open-read 7", "0xC0 read 5", "0xC0 close"};
    QTest::newRow("identity longer than four bytes keeps the last four")
        << "700 0 6 16909060 6 12 -" << QByteArray("\xFF\xFF\x01\x02\x03\x04\x0C", 7) << false
        << QStringList{"0xC0 open-read 700", "0xC0 read 7", "0xC0 close"};
    QByteArray full(512, '\x01');
    full[511] = 12;
    QTest::newRow("release at byte 511 fills the 512-byte header")
        << "700 0 0 0 511 12 -" << full << false
        << QStringList{"0xC0 open-read 700", "0xC0 read 512", "0xC0 close"};
    QTest::newRow("device file missing: written")
        << "700 0 2 20553 1 12 -" << QByteArray() << true << read3;
    QTest::newRow("nothing to compare: a missing device file is left alone")
        << "700 0 0 0 3 0 -" << QByteArray() << false
        << QStringList{"0xC0 open-read 700", "0xC0 read 4", "0xC0 close"};
    QTest::newRow("release 0: identity alone decides on a short file")
        << "700 0 2 20553 4 0 -" << QByteArray("\x50\x49", 2) << false
        << QStringList{"0xC0 open-read 700", "0xC0 read 5", "0xC0 close"};
    QTest::newRow("device file shorter than the header: written")
        << "700 0 2 20553 4 12 -" << QByteArray("\x50\x49\x0C", 3) << true
        << QStringList{"0xC0 open-read 700", "0xC0 read 5", "0xC0 close"};
}

void CatalogueTest::componentMarking()
{
    QFETCH(QString, fields);
    QFETCH(QByteArray, deviceFile);
    QFETCH(bool, marked);
    QFETCH(QStringList, requests);

    const QString folder = FirmwareFolderForHardware();
    const QByteArray component = "component";
    QVERIFY(fwtest::WriteFile(folder + "c.bin", component));
    const QByteArray list =
        QStringLiteral("%1 C c.bin %2\n").arg(fields, fwtest::Md5Of(component)).toLatin1();
    QVERIFY(fwtest::WriteFile(folder + "firmware.cfg", list));
    QVERIFY(fwtest::WriteFile(folder + "extension.bin", fwtest::Md5Of(list).toLatin1()));

    QMap<QString, QByteArray> state;
    if (!deviceFile.isEmpty())
        state.insert(QStringLiteral("files/%1.bin").arg(ParseComponentLine(fields).fileNumber),
                     deviceFile);
    fwtest::Device device;
    QVERIFY(device.Start({"--type", "0x78"}, state));
    fwtest::RecordingStatus status;
    ComponentList cl;
    QVERIFY(LoadComponentList(device.xmit, folder + "firmware.cfg", folder + "extension.bin", cl));
    QCOMPARE(cl.count, 1);
    QCOMPARE(cl.entries[0].needsWrite, quint8(marked ? 1 : 0));
    QCOMPARE(device.Requests(), requests);
}

QTEST_GUILESS_MAIN(CatalogueTest)
#include "tst_catalogue.moc"
