// The four file buttons: dialogs, names, what reaches the form and the
// device, and the messages and beeps the technician gets.
#include "CalibRecorders.h"
#include "CalibTestFiles.h"
#include "app/AppState.h"
#include "app/SimulatorProcess.h"
#include "calib/CIqList.h"
#include "calib/CalibController.h"
#include "calib/CalibFiles.h"
#include "link/CXmit.h"

#include <QtTest>

namespace {

using Beeps = QList<QPair<int, int>>;
const Beeps kFileBeep{{440, 250}};

QByteArray CompactRecord(int length)
{
    QByteArray r = Hex("50465A4A00");
    r.append(char(length & 0xFF)).append(char(length >> 8));
    for (int i = int(r.size()); i < length; ++i)
        r.append(char(i));
    return r;
}

} // namespace

class CalibFlowsTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void dialogsOpenInTheConfigFolder_data();
    void dialogsOpenInTheConfigFolder();
    void cancelledDialogsChangeNothing_data();
    void cancelledDialogsChangeNothing();

    void iqSaveWritesTheTable_data();
    void iqSaveWritesTheTable();
    void iqSaveFailure();
    void iqLoadRefusals_data();
    void iqLoadRefusals();
    void iqLoadFillsTheListAndWritesTheDevice();
    void iqLoadWithoutDeviceAccess_data();
    void iqLoadWithoutDeviceAccess();

    void configSaveThenLoad_data();
    void configSaveThenLoad();
    void configSaveFailureBuildsNothing();
    void configLoadRefusals_data();
    void configLoadRefusals();
    void configLoadRejectedByTheLoader();

private:
    CalibController *Controller();

    QTemporaryDir m_dir;
    StatusRecorder m_status;
    BeepRecorder m_beeps;
    ScriptedDialogs m_dialogs;
    CXmit m_xmit;
    IqCalibrationTable m_table;
    std::unique_ptr<CIqList> m_list;
    std::unique_ptr<CalibController> m_controller;
    QByteArray m_record;        // what the form builds
    QList<QByteArray> m_loaded; // what the form was handed
    int m_armed = 0;
    int m_built = 0;
    QString m_savedFolder;
};

void CalibFlowsTest::init()
{
    m_savedFolder = g_workingFolder;
    g_workingFolder = m_dir.path();
    QDir(m_dir.path()).mkpath("config");
    g_manufacturerMode = 0;
    m_status = {};
    m_beeps = {};
    m_dialogs = {};
    SetStatusSink(&m_status);
    SetBeeper(&m_beeps);
    SetFileDialogs(&m_dialogs);
    m_xmit.m_deviceType = kDeviceType78;
    m_table = {};
    m_table.rowCount = 3;
    m_table.rows[0] = {474, -35, 120};
    m_table.rows[1] = {594, 12, -8};
    m_table.rows[2] = {858, 0, 0};
    m_record = CompactRecord(120);
    m_loaded.clear();
    m_armed = 0;
    m_built = 0;
    m_list = std::make_unique<CIqList>();
    m_controller.reset();
}

void CalibFlowsTest::cleanup()
{
    m_controller.reset();
    m_list.reset();
    SetStatusSink(nullptr);
    SetBeeper(nullptr);
    SetFileDialogs(nullptr);
    m_xmit.ClosePort();
    g_manufacturerMode = 0;
    g_workingFolder = m_savedFolder;
    QDir(m_dir.filePath("config")).removeRecursively();
}

CalibController *CalibFlowsTest::Controller()
{
    if (!m_controller) {
        CalibHooks hooks;
        hooks.buildRecord = [this] {
            ++m_built;
            return m_record;
        };
        hooks.loadFromBytes = [this](const QByteArray &record) { m_loaded << record; };
        hooks.armWriteAndDefault = [this] { ++m_armed; };
        m_controller =
            std::make_unique<CalibController>(m_xmit, m_table, m_list.get(), nullptr, hooks);
        m_controller->FillIqList();
    }
    return m_controller.get();
}

void CalibFlowsTest::dialogsOpenInTheConfigFolder_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("save");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("filter");
    QTest::newRow("SAVE 0x78") << "config" << 0x78 << true << "Save Configuration"
                               << "Config. (*.vxc)";
    QTest::newRow("LOAD 0x78") << "config" << 0x78 << false << "Load Configuration"
                               << "Config. (*.vxc)";
    QTest::newRow("SAVE 0x82") << "config" << 0x82 << true << "Save Configuration"
                               << "Config. (*.vx360sd)";
    QTest::newRow("LOAD 0x82") << "config" << 0x82 << false << "Load Configuration"
                               << "Config. (*.vx360sd)";
    QTest::newRow("TO FILE") << "iq" << 0x78 << true << "Save IQ Calibration"
                             << "IQ-Table. (*.iqc)";
    QTest::newRow("FROM FILE") << "iq" << 0x78 << false << "Load IQ Calibration"
                               << "IQ-Table. (*.iqc)";
}

