// File names, the .iqc codec, reading configuration files with their
// refusals, and saving that keeps the old file when the write fails.
#include "CalibTestFiles.h"
#include "app/AppState.h"
#include "calib/CalibFiles.h"
#include "link/CXmit.h"

#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {

IqCalibrationTable TableOf(std::initializer_list<IqCalibrationRow> rows)
{
    IqCalibrationTable t;
    for (const IqCalibrationRow &r : rows)
        t.rows[size_t(t.rowCount++)] = r;
    return t;
}

// A compact record header: magic, header byte, total length.
QByteArray CompactRecord(int length)
{
    QByteArray r = Hex("50465A4A00");
    r.append(char(length & 0xFF)).append(char(length >> 8));
    r.append(QByteArray(length - r.size(), 'x'));
    return r;
}

// Limits the size of files this process writes; writes beyond fail with
// EFBIG instead of ending the process.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{bytes, m_old.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};

} // namespace

class CalibFilesTest : public QObject
{
    Q_OBJECT

private slots:
    void fileNames_data();
    void fileNames();
    void filtersAndFolder();

    void iqRowBytes_data();
    void iqRowBytes();
    void iqFileLengths_data();
    void iqFileLengths();
    void iqFileRoundTrip();
    void iqFileRefusals_data();
    void iqFileRefusals();
    void leadingInt_data();
    void leadingInt();

    void readConfig_data();
    void readConfig();
    void readConfigPadsWithZeros();

    void saveReplacesTheWholeFile();
    void failedSaveKeepsTheOldFile();
    void saveIntoAMissingFolderFails();
};

void CalibFilesTest::fileNames_data()
{
    QTest::addColumn<QString>("family"); // "0x78", "0x82" or "iqc"
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("used");

    QTest::newRow("0x78 bare") << "0x78"
                               << "/d/abc"
                               << "/d/abc.VXC";
    QTest::newRow("0x78 small") << "0x78"
                                << "/d/abc.vxc"
                                << "/d/abc.vxc";
    QTest::newRow("0x78 capitals") << "0x78"
                                   << "/d/ABC.VXC"
                                   << "/d/ABC.VXC";
    QTest::newRow("0x78 mixed") << "0x78"
                                << "/d/abc.vXc"
                                << "/d/abc.vXc";
    QTest::newRow("0x78 other ext") << "0x78"
                                    << "/d/abc.txt"
                                    << "/d/abc.txt.VXC";
    QTest::newRow("0x78 other family") << "0x78"
                                       << "/d/abc.vx360sd"
                                       << "/d/abc.vx360sd.VXC";
    QTest::newRow("0x82 bare") << "0x82"
                               << "/d/abc"
                               << "/d/abc.VX360SD";
    QTest::newRow("0x82 small") << "0x82"
                                << "/d/abc.vx360sd"
                                << "/d/abc.vx360sd";
    QTest::newRow("0x82 mixed") << "0x82"
                                << "/d/abc.Vx360Sd"
                                << "/d/abc.Vx360Sd";
    QTest::newRow("0x82 other family") << "0x82"
                                       << "/d/abc.vxc"
                                       << "/d/abc.vxc.VX360SD";
    QTest::newRow("iqc bare") << "iqc"
                              << "/d/cal"
                              << "/d/cal.iqc";
    QTest::newRow("iqc capitals") << "iqc"
                                  << "/d/cal.IQC"
                                  << "/d/cal.IQC";
    QTest::newRow("iqc other ext") << "iqc"
                                   << "/d/cal.txt"
                                   << "/d/cal.txt.iqc";
}

void CalibFilesTest::fileNames()
{
    QFETCH(QString, family);
    QFETCH(QString, chosen);
    QFETCH(QString, used);
    if (family == "iqc")
        QCOMPARE(IqFilePath(chosen), used);
    else
        QCOMPARE(ConfigFilePath(chosen, family == "0x78" ? kDeviceType78 : kDeviceType82), used);
}

void CalibFilesTest::filtersAndFolder()
{
    QCOMPARE(ConfigFileFilter(kDeviceType78), QString("Config. (*.vxc)"));
    QCOMPARE(ConfigFileFilter(kDeviceType82), QString("Config. (*.vx360sd)"));
    QCOMPARE(kIqFileFilter, QString("IQ-Table. (*.iqc)"));
    const QString saved = g_workingFolder;
    g_workingFolder = "/work/here";
    QCOMPARE(ConfigFolder(), QString("/work/here/config/"));
    g_workingFolder = saved;
}

void CalibFilesTest::iqRowBytes_data()
{
    QTest::addColumn<int>("mhz");
    QTest::addColumn<int>("dAmp");
    QTest::addColumn<int>("dPhi");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("backAmp"); // what decoding gives back
    QTest::addColumn<int>("backPhi");

    QTest::newRow("474/-35/120") << 474 << -35 << 120 << Hex("DA01ED268827") << -35 << 120;
    QTest::newRow("dAmp 25") << 474 << 25 << 0 << Hex("DA0129271027") << 25 << 0;
    QTest::newRow("lowest correction")
        << 0 << -10000 << -10000 << Hex("000000000000") << -10000 << -10000;
    QTest::newRow("highest correction")
        << 65535 << 55535 << 55535 << Hex("FFFFFFFFFFFF") << 55535 << 55535;
    // Outside the 16-bit range only the low bits travel.
    QTest::newRow("below range wraps") << 474 << -10001 << 0 << Hex("DA01FFFF1027") << 55535 << 0;
}

