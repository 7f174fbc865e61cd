// The settings form with its file buttons and I/Q list: a saved
// configuration loads back into the same form and arms the write and the
// default; a file the loader refuses changes nothing; a frequency in the
// list retunes the form.
#include "CalibRecorders.h"
#include "app/AppState.h"
#include "calib/CIqList.h"
#include "link/CXmit.h"
#include "settings/CSetting.h"
#include "tests/tools/VxsimHarness.h"

#include <QtTest>
#include <QtWidgets>

namespace {

DeviceConfig Record(int frequencyKhz, const QString &service)
{
    DeviceConfig r;
    r.reference = "REF";
    r.deliverySystem = 1;
    r.frequencyKhz = frequencyKhz;
    r.bandwidth = 2;
    r.transmissionMode = 1;
    r.constellation = 2;
    r.codeRate = 1;
    r.attenuationDb = 4;
    r.networkVersion = 1;
    r.networkId = 1;
    r.originalNetworkId = 8442;
    r.networkName = "NET";
    r.transportStreamId = 1;
    r.serviceId = 3;
    r.logicalChannelNumber = 5;
    r.serviceName = service;
    r.pmtPid = 256;
    r.videoPid = 257;
    r.audioPid = 258;
    r.videoBitrateKbps = 6000;
    r.audioBitrate = 1;
    r.brightness = 120;
    r.contrast = 130;
    r.saturation = 140;
    r.logoName = "logo.dg1";
    return r;
}

RecordBuffer Bytes(const DeviceConfig &record, quint8 type)
{
    RecordBuffer buffer{};
    if (type == kDeviceType82)
        WriteFullLayout(record, buffer);
    else
        WriteCompactLayout(record, buffer);
    return buffer;
}

// Everything the form shows, by control name.
QStringList Snapshot(const CSetting &form)
{
    QStringList out;
    for (const QLineEdit *e : form.findChildren<QLineEdit *>())
        if (!e->objectName().isEmpty() && !qobject_cast<QComboBox *>(e->parent()))
            out << e->objectName() + "=" + e->text();
    for (const QComboBox *c : form.findChildren<QComboBox *>())
        out << c->objectName() + "=" + QString::number(c->currentIndex()) + ":" + c->currentText();
    for (const QSlider *s : form.findChildren<QSlider *>())
        out << s->objectName() + "=" + QString::number(s->value());
    out.sort();
    return out;
}

// Request summaries in the simulator's transcript, write lengths kept.
QStringList Requests(const vxtest::Simulator &sim)
{
    QStringList out;
    for (const QString &line : sim.Transcript())
        if (line.startsWith(u'>'))
            out << line.section(QStringLiteral(" | "), 1);
    return out;
}

QPushButton *Button(CSetting &form, const char *name)
{
    return form.findChild<QPushButton *>(name);
}

} // namespace

class FormFilesTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void buttonsAndListAreReachable();
    void saveThenLoadGivesTheSameForm_data();
    void saveThenLoadGivesTheSameForm();
    void refusedFileLeavesTheFormAlone();
    void frequencyInTheListRetunes();
    void connectingReadsTheTableFirst_data();
    void connectingReadsTheTableFirst();
    void loadedFileIsWrittenAndMadeDefault();

private:
    QTemporaryDir m_dir;
    StatusRecorder m_status;
    BeepRecorder m_beeps;
    ScriptedDialogs m_dialogs;
    QString m_savedFolder;
};

void FormFilesTest::init()
{
    m_savedFolder = g_workingFolder;
    g_workingFolder = m_dir.path();
    QDir(m_dir.path()).mkpath("config");
    g_manufacturerMode = 1;
    m_status = {};
    m_beeps = {};
    m_dialogs = {};
    SetStatusSink(&m_status);
    SetBeeper(&m_beeps);
    SetFileDialogs(&m_dialogs);
}

void FormFilesTest::cleanup()
{
    SetStatusSink(nullptr);
    SetBeeper(nullptr);
    SetFileDialogs(nullptr);
    g_manufacturerMode = 0;
    g_hardwareVersion = 0;
    g_xmit.m_deviceType = 0;
    g_xmit.m_linkError = 0;
    g_workingFolder = m_savedFolder;
    QDir(m_dir.filePath("config")).removeRecursively();
}

