// The check after each connection, end to end against vxsim: when a 0x82
// device gets a new image and a 0x78 device new components, what the user is
// shown, the restart, and the reload request.
#include "FirmwareTestSupport.h"
#include "app/AppState.h"
#include "app/CInfo.h"
#include "app/RIR310IvoduDed.h"
#include "app/TextTable.h"
#include "firmware/FirmwareCheck.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray ImageOfRelease(int release)
{
    return fwtest::Pattern(5000, release) + "VXSIM-RELEASE=" + QByteArray::number(release);
}

QString AddPackage(int release, bool goodDigest = true)
{
    const QByteArray image = ImageOfRelease(release);
    const QString path =
        g_firmwareFolder + QStringLiteral("VX360SDH1_%1_%2.bin")
                               .arg(release, 2, 10, QChar(u'0'))
                               .arg(goodDigest ? fwtest::Md5Of(image) : QString(32, u'0'));
    return fwtest::WriteFile(path, image) ? path : QString();
}

// Component A: device file 700, "VX" at 0, release byte at 2, stored as is.
// Component B: device file 701, length in front, "FP" at 4, release byte at 6.
QByteArray ComponentA(int release)
{
    return QByteArray("VX") + char(release) + fwtest::Pattern(300, 1);
}
QByteArray ComponentB(int release)
{
    return QByteArray("FP") + char(release) + fwtest::Pattern(450, 2);
}
QByteArray WithLength(const QByteArray &content)
{
    const quint32 n = quint32(content.size());
    return QByteArray(1, char(n & 0xFF)) + char((n >> 8) & 0xFF) + char((n >> 16) & 0xFF) +
           char(n >> 24) + content;
}

// Hardware folder H1 with A at release 12 and B at release 13.
bool WriteCatalogue(bool badDigestOfB)
{
    const QString folder = g_firmwareFolder + QStringLiteral("H1/");
    const QByteArray list =
        QStringLiteral("700 0 2 22104 2 12 - VXMAIN a.bin %1\n"
                       "701 4 2 18000 6 13 L VXFPGA b.bin %2\n")
            .arg(fwtest::Md5Of(ComponentA(12)),
                 badDigestOfB ? QString(32, u'0') : fwtest::Md5Of(ComponentB(13)))
            .toLatin1();
    return fwtest::WriteFile(folder + "a.bin", ComponentA(12)) &&
           fwtest::WriteFile(folder + "b.bin", ComponentB(13)) &&
           fwtest::WriteFile(folder + "firmware.cfg", list) &&
           fwtest::WriteFile(folder + "extension.bin", fwtest::Md5Of(list).toLatin1() + "\r\n");
}

// Records, with each status text, whether the main window took input then.
class WindowStateSink final : public StatusSink
{
public:
    explicit WindowStateSink(QWidget *window) : m_window(window) { SetStatusSink(this); }
    ~WindowStateSink() override { SetStatusSink(nullptr); }
    void ShowStatus(const QString &text, int, bool) override
    {
        shows << text + (m_window->isEnabled() ? " [enabled]" : " [disabled]");
    }
    void SetProgress(int, int) override {}
    QStringList shows;

private:
    QWidget *m_window;
};

} // namespace

class CheckTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void imagePath_data();
    void imagePath();
    void upgradeOnceThenCurrent();
    void componentPath_data();
    void componentPath();
    void reloadNeverWritesARefusedLine();
    void windowRefusesInputDuringUpload();
    void supervisorUpgradesThenConnects();

private:
    QTemporaryDir *m_dir = nullptr;
};

void CheckTest::init()
{
    m_dir = new QTemporaryDir;
    g_firmwareFolder = m_dir->path() + QStringLiteral("/firmware/");
    QDir().mkpath(g_firmwareFolder);
    g_forceUpgrade = 0;
    g_relaxDigestChecks = 0;
    LanguageIndex = 0;
    CInfo::SetHoldFunction([](int) {});
}