void CalibFilesTest::iqRowBytes()
{
    QFETCH(int, mhz);
    QFETCH(int, dAmp);
    QFETCH(int, dPhi);
    QFETCH(QByteArray, bytes);
    QFETCH(int, backAmp);
    QFETCH(int, backPhi);
    quint8 out[6] = {};
    EncodeIqRow({mhz, dAmp, dPhi}, out);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(out), 6), bytes);
    const IqCalibrationRow back = DecodeIqRow(out);
    QCOMPARE(back.frequencyMHz, mhz & 0xFFFF);
    QCOMPARE(back.dAmp, backAmp);
    QCOMPARE(back.dPhi, backPhi);
}

void CalibFilesTest::iqFileLengths_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("fileBytes");
    QTest::addColumn<int>("imageBytes");
    QTest::newRow("empty") << 0 << 1 << 5;
    QTest::newRow("three") << 3 << 19 << 23;
    QTest::newRow("full") << 100 << 601 << 605;
}

void CalibFilesTest::iqFileLengths()
{
    QFETCH(int, rows);
    QFETCH(int, fileBytes);
    QFETCH(int, imageBytes);
    IqCalibrationTable t;
    t.rowCount = rows;
    const QByteArray file = EncodeIqFile(t);
    const QByteArray image = EncodeIqImage(t);
    QCOMPARE(int(file.size()), fileBytes);
    QCOMPARE(int(image.size()), imageBytes);
    QCOMPARE(quint8(file[0]), quint8(rows));
    QCOMPARE(image.left(5), Hex("50465A4A") + char(rows));
    QCOMPARE(image.mid(4), file);
}

void CalibFilesTest::iqFileRoundTrip()
{
    QTemporaryDir dir;
    const IqCalibrationTable t = TableOf({{474, -35, 120}, {594, 12, -8}, {858, 0, 0}});
    const QString path = dir.filePath("cal.iqc");
    QVERIFY(SaveFileSafely(path, EncodeIqFile(t)));
    QCOMPARE(ReadFile(path), Hex("03"
                                 "DA01ED268827"
                                 "52021C270827"
                                 "5A0310271027"));

    IqCalibrationTable back = TableOf({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {10, 11, 12}});
    QCOMPARE(ReadIqFile(path, back), IqFileRead::Ok);
    QCOMPARE(back.rowCount, 3);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(back.rows[size_t(i)], t.rows[size_t(i)]);
    // Slots beyond the new count keep what they held.
    QCOMPARE(back.rows[3], (IqCalibrationRow{10, 11, 12}));
}

void CalibFilesTest::iqFileRefusals_data()
{
    QTest::addColumn<QByteArray>("content"); // "<missing>": no file at all
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("rows"); // row count afterwards (2 before)

    const QByteArray row = Hex("DA01ED268827");
    QTest::newRow("missing file") << QByteArray("<missing>") << int(IqFileRead::CannotOpen) << 2;
    QTest::newRow("empty file") << QByteArray() << int(IqFileRead::Refused) << 2;
    QTest::newRow("count 0") << Hex("00") << int(IqFileRead::Ok) << 0;
    QTest::newRow("short of its count")
        << Hex("02") + row + row.left(5) << int(IqFileRead::Refused) << 2;
    QTest::newRow("count 101") << QByteArray(1, char(101)) + row.repeated(101)
                               << int(IqFileRead::Refused) << 2;
    QTest::newRow("count 100") << QByteArray(1, char(100)) + row.repeated(100)
                               << int(IqFileRead::Ok) << 100;
    QTest::newRow("longer than its count") << Hex("01") + row + row << int(IqFileRead::Ok) << 1;
}

void CalibFilesTest::iqFileRefusals()
{
    QFETCH(QByteArray, content);
    QFETCH(int, result);
    QFETCH(int, rows);
    QTemporaryDir dir;
    const QString path = dir.filePath("cal.iqc");
    if (content != "<missing>")
        QVERIFY(WriteFile(path, content));
    IqCalibrationTable t = TableOf({{100, 1, 2}, {200, 3, 4}});
    QCOMPARE(int(ReadIqFile(path, t)), result);
    QCOMPARE(t.rowCount, rows);
    if (result != int(IqFileRead::Ok))
        QCOMPARE(t.rows[0], (IqCalibrationRow{100, 1, 2}));
    else if (rows > 0)
        QCOMPARE(t.rows[size_t(rows - 1)], (IqCalibrationRow{474, -35, 120}));
}