void FormFilesTest::buttonsAndListAreReachable()
{
    CSetting form;
    for (const char *name : {"loadButton", "saveButton", "iqFromFileButton", "iqToFileButton"})
        QVERIFY2(Button(form, name) && !Button(form, name)->text().isEmpty(), name);
    auto *list = form.findChild<CIqList *>("iqList");
    QVERIFY(list);
    QCOMPARE(list->accessibleName(), QString("I/Q calibration"));
    QCOMPARE(list->headerItem()->text(CIqList::AmpColumn), QString("dAmp"));
}

void FormFilesTest::saveThenLoadGivesTheSameForm_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("file");
    QTest::newRow("0x78") << 0x78 << "kept.VXC";
    QTest::newRow("0x82") << 0x82 << "kept.VX360SD";
}

void FormFilesTest::saveThenLoadGivesTheSameForm()
{
    QFETCH(int, type);
    QFETCH(QString, file);
    g_xmit.m_deviceType = quint8(type);
    CSetting form;
    form.LoadFromBytes(Bytes(Record(578000, "FIRST"), quint8(type)));
    const QStringList shown = Snapshot(form);
    QVERIFY(shown.contains("frequencyEdit=578000"));

    m_dialogs.answers << m_dir.filePath("config/kept") << m_dir.filePath("config/kept");
    Button(form, "saveButton")->click();
    QCOMPARE(m_status.texts, QStringList{"Saved"});
    QFile saved(m_dir.filePath("config/" + file));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QByteArray bytes = saved.readAll();
    RecordBuffer built{};
    QCOMPARE(int(bytes.size()), int(form.BuildRecord(built)));
    QCOMPARE(bytes, QByteArray(reinterpret_cast<const char *>(built.data()), bytes.size()));

    form.LoadFromBytes(Bytes(Record(754000, "OTHER"), quint8(type)));
    QVERIFY(Snapshot(form) != shown);
    QCOMPARE(int(form.m_changeCountdown), 0);

    Button(form, "loadButton")->click();
    QCOMPARE(Snapshot(form), shown);
    QCOMPARE(m_status.texts, (QStringList{"Saved", "Loaded"}));
    // The next tick writes the configuration and makes it the default.
    QCOMPARE(int(form.m_changeCountdown), 1);
    QCOMPARE(int(form.m_defaultRequest), 1);
}