void CheckTest::cleanup()
{
    CInfo::SetHoldFunction(nullptr);
    g_forceUpgrade = 0;
    g_relaxDigestChecks = 0;
    LanguageIndex = 0;
    g_firmwareFolder.clear();
    g_xmit.ClosePort();
    delete m_dir;
    m_dir = nullptr;
}

void CheckTest::imagePath_data()
{
    QTest::addColumn<int>("deviceRelease");
    QTest::addColumn<QList<int>>("packages");
    QTest::addColumn<bool>("force");
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<int>("language");
    QTest::addColumn<int>("restart");
    QTest::addColumn<QStringList>("requests"); // image blocks left out
    QTest::addColumn<QStringList>("texts");

    const QStringList full{"0xC0 image-begin", "0xC0 image-end", "0x20 restart"};
    const QStringList shown13{"upgrade to release  1.3", "Writing, wait...", "Rebooting..."};
    QTest::newRow("12 on the device, 13 in the folder: upgraded")
        << 12 << QList<int>{11, 13} << false << QStringList{} << 0 << 1 << full << shown13;
    QTest::newRow("package 12: nothing written") << 12 << QList<int>{12} << false << QStringList{}
                                                 << 0 << 0 << QStringList{} << QStringList{};
    QTest::newRow("package 11: nothing written") << 12 << QList<int>{11} << false << QStringList{}
                                                 << 0 << 0 << QStringList{} << QStringList{};
    QTest::newRow("reload: package 12 rewritten")
        << 12 << QList<int>{12} << true << QStringList{} << 0 << 1 << full
        << QStringList{"upgrade to release  1.2", "Writing, wait...", "Rebooting..."};
    QTest::newRow("reload: older package 11 written")
        << 12 << QList<int>{11} << true << QStringList{} << 0 << 1 << full
        << QStringList{"upgrade to release  1.1", "Writing, wait...", "Rebooting..."};
    QTest::newRow("reload without a package: nothing")
        << 12 << QList<int>{} << true << QStringList{} << 0 << 0 << QStringList{} << QStringList{};
    QTest::newRow("damaged newest package: nothing, older not tried")
        << 12 << QList<int>{13, -14} << false << QStringList{} << 0 << 0 << QStringList{}
        << QStringList{};
    QTest::newRow("start refused: no restart")
        << 12 << QList<int>{13} << false << QStringList{"refuse@cmd=0xC0/00"} << 0 << 0
        << QStringList{"0xC0 image-begin"} << QStringList{};
    // Frames: 1 identify, 2 start, 3 first block, 4 second block.
    QTest::newRow("second block refused: restarted all the same")
        << 12 << QList<int>{13} << false << QStringList{"refuse@frame=4"} << 0 << 1
        << QStringList{"0xC0 image-begin", "0x20 restart"}
        << QStringList{"upgrade to release  1.3", "Rebooting..."};
    QTest::newRow("texts in the current language")
        << 12 << QList<int>{13} << false << QStringList{} << 1 << 1 << full
        << QStringList{"{3} 1.3", "{8}", "{7}"};
}