void CalibFilesTest::leadingInt_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("plain") << "25" << 25;
    QTest::newRow("negative") << "-10000" << -10000;
    QTest::newRow("plus") << "+7" << 7;
    QTest::newRow("blanks first") << "  \t42" << 42;
    QTest::newRow("trailing junk") << "12abc" << 12;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("not a number") << "abc" << 0;
    QTest::newRow("sign only") << "-" << 0;
    QTest::newRow("too large saturates") << "99999999999" << 2147483647;
    QTest::newRow("too small saturates") << "-99999999999" << int(-2147483647 - 1);
}

void CalibFilesTest::leadingInt()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    QCOMPARE(ParseLeadingInt(text), value);
}

void CalibFilesTest::readConfig_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("status");

    using S = ConfigFileRead::Status;
    const QByteArray full(1200, 'f'); // a 0x82 record has no mark
    QTest::newRow("0x82 full record") << 0x82 << full << int(S::Ok);
    QTest::newRow("0x82 compact record") << 0x82 << CompactRecord(90) << int(S::CompactUnder82);
    QTest::newRow("0x82 magic, other length") << 0x82 << CompactRecord(90) + "tail" << int(S::Ok);
    QTest::newRow("0x82 empty") << 0x82 << QByteArray() << int(S::TooShort);
    QTest::newRow("0x82 one byte short") << 0x82 << QByteArray(79, 'f') << int(S::TooShort);
    QTest::newRow("0x82 shortest record") << 0x82 << QByteArray(80, 'f') << int(S::Ok);
    QTest::newRow("0x78 compact record") << 0x78 << CompactRecord(90) << int(S::Ok);
    QTest::newRow("0x78 no magic") << 0x78 << full << int(S::NoCompactMagic);
    QTest::newRow("0x78 empty") << 0x78 << QByteArray() << int(S::NoCompactMagic);
    QTest::newRow("4096 bytes") << 0x82 << QByteArray(4096, 'a') << int(S::Ok);
    QTest::newRow("4097 bytes") << 0x82 << QByteArray(4097, 'a') << int(S::TooLong);
    QTest::newRow("4097 bytes 0x78") << 0x78 << CompactRecord(4097) << int(S::TooLong);
    QTest::newRow("missing") << 0x78 << QByteArray("<missing>") << int(S::CannotOpen);
}

void CalibFilesTest::readConfig()
{
    QFETCH(int, type);
    QFETCH(QByteArray, content);
    QFETCH(int, status);
    QTemporaryDir dir;
    const QString path = dir.filePath("a.VXC");
    if (content != "<missing>")
        QVERIFY(WriteFile(path, content));
    const ConfigFileRead read = ReadConfigFile(path, quint8(type));
    QCOMPARE(int(read.status), status);
    using S = ConfigFileRead::Status;
    if (read.status == S::Ok || read.status == S::NoCompactMagic) {
        QCOMPARE(int(read.record.size()), kConfigRecordCapacity);
        QCOMPARE(read.record.left(content.size()), content);
    } else {
        QVERIFY(read.record.isEmpty());
    }
}

void CalibFilesTest::readConfigPadsWithZeros()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("short.vxc");
    // The buffer is cleared for each read: nothing of an earlier, longer
    // file shows behind a short one.
    QVERIFY(WriteFile(path, QByteArray(3000, 'z')));
    QCOMPARE(ReadConfigFile(path, kDeviceType82).record.count('z'), 3000);
    QVERIFY(WriteFile(path, CompactRecord(40)));
    const ConfigFileRead read = ReadConfigFile(path, kDeviceType78);
    QCOMPARE(read.record.mid(40), QByteArray(kConfigRecordCapacity - 40, '\0'));
}

void CalibFilesTest::saveReplacesTheWholeFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("a.VXC");
    QVERIFY(WriteFile(path, QByteArray(500, 'o')));
    QVERIFY(SaveFileSafely(path, "new"));
    QCOMPARE(ReadFile(path), QByteArray("new"));
    // No temporary file is left behind.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"a.VXC"});
}

void CalibFilesTest::failedSaveKeepsTheOldFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("a.VXC");
    const QByteArray old = CompactRecord(64);
    QVERIFY(WriteFile(path, old));
    {
        // The disk "fills up" half-way through the new content.
        FileSizeLimit limit(100);
        QVERIFY(!SaveFileSafely(path, QByteArray(300, 'n')));
        SafeFileWriter writer(path);
        QVERIFY(writer.Open());
        QVERIFY(!writer.Commit(QByteArray(300, 'n')));
    }
    QCOMPARE(ReadFile(path), old);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"a.VXC"});
}

void CalibFilesTest::saveIntoAMissingFolderFails()
{
    QTemporaryDir dir;
    SafeFileWriter writer(dir.filePath("no/such/folder/a.iqc"));
    QVERIFY(!writer.Open());
    QVERIFY(!writer.Commit("x"));
    QVERIFY(!QFileInfo::exists(dir.filePath("no")));
}

QTEST_GUILESS_MAIN(CalibFilesTest)
#include "tst_calibfiles.moc"
