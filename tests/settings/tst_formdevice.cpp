// The settings form against the simulated device on a pseudo-terminal: what
// goes on the line for an edit, a track bar drag, making the configuration
// the default, the idle poll, and what the form shows afterwards. Ticks of
// the form timer are driven by hand so that the sequences are exact.
#include "app/AppState.h"
#include "link/CXmit.h"
#include "settings/CSetting.h"
#include "tests/settings/FormRecorders.h"
#include "tests/tools/VxsimHarness.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QtTest>

namespace {

const QStringList kWrite82{"0x50 write-config N", "0x70 read-config"};
const QStringList kReadBack78{"0xC0 open-read 590", "0xC0 read 256", "0xC0 close"};

QStringList Write78(int file)
{
    return QStringList{QStringLiteral("0xC0 open-write %1").arg(file), "0xC0 write N", "0xC0 close",
                       "0xB0 apply"} +
           kReadBack78;
}

} // namespace

class TestFormDevice : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void oneWriteThreeTicksAfterLastEdit_data();
    void oneWriteThreeTicksAfterLastEdit();
    void trackBarDragHoldsCountdown();
    void makeDefault82_data();
    void makeDefault82();
    void makeDefault78();
    void statusTwoReloadsOnlyWhileIdle_data();
    void statusTwoReloadsOnlyWhileIdle();
    void deliverySystem_data();
    void deliverySystem();
    void failedReadBackKeepsForm_data();
    void failedReadBackKeepsForm();
    void nothingWrittenBeforeFirstRead();
    void noDefaultWithoutWrite_data();
    void noDefaultWithoutWrite();
    void checkMessageDuringLoadWritesNothing();

private:
    bool Connect(const QStringList &options);
    // Requests the device received since the last Mark(), record lengths
    // replaced by N.
    QStringList Requests();
    void Mark() { m_mark = AllRequests().size(); }
    QStringList AllRequests() const;
    static void Ticks(CSetting &form, int n)
    {
        for (int i = 0; i < n; ++i)
            form.OnFormTimer();
    }
    // Connects the form as the supervisor would, with its timer left to the
    // test.
    void Prepare(CSetting &form)
    {
        form.PrepareForDevice();
        form.StopFormTimer();
    }

    std::unique_ptr<vxtest::Simulator> m_sim;
    QTemporaryDir m_dir;
    qsizetype m_mark = 0;
};

void TestFormDevice::init()
{
    g_manufacturerMode = 1;
    LanguageIndex = 0;
    g_forceUpgrade = 0;
    g_workingFolder = m_dir.path();
    g_xmit.ClosePort();
    g_xmit.m_linkError = 0;
    g_xmit.m_rebootPending = 0;
    g_xmit.SetPortFactory(nullptr);
    m_sim = std::make_unique<vxtest::Simulator>();
}

void TestFormDevice::cleanup()
{
    g_xmit.ClosePort();
    m_sim.reset();
    g_workingFolder.clear();
    g_manufacturerMode = 0;
}

bool TestFormDevice::Connect(const QStringList &options)
{
    if (!m_sim->Start(options))
        return false;
    g_xmit.SetPortPaths({m_sim->LinkPath()});
    if (g_xmit.FindDevice() == 0)
        return false;
    Mark();
    return true;
}

QStringList TestFormDevice::AllRequests() const
{
    QStringList out;
    static const QRegularExpression length(QStringLiteral("^(0x50 write-config|0xC0 write) \\d+$"));
    for (const QString &line : m_sim->Transcript()) {
        if (!line.startsWith(u'>'))
            continue;
        QString summary = line.section(QStringLiteral(" | "), 1);
        summary.replace(length, QStringLiteral("\\1 N"));
        out << summary;
    }
    return out;
}

QStringList TestFormDevice::Requests()
{
    return AllRequests().mid(m_mark);
}

void TestFormDevice::oneWriteThreeTicksAfterLastEdit_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QStringList>("write");

    QTest::newRow("0x82") << "0x82" << kWrite82;
    QTest::newRow("0x78") << "0x78" << Write78(590);
}