void CheckTest::imagePath()
{
    QFETCH(int, deviceRelease);
    QFETCH(QList<int>, packages);
    QFETCH(bool, force);
    QFETCH(QStringList, faults);
    QFETCH(int, language);
    QFETCH(int, restart);
    QFETCH(QStringList, requests);
    QFETCH(QStringList, texts);

    for (int p : packages)
        QVERIFY(!AddPackage(qAbs(p), p > 0).isEmpty());
    QStringList arguments{"--type", "0x82", "--sw", QString::number(deviceRelease)};
    for (const QString &f : faults)
        arguments << "--fault" << f;
    fwtest::Device device;
    QVERIFY(device.Start(arguments));
    fwtest::RecordingStatus status;
    fwtest::RecordingAlerts alerts;
    g_forceUpgrade = force ? 1 : 0;
    LanguageIndex = language;
    for (QString &t : texts) {
        for (int row : {3, 7, 8})
            t.replace(QStringLiteral("{%1}").arg(row), GetText(row));
    }

    QCOMPARE(CheckFirmwareAfterConnect(device.xmit), restart);

    QCOMPARE(g_forceUpgrade, 0);
    QCOMPARE(device.Requests().filter(QRegularExpression("^(?!0xC0 image-block)")), requests);
    QCOMPARE(status.Texts(), texts);
    QCOMPARE(device.xmit.m_rebootPending, restart);
    QCOMPARE(device.xmit.IsPortOpen(), restart == 0);
    QCOMPARE(status.progress.last(), QStringLiteral("0/1")); // the bar left empty
    if (restart) {
        QCOMPARE(status.shows.last().durationMs, 1000);
        QVERIFY(status.shows.last().wait);
    }
    QCOMPARE(alerts.warnings.size(), packages.contains(-14) ? 1 : 0);
}

void CheckTest::upgradeOnceThenCurrent()
{
    QVERIFY(!AddPackage(12).isEmpty());
    QVERIFY(!AddPackage(13).isEmpty());
    fwtest::Device device;
    QVERIFY(device.Start({"--type", "0x82", "--sw", "12", "--restart-ms", "300"}));
    fwtest::RecordingStatus status;

    QCOMPARE(CheckFirmwareAfterConnect(device.xmit), 1);
    QCOMPARE(device.sim.StateFile(QStringLiteral("image.bin")), ImageOfRelease(13));

    // Found again after the restart, now at release 13: left alone.
    QVERIFY(device.Reconnect());
    QCOMPARE(int(g_softwareVersion), 13);
    QCOMPARE(CheckFirmwareAfterConnect(device.xmit), 0);
    QCOMPARE(device.Requests(), QStringList());
    QVERIFY(device.xmit.IsPortOpen());
}

void CheckTest::componentPath_data()
{
    QTest::addColumn<int>("deviceA"); // release byte on the device; 0: no file
    QTest::addColumn<int>("deviceB");
    QTest::addColumn<bool>("force");
    QTest::addColumn<bool>("badDigestOfB");
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<int>("restart");
    QTest::addColumn<QStringList>("written"); // device files opened for writing
    QTest::addColumn<QStringList>("texts");

    QTest::newRow("second component older: only it written and verified")
        << 12 << 12 << false << false << QStringList{} << 1 << QStringList{"701"}
        << QStringList{"VXFPGA : upgrade to release  1.3", "VXFPGA : verifying...", "",
                       "Rebooting..."};
    QTest::newRow("everything current: no message, no restart")
        << 12 << 13 << false << false << QStringList{} << 0 << QStringList{} << QStringList{};
    QTest::newRow("newer on the device: left alone")
        << 20 << 20 << false << false << QStringList{} << 0 << QStringList{} << QStringList{};
    QTest::newRow("reload: every component written, a wrong digest accepted")
        << 12 << 13 << true << true << QStringList{} << 1 << QStringList{"700", "701"}
        << QStringList{"VXMAIN : upgrade to release  1.2",
                       "VXMAIN : verifying...",
                       "",
                       "VXFPGA : upgrade to release  1.3",
                       "VXFPGA : verifying...",
                       "",
                       "Rebooting..."};
    QTest::newRow("wrong digest without reload: error, not written")
        << 12 << 12 << false << true << QStringList{} << 0 << QStringList{}
        << QStringList{"Configuration Error"};
    QTest::newRow("write error: message, no verification, restart")
        << 12 << 12 << false << false << QStringList{"refuse@cmd=0xC0/04"} << 1
        << QStringList{"701"}
        << QStringList{"VXFPGA : upgrade to release  1.3", "VXFPGA : write error !",
                       "Rebooting..."};
    QTest::newRow("components missing on the device: both written")
        << 0 << 0 << false << false << QStringList{} << 1 << QStringList{"700", "701"}
        << QStringList{"VXMAIN : upgrade to release  1.2",
                       "VXMAIN : verifying...",
                       "",
                       "VXFPGA : upgrade to release  1.3",
                       "VXFPGA : verifying...",
                       "",
                       "Rebooting..."};
    // With its length in front, the second one fails at the length, before
    // the "verifying..." text is cleared.
    QTest::newRow("reads refused: written, verification errors, next one goes on")
        << 12 << 13 << false << false << QStringList{"refuse@cmd=0xC0/03"} << 1
        << QStringList{"700", "701"}
        << QStringList{"VXMAIN : upgrade to release  1.2",
                       "VXMAIN : verifying...",
                       "",
                       "VXMAIN : verification error !",
                       "VXFPGA : upgrade to release  1.3",
                       "VXFPGA : verifying...",
                       "VXFPGA : verification error !",
                       "Rebooting..."};
}

