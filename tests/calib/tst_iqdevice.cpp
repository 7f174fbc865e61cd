// The I/Q table against the simulator on a pseudo-terminal: which requests
// go out, in which order, and what the table holds afterwards.
#include "CalibTestFiles.h"
#include "app/AppState.h"
#include "app/SimulatorProcess.h"
#include "calib/IqCalibration.h"
#include "link/CXmit.h"

#include <QtTest>

namespace {

QByteArray Rows(int count)
{
    QByteArray out;
    for (int i = 0; i < count; ++i) {
        quint8 row[6];
        EncodeIqRow({100 + i, i, -i}, row);
        out.append(reinterpret_cast<char *>(row), 6);
    }
    return out;
}

// A simulated device with its transcript, reached through a link of our own.
struct Device
{
    SimulatorProcess process;
    QTemporaryDir folder;
    CXmit xmit;
    int seen = 0; // transcript requests before the step under test

    bool start(const QString &type, int hardware)
    {
        QString why;
        if (!process.Start(
                QStringLiteral(VXSIM_PATH), type, &why,
                {"--hw", QString::number(hardware), "--transcript", folder.filePath("t.txt")})) {
            qWarning() << why;
            return false;
        }
        xmit.SetPortPaths({process.LinkPath()});
        if (xmit.FindDevice() == 0)
            return false;
        seen = int(allRequests().size());
        return true;
    }
    QString file600() const { return process.StateFolder() + "/files/600.bin"; }
    bool setFile600(const QByteArray &bytes) const
    {
        QFile f(file600());
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    }
    QByteArray file600Bytes() const
    {
        QFile f(file600());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // Summaries of the requests the device received.
    QStringList allRequests() const
    {
        QFile f(folder.filePath("t.txt"));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QStringList out;
        for (const QString &line : QString::fromLatin1(f.readAll()).split('\n')) {
            if (line.section(' ', 1, 1) == ">")
                out << line.section(" | ", 1);
        }
        return out;
    }
    QStringList newRequests() const { return allRequests().mid(seen); }
};

IqCalibrationTable Stale()
{
    IqCalibrationTable t;
    t.rowCount = 2;
    t.rows[0] = {1, 2, 3};
    t.rows[1] = {4, 5, 6};
    return t;
}

} // namespace

class IqDeviceTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { g_manufacturerMode = 1; }
    void cleanup() { g_manufacturerMode = 0; }

    void readSequence_data();
    void readSequence();
    void writeSequence_data();
    void writeSequence();
    void noExchangeWithoutAccess_data();
    void noExchangeWithoutAccess();
};

void IqDeviceTest::readSequence_data()
{
    QTest::addColumn<QByteArray>("file"); // empty: the simulator's own table
    QTest::addColumn<bool>("missing");
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<int>("rows");

    const QString open = "0xC0 open-read 600", head = "0xC0 read 5", close = "0xC0 close";
    QTest::newRow("three rows") << QByteArray() << false
                                << QStringList{open, head, "0xC0 read 18", close} << 3;
    QTest::newRow("count 0 still reads 0 bytes")
        << Hex("50465A4A00") << false << QStringList{open, head, "0xC0 read 0", close} << 0;
    QTest::newRow("magic missing")
        << Hex("5A554445") + char(1) + Rows(1) << false << QStringList{open, head, close} << 0;
    QTest::newRow("shorter than the head")
        << Hex("5046") << false << QStringList{open, head, close} << 0;
    QTest::newRow("count 120 keeps 100") << Hex("50465A4A78") + Rows(120) << false
                                         << QStringList{open, head, "0xC0 read 720", close} << 100;
    QTest::newRow("rows cut short keep the full ones")
        << Hex("50465A4A03") + Rows(2) + Hex("0102") << false
        << QStringList{open, head, "0xC0 read 18", close} << 2;
    QTest::newRow("no file: nothing to close") << QByteArray() << true << QStringList{open} << 0;
}