void TestFormDevice::oneWriteThreeTicksAfterLastEdit()
{
    QFETCH(QString, type);
    QFETCH(QStringList, write);

    formtest::Recorders recorders;
    QVERIFY(Connect({"--type", type}));
    CSetting form;
    Prepare(form);
    QCOMPARE(form.m_changeCountdown, quint8(0));
    QCOMPARE(form.findChild<QLineEdit *>("serviceNameEdit")->text(), QStringLiteral("ZEPHALINK"));

    Mark();
    // Typed key by key, a tick between keys: each key re-arms the countdown.
    QLineEdit *frequency = form.findChild<QLineEdit *>("frequencyEdit");
    frequency->clear();
    for (QChar key : QStringLiteral("522000")) {
        QTest::keyClick(frequency, key.toLatin1());
        QCOMPARE(form.m_changeCountdown, quint8(3));
        Ticks(form, 1);
    }
    QTest::keyClicks(form.findChild<QLineEdit *>("serviceNameEdit"), QStringLiteral("2"));
    Ticks(form, 2);
    QCOMPARE(Requests(), QStringList{}); // pending: no write, no poll
    Ticks(form, 1);
    QCOMPARE(Requests(), write);
    QCOMPARE(form.m_changeCountdown, quint8(0));
    // The form shows what the device took.
    QCOMPARE(form.m_record.frequencyKhz, 522000);
    QCOMPARE(form.m_record.serviceName, QStringLiteral("ZEPHALINK2"));
    QCOMPARE(frequency->text(), QStringLiteral("522000"));

    // Idle again: the next tick only polls.
    Mark();
    Ticks(form, 1);
    QCOMPARE(Requests(), QStringList{"0x10 identify"});
    QVERIFY(recorders.warnings.isEmpty());
    QCOMPARE(g_xmit.m_linkError, 0);
}

void TestFormDevice::trackBarDragHoldsCountdown()
{
    formtest::Recorders recorders;
    QVERIFY(Connect({"--type", "0x82"}));
    CSetting form;
    Prepare(form);
    auto *level = form.findChild<QSlider *>("levelSlider");
    QCOMPARE(level->value(), 29); // the simulator's record: full level

    Mark();
    level->setSliderDown(true);
    for (int position : {28, 27, 26, 25, 24}) {
        level->setSliderPosition(position);
        QCOMPARE(form.m_changeCountdown, quint8(10));
        Ticks(form, 2);
    }
    QCOMPARE(form.findChild<QLabel *>("levelText")->text(), QStringLiteral("-5dB"));
    QCOMPARE(Requests(), QStringList{});
    level->setSliderDown(false);
    QCOMPARE(form.m_changeCountdown, quint8(3));
    Ticks(form, 2);
    QCOMPARE(Requests(), QStringList{});
    Ticks(form, 1);
    QCOMPARE(Requests(), kWrite82);
    QCOMPARE(form.m_record.attenuationDb, 5);

    // A key on the track bar moves it too: two seconds of ticks.
    Mark();
    QTest::keyClick(level, Qt::Key_Left);
    QCOMPARE(form.m_changeCountdown, quint8(10));
    Ticks(form, 9);
    QCOMPARE(Requests(), QStringList{});
    Ticks(form, 1);
    QCOMPARE(Requests(), kWrite82);
    QCOMPARE(form.m_record.attenuationDb, 6);
}

void TestFormDevice::makeDefault82_data()
{
    QTest::addColumn<QString>("logoName");
    QTest::addColumn<int>("logoSize");
    QTest::addColumn<QStringList>("upload");

    const QStringList blocks{"0xA0 create /mnt/logo.dg1", "0xA0 append 400", "0xA0 append 400",
                             "0xA0 append 200", "0xA0 close"};
    QTest::newRow("logo of 1000 bytes") << "MORVEN.dg1" << 1000 << blocks;
    QTest::newRow("logo of 400 bytes")
        << "ZEPHA.dg1" << 400
        << QStringList{"0xA0 create /mnt/logo.dg1", "0xA0 append 400", "0xA0 close"};
    QTest::newRow("missing logo") << "NONE.dg1" << -1 << QStringList{"0xA0 create /mnt/logo.dg1"};
    QTest::newRow("empty logo") << "EMPTY.dg1" << 0 << QStringList{"0xA0 create /mnt/logo.dg1"};
    QTest::newRow("name outside the logos folder")
        << "../secret.dg1" << 1000 << QStringList{"0xA0 create /mnt/logo.dg1"};
}