void FormFilesTest::refusedFileLeavesTheFormAlone()
{
    g_xmit.m_deviceType = kDeviceType78;
    CSetting form;
    form.LoadFromBytes(Bytes(Record(578000, "FIRST"), kDeviceType78));
    const QStringList shown = Snapshot(form);
    // A 0x82 record has no compact magic: the loader refuses it.
    const RecordBuffer full = Bytes(Record(754000, "OTHER"), kDeviceType82);
    QFile f(m_dir.filePath("config/old.VXC"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char *>(full.data()), 800);
    f.close();
    m_dialogs.answers << f.fileName();
    Button(form, "loadButton")->click();
    QCOMPARE(Snapshot(form), shown);
    QCOMPARE(int(form.m_changeCountdown), 0);
    QCOMPARE(int(form.m_defaultRequest), 0);
    QCOMPARE(m_status.texts, QStringList{"Configuration Error"});
    QCOMPARE(m_beeps.beeps, (QList<QPair<int, int>>{{880, 1000}}));
}

void FormFilesTest::frequencyInTheListRetunes()
{
    g_xmit.m_deviceType = kDeviceType78;
    CSetting form;
    form.LoadFromBytes(Bytes(Record(578000, "FIRST"), kDeviceType78));
    form.show();
    auto *list = form.findChild<CIqList *>("iqList");
    QVERIFY(list && list->isVisible());

    QFile f(m_dir.filePath("config/cal.iqc"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray::fromHex("02"
                                "DA01ED268827"
                                "52021C270827"));
    f.close();
    m_dialogs.answers << f.fileName();
    Button(form, "iqFromFileButton")->click();
    // No device with a table here (hardware 0): the list takes the file alone.
    QCOMPARE(m_status.texts, QStringList{"Loaded, not sent to module"});
    QCOMPARE(list->topLevelItemCount(), 2);
    QCOMPARE(form.m_iqTable.rowCount, 2);

    const QStringList before = Snapshot(form);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {},
                       CIqList::CellRect(list, 1, CIqList::FrequencyColumn).center());
    QCOMPARE(form.findChild<QLineEdit *>("frequencyEdit")->text(), QString("594000"));
    QCOMPARE(form.m_values.frequencyKhz, 594000);
    QCOMPARE(int(form.m_changeCountdown), 3);
    QCOMPARE(int(form.m_defaultRequest), 0);
    // Nothing else in the form moved.
    QStringList after = Snapshot(form);
    after.removeAll("frequencyEdit=594000");
    QStringList expected = before;
    expected.removeAll("frequencyEdit=578000");
    QCOMPARE(after, expected);
}

void FormFilesTest::connectingReadsTheTableFirst_data()
{
    QTest::addColumn<int>("hardware");
    QTest::addColumn<int>("manufacturer");
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<int>("rows");

    const QStringList config{"0xC0 open-read 590", "0xC0 read 256", "0xC0 close"};
    const QStringList table{"0xC0 open-read 600", "0xC0 read 5", "0xC0 read 18", "0xC0 close"};
    QTest::newRow("hardware 3") << 3 << 1 << table + config << 3;
    QTest::newRow("hardware 2") << 2 << 1 << config << 0;
    QTest::newRow("no manufacturer mode") << 3 << 0 << config << 0;
}

void FormFilesTest::connectingReadsTheTableFirst()
{
    QFETCH(int, hardware);
    QFETCH(int, manufacturer);
    QFETCH(QStringList, requests);
    QFETCH(int, rows);

    vxtest::Simulator sim;
    QVERIFY(sim.Start({"--type", "0x78", "--hw", QString::number(hardware)}));
    g_xmit.SetPortPaths({sim.LinkPath()});
    QVERIFY(g_xmit.FindDevice() != 0);
    g_manufacturerMode = manufacturer;
    CSetting form;
    form.PrepareForDevice();
    form.StopFormTimer();
    QTRY_COMPARE(Requests(sim).mid(1), requests);
    auto *list = form.findChild<CIqList *>("iqList");
    QCOMPARE(list->topLevelItemCount(), rows);
    QCOMPARE(list->isEnabled(), hardware >= 3);
    if (rows)
        QCOMPARE(list->topLevelItem(0)->text(CIqList::PhiColumn), QString("120"));
    g_xmit.ClosePort();
}

void FormFilesTest::loadedFileIsWrittenAndMadeDefault()
{
    vxtest::Simulator sim;
    QVERIFY(sim.Start({"--type", "0x78", "--hw", "3"}));
    g_xmit.SetPortPaths({sim.LinkPath()});
    QVERIFY(g_xmit.FindDevice() != 0);
    CSetting form;
    form.PrepareForDevice();
    form.StopFormTimer();
    form.LoadFromBytes(Bytes(Record(578000, "FROMFILE"), kDeviceType78));
    m_dialogs.answers << m_dir.filePath("config/kept");
    Button(form, "saveButton")->click();
    form.LoadFromBytes(Bytes(Record(754000, "OTHER"), kDeviceType78));

    const int before = int(Requests(sim).size());
    m_dialogs.answers << m_dir.filePath("config/kept.VXC");
    Button(form, "loadButton")->click();
    QCOMPARE(m_status.texts, (QStringList{"Saved", "Loaded"}));
    form.OnFormTimer();
    const QStringList sent = Requests(sim).mid(before);
    QVERIFY2(sent.contains("0xC0 open-write 590") && sent.contains("0xC0 open-write 595"),
             qPrintable(sent.join('\n')));
    QVERIFY(sim.StateFile("files/595.bin").contains("FROMFILE"));
    QVERIFY(sim.StateFile("files/590.bin").contains("FROMFILE"));
    QCOMPARE(m_beeps.beeps, (QList<QPair<int, int>>{{880, 200}}));
    QCOMPARE(int(form.m_defaultRequest), 0);
    g_xmit.ClosePort();
}

QTEST_MAIN(FormFilesTest)
#include "tst_formfiles.moc"
