// Finding the device: the identity rules, the order of a scan, refused
// ports, and the real serial path against the simulator on pseudo-terminals.
#include "FakeSerialPort.h"
#include "SilentTerminal.h"
#include "app/SimulatorProcess.h"
#include "link/CXmit.h"

#include <QtTest>

namespace {

// The simulator of one test, with its transcript in a folder of the test's.
struct Sim
{
    SimulatorProcess process;
    QTemporaryDir folder;
    QString transcriptPath() const { return folder.filePath("transcript.txt"); }
    bool start(const QString &type, const QStringList &extra = {})
    {
        QString why;
        const bool ok = process.Start(QStringLiteral(VXSIM_PATH), type, &why,
                                      extra + QStringList{"--transcript", transcriptPath()});
        if (!ok)
            qWarning() << why;
        return ok;
    }
    QString link() const { return process.LinkPath(); }
    QStringList transcript() const
    {
        QFile file(transcriptPath());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLocal8Bit(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }
};

void attach(CXmit &xmit, FakeBus &bus, const QStringList &paths)
{
    xmit.SetPortPaths(paths);
    xmit.SetPortFactory([&bus] { return std::make_unique<FakeBusPort>(&bus); });
}

} // namespace

class DiscoveryTest : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void identityRules_data();
    void identityRules();
    void scanStartsWhereTheDeviceWasLastFound();
    void scanFollowsTheDeviceWhenTheListChanges();
    void scanWithoutDeviceTriesEveryPortOnce();
    void emptyPortListFindsNothing();
    void refusedPortsAreReportedAndSkipped();

    void findsTheSimulatorAmongSilentAndMissingPorts();
    void transactionsAgainstTheSimulator();
    void identityAgainstTheSimulator_data();
    void identityAgainstTheSimulator();
    void lostSimulatorRaisesTheLinkError();
};

void DiscoveryTest::init()
{
    g_softwareVersion = 0;
    g_hardwareVersion = 0;
}

void DiscoveryTest::identityRules_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("found");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("software");
    QTest::addColumn<int>("hardware");
    QTest::addColumn<int>("linkError");

    // Only an exchange that failed raises the link error; a good frame from
    // something that is not our device does not.
    QTest::newRow("0x82 with hardware")
        << FakeLine::okReply(FakeLine::hex("821701")) << 0x17 << 0x82 << 0x17 << 1 << 0;
    QTest::newRow("0x82 two bytes: hardware 0")
        << FakeLine::okReply(FakeLine::hex("8217")) << 0x17 << 0x82 << 0x17 << 0 << 0;
    QTest::newRow("0x78 four bytes")
        << FakeLine::okReply(FakeLine::hex("78170203")) << 0x17 << 0x78 << 0x17 << 3 << 0;
    QTest::newRow("0x78 three bytes: hardware 0")
        << FakeLine::okReply(FakeLine::hex("781702")) << 0x17 << 0x78 << 0x17 << 0 << 0;
    QTest::newRow("version 0 is no device, but is stored")
        << FakeLine::okReply(FakeLine::hex("820001")) << 0 << 0x82 << 0 << 1 << 0;
    QTest::newRow("one byte carries no version")
        << FakeLine::okReply(FakeLine::hex("82")) << 0 << 0x82 << 0 << 0 << 0;
    QTest::newRow("foreign type") << FakeLine::okReply(FakeLine::hex("551701")) << 0 << 0 << 0 << 0
                                  << 0;
    QTest::newRow("refusal") << FakeLine::hex("02E0E0") << 0 << 0 << 0 << 0 << 0;
    QTest::newRow("silence") << QByteArray() << 0 << 0 << 0 << 0 << 1;
}

void DiscoveryTest::identityRules()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, found);
    QFETCH(int, type);
    QFETCH(int, software);
    QFETCH(int, hardware);
    QFETCH(int, linkError);

    FakeBus bus;
    CXmit xmit;
    attach(xmit, bus, {"A"});
    bus.add("A")->replies = {reply};
    QCOMPARE(int(xmit.FindDevice()), found);
    QCOMPARE(int(xmit.m_deviceType), type);
    QCOMPARE(int(g_softwareVersion), software);
    QCOMPARE(int(g_hardwareVersion), hardware);
    QCOMPARE(xmit.IsPortOpen(), found != 0);
    QCOMPARE(xmit.m_linkError, linkError);
}