void TestFormDevice::makeDefault82()
{
    QFETCH(QString, logoName);
    QFETCH(int, logoSize);
    QFETCH(QStringList, upload);

    QDir(m_dir.path()).mkpath("logos");
    QByteArray logo;
    for (int i = 0; i < qMax(0, logoSize); ++i)
        logo.append(char(i * 7));
    if (logoSize >= 0) {
        QFile f(QDir(m_dir.filePath("logos")).filePath(logoName));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(logo);
    }

    formtest::Recorders recorders;
    QVERIFY(Connect({"--type", "0x82"}));
    CSetting form;
    Prepare(form);
    // The logo is the one named in the list, whatever was picked or typed.
    form.findChild<QComboBox *>("logoList")->setEditText(logoName);

    Mark();
    form.findChild<QPushButton *>("setDefaultButton")->click();
    Ticks(form, 1);
    const QStringList expected =
        kWrite82 +
        QStringList{"0x80 \"cp /VX360HD/current11.cfg /VX360HD/default11.cfg\"",
                    "0x80 \"mount /dev/mmcblk0p1 /mnt\""} +
        upload + QStringList{"0x80 \"umount /mnt\"", "0x80 \"sync\"", "0x20 restart"};
    QCOMPARE(Requests(), expected);
    QCOMPARE(recorders.beeps, (QList<QPair<int, int>>{{880, 200}}));
    QCOMPARE(form.m_defaultRequest, quint8(0));
    QCOMPARE(g_xmit.m_rebootPending, 1);
    QCOMPARE(form.m_record.logoName, logoName);
    if (upload.size() > 2)
        QCOMPARE(m_sim->StateFile("fs/mnt/logo.dg1"), logo);
    QCOMPARE(m_sim->StateFile("fs/VX360HD/default11.cfg"),
             m_sim->StateFile("fs/VX360HD/current11.cfg"));
}

void TestFormDevice::makeDefault78()
{
    formtest::Recorders recorders;
    QVERIFY(Connect({"--type", "0x78"}));
    CSetting form;
    Prepare(form);
    form.findChild<QLineEdit *>("serviceNameEdit")->setText(QStringLiteral("DEFAULT"));

    Mark();
    form.findChild<QPushButton *>("setDefaultButton")->click();
    Ticks(form, 1);
    QCOMPARE(Requests(), Write78(590) + Write78(595));
    QCOMPARE(recorders.beeps, (QList<QPair<int, int>>{{880, 200}}));
    QCOMPARE(g_xmit.m_rebootPending, 0);
    QCOMPARE(m_sim->StateFile("files/595.bin"), m_sim->StateFile("files/590.bin"));
    QVERIFY(m_sim->StateFile("files/595.bin").contains("DEFAULT"));
}

void TestFormDevice::statusTwoReloadsOnlyWhileIdle_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("pending");
    QTest::addColumn<QStringList>("requests");

    const QStringList status2{"--type", "0x78", "--status", "2"};
    QTest::newRow("0x78 status 2, idle")
        << status2 << false << (QStringList{"0x10 identify"} + kReadBack78);
    QTest::newRow("0x78 status 2, edit pending") << status2 << true << QStringList{};
    QTest::newRow("0x78 status 0, idle")
        << QStringList{"--type", "0x78"} << false << QStringList{"0x10 identify"};
    // Byte 2 of a 0x82 reply is its hardware version, not a status.
    QTest::newRow("0x82 hardware 2, idle")
        << QStringList{"--type", "0x82", "--hw", "2"} << false << QStringList{"0x10 identify"};
}

void TestFormDevice::statusTwoReloadsOnlyWhileIdle()
{
    QFETCH(QStringList, options);
    QFETCH(bool, pending);
    QFETCH(QStringList, requests);

    formtest::Recorders recorders;
    QVERIFY(Connect(options));
    CSetting form;
    Prepare(form);
    auto *tsId = form.findChild<QLineEdit *>("tsIdEdit");
    // Changed here but not on the device: a reload shows the device's value.
    const QString deviceValue = tsId->text();
    tsId->setText(QStringLiteral("999"));
    if (!pending)
        form.m_changeCountdown = 0;

    Mark();
    Ticks(form, 1);
    QCOMPARE(Requests(), requests);
    const bool reloaded = requests.size() > 1;
    QCOMPARE(tsId->text(), reloaded ? deviceValue : QStringLiteral("999"));
    QCOMPARE(form.m_changeCountdown, quint8(pending ? 2 : 0));
}