void CalibFlowsTest::dialogsOpenInTheConfigFolder()
{
    QFETCH(QString, button);
    QFETCH(int, type);
    QFETCH(bool, save);
    QFETCH(QString, title);
    QFETCH(QString, filter);
    m_xmit.m_deviceType = quint8(type);
    if (button == "config")
        Controller()->TransferConfigFile(save);
    else
        Controller()->TransferIqFile(save);
    QCOMPARE(m_dialogs.shown.size(), 1);
    QCOMPARE(m_dialogs.shown[0].save, save);
    QCOMPARE(m_dialogs.shown[0].title, title);
    QCOMPARE(m_dialogs.shown[0].filter, filter);
    QCOMPARE(m_dialogs.shown[0].folder, m_dir.path() + "/config/");
}

void CalibFlowsTest::cancelledDialogsChangeNothing_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("save");
    QTest::newRow("SAVE") << "config" << true;
    QTest::newRow("LOAD") << "config" << false;
    QTest::newRow("TO FILE") << "iq" << true;
    QTest::newRow("FROM FILE") << "iq" << false;
}

void CalibFlowsTest::cancelledDialogsChangeNothing()
{
    QFETCH(QString, button);
    QFETCH(bool, save);
    if (button == "config")
        Controller()->TransferConfigFile(save);
    else
        Controller()->TransferIqFile(save);
    QVERIFY(m_status.texts.isEmpty());
    QVERIFY(m_beeps.beeps.isEmpty());
    QCOMPARE(m_built + m_armed + int(m_loaded.size()), 0);
    QCOMPARE(m_table.rowCount, 3);
    QVERIFY(QDir(m_dir.filePath("config")).isEmpty());
}

void CalibFlowsTest::iqSaveWritesTheTable_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("created");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("length");
    QTest::newRow("cal") << "cal"
                         << "cal.iqc" << 3 << 19;
    QTest::newRow("cal.IQC") << "cal.IQC"
                             << "cal.IQC" << 3 << 19;
    QTest::newRow("cal.txt") << "cal.txt"
                             << "cal.txt.iqc" << 3 << 19;
    QTest::newRow("empty table") << "none"
                                 << "none.iqc" << 0 << 1;
    QTest::newRow("full table") << "full"
                                << "full.iqc" << 100 << 601;
}

void CalibFlowsTest::iqSaveWritesTheTable()
{
    QFETCH(QString, typed);
    QFETCH(QString, created);
    QFETCH(int, rows);
    QFETCH(int, length);
    m_table.rowCount = rows;
    m_dialogs.answers << m_dir.filePath("config/" + typed);
    Controller()->TransferIqFile(true);
    QCOMPARE(QDir(m_dir.filePath("config")).entryList(QDir::Files), QStringList{created});
    const QByteArray bytes = ReadFile(m_dir.filePath("config/" + created));
    QCOMPARE(int(bytes.size()), length);
    QCOMPARE(bytes, EncodeIqFile(m_table));
    if (rows == 3)
        QCOMPARE(bytes.mid(1, 6), Hex("DA01ED268827"));
    QCOMPARE(m_status.texts, QStringList{"Saved from module"});
    QCOMPARE(m_status.durations, QList<int>{2000});
    QVERIFY(!m_status.waited);
    QVERIFY(m_beeps.beeps.isEmpty());
}

void CalibFlowsTest::iqSaveFailure()
{
    m_dialogs.answers << m_dir.filePath("no-such-folder/cal");
    Controller()->TransferIqFile(true);
    QCOMPARE(m_status.texts, QStringList{"IQ Calibration write Error"});
    QCOMPARE(m_beeps.beeps, kFileBeep);
}

void CalibFlowsTest::iqLoadRefusals_data()
{
    QTest::addColumn<QByteArray>("content"); // "<missing>": no such file
    const QByteArray row = Hex("DA01ED268827");
    QTest::newRow("missing") << QByteArray("<missing>");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("count above 100") << QByteArray(1, char(101)) + row.repeated(101);
    QTest::newRow("shorter than its count") << Hex("02") + row;
}