void DiscoveryTest::scanStartsWhereTheDeviceWasLastFound()
{
    FakeBus bus;
    CXmit xmit;
    const QStringList paths{"A", "B", "C", "D"};
    attach(xmit, bus, paths);
    for (const QString &p : paths)
        bus.add(p);
    bus.lines["C"]->replies = {FakeLine::okReply(FakeLine::hex("821701")),
                               FakeLine::okReply(FakeLine::hex("821701"))};

    QCOMPARE(int(xmit.FindDevice()), 0x17);
    QCOMPARE(bus.openOrder, (QStringList{"A", "B", "C"}));
    QCOMPARE(xmit.m_portNumber, 2);
    QCOMPARE(xmit.CurrentPortPath(), QString("C"));

    // Unplugged and plugged in again: found at once where it was.
    bus.openOrder.clear();
    QCOMPARE(int(xmit.FindDevice()), 0x17);
    QCOMPARE(bus.openOrder, QStringList{"C"});

    // Moved to A: the scan goes C, D, then wraps round to A.
    bus.openOrder.clear();
    bus.lines["A"]->replies = {FakeLine::okReply(FakeLine::hex("821701"))};
    QCOMPARE(int(xmit.FindDevice()), 0x17);
    QCOMPARE(bus.openOrder, (QStringList{"C", "D", "A"}));
    QCOMPARE(xmit.m_portNumber, 0);
}

void DiscoveryTest::scanFollowsTheDeviceWhenTheListChanges()
{
    FakeBus bus;
    CXmit xmit;
    attach(xmit, bus, {"A", "B"});
    bus.add("A");
    bus.add("B")->replies = {FakeLine::okReply(FakeLine::hex("821701")),
                             FakeLine::okReply(FakeLine::hex("821701"))};
    QVERIFY(xmit.FindDevice() != 0);

    // A new port appears in front: the scan still starts at B.
    bus.add("0");
    xmit.SetPortPaths({"0", "A", "B"});
    bus.openOrder.clear();
    QVERIFY(xmit.FindDevice() != 0);
    QCOMPARE(bus.openOrder, QStringList{"B"});
}

void DiscoveryTest::scanWithoutDeviceTriesEveryPortOnce()
{
    FakeBus bus;
    CXmit xmit;
    QStringList paths;
    for (int i = 0; i < 6; ++i) {
        paths << QString("P%1").arg(i);
        bus.add(paths.last());
    }
    attach(xmit, bus, paths);
    QCOMPARE(int(xmit.FindDevice()), 0);
    QCOMPARE(bus.openOrder, paths);
    QVERIFY(!xmit.IsPortOpen());
    QCOMPARE(xmit.m_linkError, 1);
    for (const auto &line : std::as_const(bus.lines)) {
        QVERIFY(!line->open);
        QCOMPARE(line->written, FakeLine::hex("021010"));
    }
}

void DiscoveryTest::emptyPortListFindsNothing()
{
    FakeBus bus;
    CXmit xmit;
    attach(xmit, bus, {"missing"});
    QCOMPARE(int(xmit.FindDevice()), 0);
    QCOMPARE(xmit.m_linkError, 0); // no port was probed
    QVERIFY(xmit.LastScanRefusals().isEmpty());
}

void DiscoveryTest::refusedPortsAreReportedAndSkipped()
{
    FakeBus bus;
    CXmit xmit;
    attach(xmit, bus, {"ttyS0", "busy", "missing", "dev"});
    auto denied = bus.add("ttyS0");
    denied->openResult = SerialPort::OpenResult::PermissionDenied;
    denied->openError = "permission denied";
    auto busy = bus.add("busy");
    busy->openResult = SerialPort::OpenResult::Busy;
    busy->openError = "in use by another program";
    bus.add("dev")->replies = {FakeLine::okReply(FakeLine::hex("821701"))};

    QCOMPARE(int(xmit.FindDevice()), 0x17);
    QCOMPARE(xmit.CurrentPortPath(), QString("dev"));
    const auto refused = xmit.LastScanRefusals();
    QCOMPARE(refused.size(), 2);
    QCOMPARE(refused[0].path, QString("ttyS0"));
    QCOMPARE(refused[0].reason, QString("permission denied"));
    QCOMPARE(refused[0].kind, SerialPort::OpenResult::PermissionDenied);
    QCOMPARE(refused[1].path, QString("busy"));
    QCOMPARE(refused[1].kind, SerialPort::OpenResult::Busy);

    // Each scan reports afresh.
    denied->openResult = SerialPort::OpenResult::Ok;
    busy->openResult = SerialPort::OpenResult::Ok;
    bus.lines["dev"]->replies = {FakeLine::okReply(FakeLine::hex("821701"))};
    xmit.FindDevice();
    QVERIFY(xmit.LastScanRefusals().isEmpty());
}