void CheckTest::componentPath()
{
    QFETCH(int, deviceA);
    QFETCH(int, deviceB);
    QFETCH(bool, force);
    QFETCH(bool, badDigestOfB);
    QFETCH(QStringList, faults);
    QFETCH(int, restart);
    QFETCH(QStringList, written);
    QFETCH(QStringList, texts);

    g_hardwareVersion = 1;
    QVERIFY(WriteCatalogue(badDigestOfB));
    QMap<QString, QByteArray> state;
    if (deviceA)
        state.insert(QStringLiteral("files/700.bin"), ComponentA(deviceA));
    if (deviceB)
        state.insert(QStringLiteral("files/701.bin"), WithLength(ComponentB(deviceB)));
    QStringList arguments{"--type", "0x78", "--hw", "1"};
    for (const QString &f : faults)
        arguments << "--fault" << f;
    fwtest::Device device;
    QVERIFY(device.Start(arguments, state));
    fwtest::RecordingStatus status;
    fwtest::RecordingAlerts alerts;
    g_forceUpgrade = force ? 1 : 0;
    g_relaxDigestChecks = force ? 1 : 0;

    QCOMPARE(CheckFirmwareAfterConnect(device.xmit), restart);

    QCOMPARE(g_forceUpgrade, 0);
    QCOMPARE(status.Texts(), texts);
    const QStringList requests = device.Requests();
    QStringList writtenNow;
    for (const QString &r : requests)
        if (r.startsWith(QLatin1String("0xC0 open-write ")))
            writtenNow << r.section(u' ', 2);
    QCOMPARE(writtenNow, written);
    QCOMPARE(requests.contains(QStringLiteral("0xD0 restart")), restart == 1);
    if (restart) {
        QCOMPARE(requests.last(), QStringLiteral("0xD0 restart"));
        QVERIFY(!device.xmit.IsPortOpen());
        QCOMPARE(device.xmit.m_rebootPending, 1);
    }
    // What was written and verified is now on the device.
    if (written.contains(QStringLiteral("701")) && faults.isEmpty())
        QCOMPARE(device.sim.StateFile(QStringLiteral("files/701.bin")), WithLength(ComponentB(13)));
    if (written.contains(QStringLiteral("700")) && faults.isEmpty())
        QCOMPARE(device.sim.StateFile(QStringLiteral("files/700.bin")), ComponentA(12));
    // A write error is not followed by reading that component back.
    if (faults.contains(QStringLiteral("refuse@cmd=0xC0/04"))) {
        const qsizetype at = requests.indexOf(QStringLiteral("0xC0 open-write 701"));
        QVERIFY(!requests.mid(at).contains(QStringLiteral("0xC0 open-read 701")));
    }
}