void CalibFlowsTest::iqLoadRefusals()
{
    QFETCH(QByteArray, content);
    if (content != "<missing>")
        QVERIFY(WriteFile(m_dir.filePath("config/bad.iqc"), content));
    m_dialogs.answers << m_dir.filePath("config/bad");
    Controller()->TransferIqFile(false);
    QCOMPARE(m_status.texts, QStringList{"IQ Calibration read error"});
    QCOMPARE(m_beeps.beeps, kFileBeep);
    QCOMPARE(m_table.rowCount, 3);
    QCOMPARE(m_table.rows[0], (IqCalibrationRow{474, -35, 120}));
    QCOMPARE(m_list->topLevelItemCount(), 3);
}

void CalibFlowsTest::iqLoadFillsTheListAndWritesTheDevice()
{
    SimulatorProcess sim;
    QTemporaryDir folder;
    QString why;
    QVERIFY2(sim.Start(QStringLiteral(VXSIM_PATH), "0x78", &why,
                       {"--hw", "3", "--transcript", folder.filePath("t.txt")}),
             qPrintable(why));
    m_xmit.SetPortPaths({sim.LinkPath()});
    QVERIFY(m_xmit.FindDevice() != 0);
    g_manufacturerMode = 1;

    QVERIFY(WriteFile(m_dir.filePath("config/two.iqc"), Hex("02"
                                                            "DA01ED268827"
                                                            "E8031027F426")));
    m_dialogs.answers << m_dir.filePath("config/two.iqc");
    Controller()->TransferIqFile(false);
    QCOMPARE(m_table.rowCount, 2);
    QCOMPARE(m_table.rows[1], (IqCalibrationRow{1000, 0, -28}));
    QCOMPARE(m_list->topLevelItemCount(), 2);
    QCOMPARE(m_list->topLevelItem(1)->text(3), QString("-28"));
    QCOMPARE(m_status.texts, QStringList{"Loaded to module"});
    QVERIFY(m_beeps.beeps.isEmpty());

    QCOMPARE(ReadFile(sim.StateFolder() + "/files/600.bin"), Hex("50465A4A02"
                                                                 "DA01ED268827"
                                                                 "E8031027F426"));
    QFile transcript(folder.filePath("t.txt"));
    QVERIFY(transcript.open(QIODevice::ReadOnly));
    QStringList requests;
    for (const QString &line : QString::fromLatin1(transcript.readAll()).split('\n'))
        if (line.section(' ', 1, 1) == ">")
            requests << line.section(" | ", 1);
    QCOMPARE(requests, (QStringList{"0x10 identify", "0xC0 open-write 600", "0xC0 write 17",
                                    "0xC0 close", "0xB0 apply"}));
}

void CalibFlowsTest::iqLoadWithoutDeviceAccess_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("hardware");
    QTest::addColumn<int>("manufacturer");
    QTest::newRow("hardware 2") << 0x78 << 2 << 1;
    QTest::newRow("hardware 0") << 0x78 << 0 << 1;
    QTest::newRow("no manufacturer mode") << 0x78 << 3 << 0;
    QTest::newRow("0x82 device") << 0x82 << 3 << 1;
}

void CalibFlowsTest::iqLoadWithoutDeviceAccess()
{
    // The file is taken into the table and the list, but the device keeps no
    // table of its own here: the message must not claim it took the file.
    QFETCH(int, type);
    QFETCH(int, hardware);
    QFETCH(int, manufacturer);
    const quint8 savedHardware = g_hardwareVersion;
    const auto restore = qScopeGuard([savedHardware] { g_hardwareVersion = savedHardware; });
    m_xmit.m_deviceType = quint8(type);
    g_hardwareVersion = quint8(hardware);
    g_manufacturerMode = manufacturer;

    QVERIFY(WriteFile(m_dir.filePath("config/one.iqc"), Hex("01E8031027F426")));
    m_dialogs.answers << m_dir.filePath("config/one");
    Controller()->TransferIqFile(false);
    QCOMPARE(m_table.rowCount, 1);
    QCOMPARE(m_table.rows[0], (IqCalibrationRow{1000, 0, -28}));
    QCOMPARE(m_list->topLevelItemCount(), 1);
    QCOMPARE(m_status.texts, QStringList{"Loaded, not sent to module"});
    QCOMPARE(m_status.durations, QList<int>{2000});
    QVERIFY(m_beeps.beeps.isEmpty());
    QCOMPARE(m_xmit.m_linkError, 0);
}