void DiscoveryTest::findsTheSimulatorAmongSilentAndMissingPorts()
{
    Sim sim;
    QVERIFY(sim.start("0x82", {"--sw", "23", "--hw", "1"}));
    SilentTerminal silent;
    QVERIFY(!silent.path().isEmpty());

    CXmit xmit;
    xmit.SetPortPaths({"/dev/does-not-exist", silent.path(), sim.link()});
    QCOMPARE(int(xmit.FindDevice()), 23);
    QCOMPARE(xmit.m_deviceType, quint8(0x82));
    QCOMPARE(int(g_hardwareVersion), 1);
    QCOMPARE(xmit.CurrentPortPath(), sim.link());
    QCOMPARE(xmit.m_portNumber, 2);
    QCOMPARE(xmit.m_linkError, 0);
    QVERIFY(xmit.LastScanRefusals().isEmpty());

    // The next scan starts at the simulator and finds it first.
    QCOMPARE(int(xmit.FindDevice()), 23);
    const QStringList lines = sim.transcript();
    QCOMPARE(lines.filter(QRegularExpression("^\\S+\\s+>\\s+02 10 10")).size(), 2);
}

void DiscoveryTest::transactionsAgainstTheSimulator()
{
    Sim sim;
    QVERIFY(sim.start("0x78", {"--sw", "23", "--hw", "3", "--status", "2"}));
    CXmit xmit;
    xmit.SetPortPaths({sim.link()});
    QCOMPARE(int(xmit.FindDevice()), 23);
    QCOMPARE(xmit.m_deviceType, quint8(0x78));
    QCOMPARE(int(g_hardwareVersion), 3);

    for (int i = 0; i < 20; ++i) {
        quint8 identity[8] = {};
        QCOMPARE(int(xmit.PollIdentity(identity, sizeof identity)), 23);
        QCOMPARE(identity[2], quint8(2));
    }
    // The current configuration file starts with the record's magic bytes.
    const quint8 open590[3] = {0x01, 0x4E, 0x02};
    QVERIFY(xmit.Transact(0xC0, open590, 3, 500));
    quint8 head[8] = {};
    QVERIFY(xmit.ReadFileData(4, head, sizeof head));
    QCOMPARE(QByteArray(reinterpret_cast<char *>(head), 4), QByteArray("\x50\x46\x5A\x4A", 4));
    const quint8 close[1] = {0x02};
    QVERIFY(xmit.Transact(0xC0, close, 1, 5000));
    QCOMPARE(xmit.m_linkError, 0);
}

void DiscoveryTest::identityAgainstTheSimulator_data()
{
    QTest::addColumn<QString>("idBytes");
    QTest::addColumn<int>("found");
    QTest::addColumn<int>("hardware");

    QTest::newRow("0x82, two bytes") << "8217" << 0x17 << 0;
    QTest::newRow("0x82, version 0") << "820001" << 0 << 1;
    QTest::newRow("0x78, four bytes") << "78170001" << 0x17 << 1;
}

void DiscoveryTest::identityAgainstTheSimulator()
{
    QFETCH(QString, idBytes);
    QFETCH(int, found);
    QFETCH(int, hardware);

    Sim sim;
    QVERIFY(sim.start("0x82", {"--id-bytes", idBytes}));
    CXmit xmit;
    xmit.SetPortPaths({sim.link()});
    QCOMPARE(int(xmit.FindDevice()), found);
    QCOMPARE(int(g_hardwareVersion), hardware);
    QCOMPARE(xmit.IsPortOpen(), found != 0);
}

void DiscoveryTest::lostSimulatorRaisesTheLinkError()
{
    Sim sim;
    QVERIFY(sim.start("0x82"));
    CXmit xmit;
    xmit.SetPortPaths({sim.link()});
    QVERIFY(xmit.FindDevice() != 0);

    sim.process.SendControl("silent on");
    QTRY_VERIFY_WITH_TIMEOUT(!xmit.Transact(0x10, nullptr, 0, 500), 5000);
    QCOMPARE(xmit.m_linkError, 1);

    sim.process.Stop();
    xmit.m_linkError = 0;
    QVERIFY(!xmit.Transact(0x10, nullptr, 0, 500));
    QCOMPARE(xmit.m_linkError, 1);
}

QTEST_GUILESS_MAIN(DiscoveryTest)
#include "tst_discovery.moc"