void IqDeviceTest::readSequence()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, missing);
    QFETCH(QStringList, requests);
    QFETCH(int, rows);

    Device device;
    QVERIFY(device.start("0x78", 3));
    if (missing)
        QVERIFY(QFile::remove(device.file600()));
    else if (!file.isEmpty())
        QVERIFY(device.setFile600(file));

    IqCalibrationTable table = Stale();
    QVERIFY(ReadIqTableFromDevice(device.xmit, table));
    QTRY_COMPARE(device.newRequests(), requests);
    QCOMPARE(table.rowCount, rows);
    if (file.isEmpty() && !missing) {
        QCOMPARE(table.rows[0], (IqCalibrationRow{474, -35, 120}));
        QCOMPARE(table.rows[1], (IqCalibrationRow{594, 12, -8}));
        QCOMPARE(table.rows[2], (IqCalibrationRow{858, 0, 0}));
    } else if (rows > 0) {
        QCOMPARE(table.rows[size_t(rows - 1)],
                 (IqCalibrationRow{100 + rows - 1, rows - 1, 1 - rows}));
    }
}

void IqDeviceTest::writeSequence_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("write");
    QTest::newRow("three rows") << 3 << "0xC0 write 23";
    QTest::newRow("empty table") << 0 << "0xC0 write 5";
    QTest::newRow("full table") << 100 << "0xC0 write 605";
}

void IqDeviceTest::writeSequence()
{
    QFETCH(int, rows);
    QFETCH(QString, write);

    Device device;
    QVERIFY(device.start("0x78", 3));
    IqCalibrationTable table;
    table.rowCount = rows;
    for (int i = 0; i < rows; ++i)
        table.rows[size_t(i)] = {474 + i, -35, 120};
    QVERIFY(WriteIqTableToDevice(device.xmit, table));
    QTRY_COMPARE(device.newRequests(),
                 (QStringList{"0xC0 open-write 600", write, "0xC0 close", "0xB0 apply"}));
    QCOMPARE(device.file600Bytes(), EncodeIqImage(table));
    if (rows > 0)
        QCOMPARE(device.file600Bytes().mid(5, 6), Hex("DA01ED268827"));
    QCOMPARE(device.xmit.m_linkError, 0);

    // What was written reads back the same.
    device.seen = int(device.allRequests().size());
    IqCalibrationTable back;
    QVERIFY(ReadIqTableFromDevice(device.xmit, back));
    QCOMPARE(back.rowCount, rows);
    for (int i = 0; i < rows; ++i)
        QCOMPARE(back.rows[size_t(i)], table.rows[size_t(i)]);
}

void IqDeviceTest::noExchangeWithoutAccess_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<int>("hardware");
    QTest::addColumn<int>("manufacturer");
    QTest::newRow("0x82 device") << "0x82" << 3 << 1;
    QTest::newRow("hardware 2") << "0x78" << 2 << 1;
    QTest::newRow("no manufacturer mode") << "0x78" << 3 << 0;
}

void IqDeviceTest::noExchangeWithoutAccess()
{
    QFETCH(QString, type);
    QFETCH(int, hardware);
    QFETCH(int, manufacturer);

    Device device;
    QVERIFY(device.start(type, hardware));
    g_manufacturerMode = manufacturer;
    IqCalibrationTable table = Stale();
    QVERIFY(!ReadIqTableFromDevice(device.xmit, table));
    QVERIFY(!WriteIqTableToDevice(device.xmit, table));
    QCOMPARE(table.rowCount, 2);
    QCOMPARE(table.rows[1], (IqCalibrationRow{4, 5, 6}));
    // One identification afterwards proves the transcript is up to date.
    QVERIFY(device.xmit.PollIdentity() != 0);
    QTRY_COMPARE(device.newRequests(), QStringList{"0x10 identify"});
}

QTEST_GUILESS_MAIN(IqDeviceTest)
#include "tst_iqdevice.moc"