void CalibFlowsTest::configSaveThenLoad_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("created");
    QTest::addColumn<QByteArray>("record");
    QTest::newRow("0x78 abc") << 0x78 << "abc"
                              << "abc.VXC" << CompactRecord(120);
    QTest::newRow("0x78 abc.vxc") << 0x78 << "abc.vxc"
                                  << "abc.vxc" << CompactRecord(120);
    QTest::newRow("0x78 abc.txt") << 0x78 << "abc.txt"
                                  << "abc.txt.VXC" << CompactRecord(90);
    QTest::newRow("0x82 abc") << 0x82 << "abc"
                              << "abc.VX360SD" << QByteArray(1000, 'r');
    QTest::newRow("0x82 ABC.VX360SD") << 0x82 << "ABC.VX360SD"
                                      << "ABC.VX360SD" << QByteArray(1000, 'r');
}

void CalibFlowsTest::configSaveThenLoad()
{
    QFETCH(int, type);
    QFETCH(QString, typed);
    QFETCH(QString, created);
    QFETCH(QByteArray, record);
    m_xmit.m_deviceType = quint8(type);
    m_record = record;
    const QString path = m_dir.filePath("config/" + created);
    QVERIFY(WriteFile(path, QByteArray(3000, 'o'))); // an older, longer file is replaced
    m_dialogs.answers << m_dir.filePath("config/" + typed) << m_dir.filePath("config/" + typed);

    Controller()->TransferConfigFile(true);
    QCOMPARE(m_built, 1);
    QCOMPARE(ReadFile(path), record);
    QCOMPARE(QDir(m_dir.filePath("config")).entryList(QDir::Files), QStringList{created});
    QCOMPARE(m_status.texts, QStringList{"Saved"});

    Controller()->TransferConfigFile(false);
    QCOMPARE(m_loaded.size(), 1);
    QCOMPARE(int(m_loaded[0].size()), kConfigRecordCapacity);
    QCOMPARE(m_loaded[0].left(record.size()), record);
    QCOMPARE(m_loaded[0].mid(record.size()), QByteArray(kConfigRecordCapacity - record.size(), 0));
    QCOMPARE(m_armed, 1);
    QCOMPARE(m_status.texts, (QStringList{"Saved", "Loaded"}));
    QCOMPARE(m_status.durations, (QList<int>{2000, 2000}));
    QVERIFY(m_beeps.beeps.isEmpty());
}

void CalibFlowsTest::configSaveFailureBuildsNothing()
{
    m_dialogs.answers << m_dir.filePath("no-such-folder/abc");
    Controller()->TransferConfigFile(true);
    QCOMPARE(m_built, 0);
    QCOMPARE(m_status.texts, QStringList{"Config. write Error"});
    QCOMPARE(m_beeps.beeps, kFileBeep);
}

void CalibFlowsTest::configLoadRefusals_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("content"); // "<missing>": no such file
    QTest::newRow("missing") << 0x78 << QByteArray("<missing>");
    QTest::newRow("longer than 4096") << 0x78 << CompactRecord(4097);
    QTest::newRow("compact record under 0x82") << 0x82 << CompactRecord(120);
}

void CalibFlowsTest::configLoadRefusals()
{
    QFETCH(int, type);
    QFETCH(QByteArray, content);
    m_xmit.m_deviceType = quint8(type);
    const QString name = type == 0x78 ? "bad.VXC" : "bad.VX360SD";
    if (content != "<missing>")
        QVERIFY(WriteFile(m_dir.filePath("config/" + name), content));
    m_dialogs.answers << m_dir.filePath("config/bad");
    Controller()->TransferConfigFile(false);
    QCOMPARE(m_status.texts, QStringList{"Config. read error"});
    QCOMPARE(m_beeps.beeps, kFileBeep);
    QVERIFY(m_loaded.isEmpty());
    QCOMPARE(m_armed, 0);
}

void CalibFlowsTest::configLoadRejectedByTheLoader()
{
    // A 0x82 record offered to a 0x78 device: the loader refuses it with its
    // own message; it is not reported as loaded, nor written, nor made default.
    QVERIFY(WriteFile(m_dir.filePath("config/old.VXC"), QByteArray(1000, 'r')));
    m_dialogs.answers << m_dir.filePath("config/old.VXC");
    Controller()->TransferConfigFile(false);
    QCOMPARE(m_loaded.size(), 1);
    QCOMPARE(m_armed, 0);
    QVERIFY(m_status.texts.isEmpty());
    QVERIFY(m_beeps.beeps.isEmpty());
}

QTEST_MAIN(CalibFlowsTest)
#include "tst_calibflows.moc"