void CheckTest::reloadNeverWritesARefusedLine()
{
    g_hardwareVersion = 1;
    const QString folder = g_firmwareFolder + QStringLiteral("H1/");
    const QString digest = fwtest::Md5Of(ComponentA(12));
    const QByteArray list = QStringLiteral("702 0 2 22104 600 12 - BIG a.bin %1\n"
                                           "703 0 2 22104 2 12 - OUT ../H1/a.bin %1\n"
                                           "700 0 2 22104 2 12 - VXMAIN a.bin %1\n")
                                .arg(digest)
                                .toLatin1();
    QVERIFY(fwtest::WriteFile(folder + "a.bin", ComponentA(12)));
    QVERIFY(fwtest::WriteFile(folder + "firmware.cfg", list));
    QVERIFY(fwtest::WriteFile(folder + "extension.bin", fwtest::Md5Of(list).toLatin1()));
    fwtest::Device device;
    QVERIFY(device.Start({"--type", "0x78", "--hw", "1"},
                         {{QStringLiteral("files/700.bin"), ComponentA(12)}}));
    fwtest::RecordingStatus status;
    fwtest::RecordingAlerts alerts;
    g_forceUpgrade = 1;
    g_relaxDigestChecks = 1;

    QCOMPARE(CheckFirmwareAfterConnect(device.xmit), 1);
    const QStringList requests = device.Requests();
    QCOMPARE(requests.filter(QStringLiteral("open-write")), QStringList{"0xC0 open-write 700"});
    QVERIFY(requests.filter(QStringLiteral("702")).isEmpty());
    QVERIFY(requests.filter(QStringLiteral("703")).isEmpty());
    QCOMPARE(status.Texts().first(), QStringLiteral("Configuration Error"));
    QCOMPARE(alerts.beeps, QStringList{"880/500"});
}

void CheckTest::windowRefusesInputDuringUpload()
{
    QVERIFY(!AddPackage(13).isEmpty());
    RIR310IvoduDed window;
    fwtest::Device device;
    QVERIFY(device.Start({"--type", "0x82", "--sw", "12", "--finish-ms", "200"}));
    device.xmit.ClosePort(); // the window's check runs on the program's link
    g_xmit.SetPortPaths({device.sim.LinkPath()});
    QVERIFY(g_xmit.FindDevice() != 0);
    // Not shown: its own search would start and run inside the check's drain
    // of pending input, which the program only does from that search.
    WindowStateSink sink(&window);

    QCOMPARE(window.CheckFirmwareAfterConnect(), 1);
    QCOMPARE(sink.shows, (QStringList{"upgrade to release  1.3 [disabled]",
                                      "Writing, wait... [disabled]", "Rebooting... [enabled]"}));
    QVERIFY(window.isEnabled());
    QVERIFY(!g_xmit.IsPortOpen());
    QCOMPARE(g_xmit.m_rebootPending, 1);
    g_xmit.m_rebootPending = 0;
    window.done(0);
}

void CheckTest::supervisorUpgradesThenConnects()
{
    // The whole road through the main window: found at 1.2, upgraded,
    // restarted, found again at 1.3 and connected without a second upload.
    QVERIFY(!AddPackage(13).isEmpty());
    fwtest::Device device;
    QVERIFY(device.Start({"--type", "0x82", "--sw", "12", "--restart-ms", "300"}));
    device.xmit.ClosePort();
    g_xmit.SetPortPaths({device.sim.LinkPath()});
    g_xmit.m_rebootPending = 0;

    RIR310IvoduDed window;
    QSignalSpy connected(&window, &RIR310IvoduDed::deviceConnected);
    window.show();
    QVERIFY(connected.wait(30000));

    QCOMPARE(window.windowTitle(), QStringLiteral("ZEPHALINK 2.3 - MORVENTIQUE (S1.3H1)"));
    const QStringList all = device.sim.Transcript();
    QCOMPARE(all.filter(QStringLiteral("| 0xC0 image-begin")).size(), 1);
    QCOMPARE(all.filter(QStringLiteral("| 0x20 restart")).size(), 1);
    QVERIFY(window.isEnabled());
    window.done(0);
    g_xmit.ClosePort();
}

QTEST_MAIN(CheckTest)
#include "tst_check.moc"