void TestFormDevice::deliverySystem_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("hardware");
    QTest::addColumn<bool>("listEnabled");
    QTest::addColumn<bool>("cable");

    QTest::newRow("0x82 hardware 1") << "0x82"
                                     << "1" << true << true;
    QTest::newRow("0x82 hardware 3") << "0x82"
                                     << "3" << true << true;
    QTest::newRow("0x82 hardware 0") << "0x82"
                                     << "0" << false << false;
    QTest::newRow("0x78 hardware 3") << "0x78"
                                     << "3" << false << false;
}

void TestFormDevice::deliverySystem()
{
    QFETCH(QString, type);
    QFETCH(QString, hardware);
    QFETCH(bool, listEnabled);
    QFETCH(bool, cable);

    formtest::Recorders recorders;
    QVERIFY(Connect({"--type", type, "--hw", hardware}));
    CSetting form;
    Prepare(form);
    auto *delivery = form.findChild<QComboBox *>("deliveryList");
    auto *symbolRate = form.findChild<QLineEdit *>("symbolRateEdit");
    auto *mode = form.findChild<QComboBox *>("modeList");
    QCOMPARE(delivery->isEnabled(), listEnabled);
    QCOMPARE(delivery->currentIndex(), 0);
    QVERIFY(!symbolRate->isEnabled());
    QVERIFY(mode->isEnabled());

    // The user picks DVB-C (a disabled list does not let him); the controls
    // follow only once the device has taken it.
    if (listEnabled) {
        delivery->setFocus();
        QTest::keyClick(delivery, Qt::Key_Down);
        QCOMPARE(delivery->currentIndex(), 1);
        QCOMPARE(form.m_changeCountdown, quint8(3));
        QVERIFY(!symbolRate->isEnabled());
        Ticks(form, 3);
        QCOMPARE(form.m_record.deliverySystem, 2);
    } else {
        delivery->setCurrentIndex(1);
        form.UpdateDeliveryControls();
    }
    QCOMPARE(symbolRate->isEnabled(), cable);
    QCOMPARE(form.findChild<QComboBox *>("cableConstellationList")->isEnabled(), cable);
    QCOMPARE(mode->isEnabled(), !cable);
    QCOMPARE(form.findChild<QComboBox *>("guardList")->isEnabled(), !cable);
}

void TestFormDevice::failedReadBackKeepsForm_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("linkError");

    QTest::newRow("0x82 refused") << "0x82"
                                  << "refuse@cmd=0x70,times=1" << 0;
    QTest::newRow("0x82 silent") << "0x82"
                                 << "silent@cmd=0x70,times=1" << 1;
    QTest::newRow("0x78 refused") << "0x78"
                                  << "refuse@cmd=0xC0/03,times=1" << 0;
}

void TestFormDevice::failedReadBackKeepsForm()
{
    QFETCH(QString, type);
    QFETCH(QString, fault);
    QFETCH(int, linkError);

    formtest::Recorders recorders;
    QVERIFY(Connect({"--type", type}));
    CSetting form;
    Prepare(form);
    const DeviceConfig loaded = form.m_record;
    m_sim->Control(fault.toLatin1());
    QTest::qWait(200); // the simulator reads its controls between frames

    form.findChild<QLineEdit *>("frequencyEdit")->setText(QStringLiteral("522000"));
    Ticks(form, 3);
    QCOMPARE(g_xmit.m_linkError, linkError);
    QVERIFY(recorders.statusTexts.contains(QStringLiteral("Config. read error")));
    // The form and the record hold what was written, not zeros.
    QCOMPARE(form.findChild<QLineEdit *>("frequencyEdit")->text(), QStringLiteral("522000"));
    QCOMPARE(form.m_record.frequencyKhz, 522000);
    QCOMPARE(form.m_record.serviceName, loaded.serviceName);
    QCOMPARE(form.m_record.pmtPid, loaded.pmtPid);
    QCOMPARE(form.findChild<QLineEdit *>("serviceNameEdit")->text(), loaded.serviceName);
    QCOMPARE(form.m_changeCountdown, quint8(0));
}

void TestFormDevice::nothingWrittenBeforeFirstRead()
{
    formtest::Recorders recorders;
    QVERIFY(m_sim->Start({"--type", "0x82", "--fault", "refuse@cmd=0x70,times=1"}));
    g_xmit.SetPortPaths({m_sim->LinkPath()});
    QVERIFY(g_xmit.FindDevice() != 0);
    const QByteArray stored = m_sim->StateFile("fs/VX360HD/current11.cfg");
    CSetting form;
    Prepare(form); // the first read is refused
    QVERIFY(recorders.statusTexts.contains(QStringLiteral("Config. read error")));

    Mark();
    form.findChild<QLineEdit *>("frequencyEdit")->setText(QStringLiteral("522000"));
    Ticks(form, 3);
    // Instead of the unknown record, the device's own is read again.
    QCOMPARE(Requests(), QStringList{"0x70 read-config"});
    QCOMPARE(m_sim->StateFile("fs/VX360HD/current11.cfg"), stored);
    QCOMPARE(form.m_record.frequencyKhz, 474000);

    // From then on edits are written.
    Mark();
    form.findChild<QLineEdit *>("frequencyEdit")->setText(QStringLiteral("522000"));
    Ticks(form, 3);
    QCOMPARE(Requests(), kWrite82);
    QCOMPARE(form.m_record.frequencyKhz, 522000);
}

void TestFormDevice::noDefaultWithoutWrite_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("reads");

    QTest::newRow("0x82, the read fails again")
        << "0x82"
        << "refuse@cmd=0x70,times=2" << QStringList{"0x70 read-config"};
    QTest::newRow("0x82, the read succeeds now")
        << "0x82"
        << "refuse@cmd=0x70,times=1" << QStringList{"0x70 read-config"};
    QTest::newRow("0x78, the read succeeds now") << "0x78"
                                                 << "refuse@cmd=0xC0/03,times=1" << kReadBack78;
}

void TestFormDevice::noDefaultWithoutWrite()
{
    QFETCH(QString, type);
    QFETCH(QString, fault);
    QFETCH(QStringList, reads);

    formtest::Recorders recorders;
    QVERIFY(m_sim->Start({"--type", type, "--fault", fault}));
    g_xmit.SetPortPaths({m_sim->LinkPath()});
    QVERIFY(g_xmit.FindDevice() != 0);
    CSetting form;
    Prepare(form); // the first read is refused

    // "Set as Def. Param" while the form does not hold the device's record:
    // nothing was written, so nothing is made the default and no beep says
    // it was.
    Mark();
    form.findChild<QPushButton *>("setDefaultButton")->click();
    Ticks(form, 1);
    QCOMPARE(Requests(), reads);
    QCOMPARE(recorders.beeps, (QList<QPair<int, int>>{}));
    QCOMPARE(form.m_defaultRequest, quint8(0));
    QCOMPARE(g_xmit.m_rebootPending, 0);
}

namespace {

// A warning the user takes his time to acknowledge: its event loop runs
// while it is open, the form timer's ticks included.
class SlowMessages final : public MessageSink
{
public:
    SlowMessages() { SetMessageSink(this); }
    ~SlowMessages() override { SetMessageSink(nullptr); }
    void Warning(const QString &, const QString &text) override
    {
        texts << text;
        QTest::qWait(1500);
    }
    QStringList texts;
};

} // namespace

void TestFormDevice::checkMessageDuringLoadWritesNothing()
{
    // The device holds a video bit rate the form's check refuses.
    DeviceConfig record;
    record.reference = "SLOW";
    record.deliverySystem = 1;
    record.frequencyKhz = 474000;
    record.networkName = "NET";
    record.serviceName = "SVC";
    record.pmtPid = 256;
    record.videoPid = 257;
    record.audioPid = 258;
    record.videoBitrateKbps = 2000;
    RecordBuffer bytes{};
    const quint16 n = WriteFullLayout(record, bytes);
    const QString config = m_sim->StateDir() + QStringLiteral("/fs/VX360HD/current11.cfg");
    QVERIFY(QDir().mkpath(QFileInfo(config).path()));
    QFile file(config);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char *>(bytes.data()), n);
    file.close();

    formtest::Recorders recorders;
    SlowMessages messages;
    QVERIFY(Connect({"--type", "0x82"}));
    CSetting form;
    form.PrepareForDevice(); // the form timer runs while the message is open
    form.StopFormTimer();
    QCOMPARE(messages.texts,
             QStringList{QStringLiteral("Enter an integer between 3000 and 12000.")});
    QCOMPARE(Requests(), QStringList{"0x70 read-config"});
    QCOMPARE(form.m_changeCountdown, quint8(0));
    QCOMPARE(m_sim->StateFile("fs/VX360HD/current11.cfg"),
             QByteArray(reinterpret_cast<const char *>(bytes.data()), n));
}

QTEST_MAIN(TestFormDevice)
#include "tst_formdevice.moc"
