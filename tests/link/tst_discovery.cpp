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

// Ports described one per entry as "NAME KIND [HEX [DELAY_MS]]":
//   ok HEX      a good reply carrying the payload HEX
//   raw HEX     exactly these bytes
//   silent      no answer
//   missing / busy / denied   the open fails so
// Returns the paths in list order.
QStringList buildBus(FakeBus &bus, const QStringList &ports)
{
    QStringList paths;
    for (const QString &entry : ports) {
        const QStringList f = entry.split(' ');
        paths << f[0];
        if (f[1] == "missing")
            continue;
        const auto line = bus.add(f[0]);
        if (f[1] == "busy") {
            line->openResult = SerialPort::OpenResult::Busy;
            line->openError = "in use by another program";
        } else if (f[1] == "denied") {
            line->openResult = SerialPort::OpenResult::PermissionDenied;
            line->openError = "permission denied";
        } else if (f[1] == "ok") {
            line->replies = {FakeLine::okReply(QByteArray::fromHex(f[2].toLatin1()))};
        } else if (f[1] == "raw") {
            line->replies = {QByteArray::fromHex(f[2].toLatin1())};
        }
        if (f.size() > 3)
            line->replyDelaysMs = {f[3].toInt()};
    }
    return paths;
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
    void oneScanAsksEveryPortAtOnce_data();
    void oneScanAsksEveryPortAtOnce();
    void lateReplyElsewhereNeverReachesTheWinner();
    void sequentialScanFindsTheSame_data();
    void sequentialScanFindsTheSame();

    void findsTheSimulatorAmongSilentAndMissingPorts();
    void transactionsAgainstTheSimulator();
    void identityAgainstTheSimulator_data();
    void identityAgainstTheSimulator();
    void lostSimulatorRaisesTheLinkError();
    void earlierSimulatorWinsOverAFasterLaterOne_data();
    void earlierSimulatorWinsOverAFasterLaterOne();
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

    // Every port is asked, in scan order.
    QCOMPARE(int(xmit.FindDevice()), 0x17);
    QCOMPARE(bus.openOrder, (QStringList{"A", "B", "C", "D"}));
    QCOMPARE(xmit.m_portNumber, 2);
    QCOMPARE(xmit.CurrentPortPath(), QString("C"));

    // Unplugged and plugged in again: the scan starts where it was.
    bus.openOrder.clear();
    QCOMPARE(int(xmit.FindDevice()), 0x17);
    QCOMPARE(bus.openOrder, (QStringList{"C", "D", "A", "B"}));
    QCOMPARE(xmit.CurrentPortPath(), QString("C"));

    // Moved to A: the scan goes C, D, then wraps round to A.
    bus.openOrder.clear();
    bus.lines["A"]->replies = {FakeLine::okReply(FakeLine::hex("821701"))};
    QCOMPARE(int(xmit.FindDevice()), 0x17);
    QCOMPARE(bus.openOrder, (QStringList{"C", "D", "A", "B"}));
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
    QCOMPARE(bus.openOrder, (QStringList{"B", "0", "A"}));
    QCOMPARE(xmit.CurrentPortPath(), QString("B"));
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

void DiscoveryTest::oneScanAsksEveryPortAtOnce_data()
{
    QTest::addColumn<QStringList>("ports");
    QTest::addColumn<int>("startAt"); // where the device was last found
    QTest::addColumn<QString>("winner");
    QTest::addColumn<int>("software");
    QTest::addColumn<int>("hardware");
    QTest::addColumn<QStringList>("refused");
    QTest::addColumn<int>("linkError");

    QTest::newRow("device behind silent ports")
        << QStringList{"S1 silent", "S2 silent", "S3 silent", "D ok 821701"} << 0 << "D" << 0x17
        << 1 << QStringList() << 0;
    QTest::newRow("device on two ports, the later answers first")
        << QStringList{"A ok 821102 150", "B ok 822203"} << 0 << "A" << 0x11 << 2 << QStringList()
        << 0;
    QTest::newRow("device on two ports, the earlier answers first")
        << QStringList{"A ok 821102", "B ok 822203 150"} << 0 << "A" << 0x11 << 2 << QStringList()
        << 0;
    QTest::newRow("the earlier answers late with a bad check, the later well")
        << QStringList{"A raw 02F382110200 150", "B ok 822203"} << 0 << "B" << 0x22 << 3
        << QStringList() << 0;
    QTest::newRow("the earlier refuses late, the later answers well")
        << QStringList{"A raw 02E0E0 150", "B ok 822203"} << 0 << "B" << 0x22 << 3 << QStringList()
        << 0;
    QTest::newRow("the earlier is cut off, the later answers well")
        << QStringList{"A raw 02F38211", "B ok 782203"} << 0 << "B" << 0x22 << 0 << QStringList()
        << 0;
    QTest::newRow("software 0 on the earlier, a device on the later")
        << QStringList{"A ok 820001 100", "B ok 82220300"} << 0 << "B" << 0x22 << 3 << QStringList()
        << 0;
    QTest::newRow("unknown type on the earlier")
        << QStringList{"A ok 551701", "B ok 822203"} << 0 << "B" << 0x22 << 3 << QStringList() << 0;
    QTest::newRow("noise before a good reply")
        << QStringList{"A raw 11223302050607" +
                           FakeLine::okReply(FakeLine::hex("821701")).toHex().toUpper(),
                       "B ok 822203"}
        << 0 << "A" << 0x17 << 1 << QStringList() << 0;
    QTest::newRow("last-found port first in scan order")
        << QStringList{"A ok 821102", "B silent", "C ok 823303"} << 2 << "C" << 0x33 << 3
        << QStringList() << 0;
    QTest::newRow("scan order wraps round after the last-found port")
        << QStringList{"A ok 821102 100", "B silent", "C silent"} << 1 << "A" << 0x11 << 2
        << QStringList() << 0;
    QTest::newRow("missing, busy and refused ports mixed in")
        << QStringList{"M missing", "P denied", "S silent", "U busy", "D ok 821701", "Q denied"}
        << 0 << "D" << 0x17 << 1 << QStringList{"P", "U"} << 0;
    QTest::newRow("every port silent") << QStringList{"S1 silent", "S2 silent", "S3 silent"} << 0
                                       << "" << 0 << 0 << QStringList() << 1;
    QTest::newRow("no device: software 0 is still stored")
        << QStringList{"A silent", "B ok 820005", "C denied"} << 0 << "" << 0 << 5
        << QStringList{"C"} << 1;
    QTest::newRow("no device, nothing failed: no link error")
        << QStringList{"A ok 551701", "B raw 02E0E0", "M missing"} << 0 << "" << 0 << 0
        << QStringList() << 0;
}

void DiscoveryTest::oneScanAsksEveryPortAtOnce()
{
    QFETCH(QStringList, ports);
    QFETCH(int, startAt);
    QFETCH(QString, winner);
    QFETCH(int, software);
    QFETCH(int, hardware);
    QFETCH(QStringList, refused);
    QFETCH(int, linkError);

    FakeBus bus;
    CXmit xmit;
    const QStringList paths = buildBus(bus, ports);
    attach(xmit, bus, paths);
    xmit.m_portNumber = startAt;

    QCOMPARE(int(xmit.FindDevice()), software);
    QCOMPARE(xmit.CurrentPortPath(), winner);
    QCOMPARE(xmit.IsPortOpen(), !winner.isEmpty());
    QCOMPARE(int(g_softwareVersion), software);
    QCOMPARE(int(g_hardwareVersion), hardware);
    QCOMPARE(xmit.m_linkError, linkError);
    if (!winner.isEmpty())
        QCOMPARE(xmit.m_portNumber, int(paths.indexOf(winner)));
    else
        QCOMPARE(xmit.m_portNumber, startAt);

    QStringList refusedPaths;
    for (const CXmit::RefusedPort &r : xmit.LastScanRefusals())
        refusedPaths << r.path;
    QCOMPARE(refusedPaths, refused);

    // Every port that opened got one identification request and nothing
    // else, and only the winner is still open.
    for (auto it = bus.lines.cbegin(); it != bus.lines.cend(); ++it) {
        const bool opens = it.value()->openResult == SerialPort::OpenResult::Ok;
        QCOMPARE(it.value()->written, opens ? FakeLine::hex("021010") : QByteArray());
        QCOMPARE(it.value()->open, it.key() == winner);
    }
}

void DiscoveryTest::lateReplyElsewhereNeverReachesTheWinner()
{
    FakeBus bus;
    CXmit xmit;
    attach(xmit, bus, {"A", "B"});
    const auto a = bus.add("A");
    a->replies = {FakeLine::okReply(FakeLine::hex("821101")),
                  FakeLine::okReply(FakeLine::hex("821101"))};
    const auto b = bus.add("B");
    b->replies = {FakeLine::okReply(FakeLine::hex("822202"))};
    b->replyDelaysMs = {100};

    // A answers at once and is first in scan order: no waiting for B.
    QCOMPARE(int(xmit.FindDevice()), 0x11);
    QVERIFY(!b->open);
    QCOMPARE(b->replies.size(), 1); // B's reply never came

    QTest::qWait(200);
    quint8 identity[8] = {};
    QCOMPARE(int(xmit.PollIdentity(identity, sizeof identity)), 0x11);
    QCOMPARE(int(g_hardwareVersion), 1);
    QCOMPARE(a->written, FakeLine::hex("021010021010"));
    QCOMPARE(b->written, FakeLine::hex("021010"));
}

void DiscoveryTest::sequentialScanFindsTheSame_data()
{
    oneScanAsksEveryPortAtOnce_data();
}

void DiscoveryTest::sequentialScanFindsTheSame()
{
    QFETCH(QStringList, ports);
    QFETCH(int, startAt);

    // The same ports scanned both ways leave the same result behind.
    struct Result
    {
        int found, type, software, hardware, portNumber, linkError;
        QString path;
        QStringList refused;
        bool operator==(const Result &) const = default;
    };
    auto scan = [&](bool parallel) {
        g_softwareVersion = 0;
        g_hardwareVersion = 0;
        FakeBus bus;
        CXmit xmit;
        attach(xmit, bus, buildBus(bus, ports));
        xmit.m_portNumber = startAt;
        Result r;
        r.found = parallel ? xmit.FindDevice() : xmit.FindDeviceSequential();
        r.type = xmit.m_deviceType;
        r.software = g_softwareVersion;
        r.hardware = g_hardwareVersion;
        r.portNumber = xmit.m_portNumber;
        r.linkError = xmit.m_linkError;
        r.path = xmit.CurrentPortPath();
        for (const CXmit::RefusedPort &refused : xmit.LastScanRefusals())
            r.refused << refused.path;
        return r;
    };
    const Result parallel = scan(true);
    const Result sequential = scan(false);
    QCOMPARE(parallel.path, sequential.path);
    QCOMPARE(parallel.refused, sequential.refused);
    QVERIFY(parallel == sequential);
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

void DiscoveryTest::earlierSimulatorWinsOverAFasterLaterOne_data()
{
    QTest::addColumn<QStringList>("earlierFaults");
    QTest::addColumn<int>("software");

    QTest::newRow("the earlier answers late: it wins")
        << QStringList{"--fault", "delay:250@cmd=0x10"} << 11;
    QTest::newRow("the earlier answers with a bad check: the later wins")
        << QStringList{"--fault", "badcheck@cmd=0x10"} << 22;
    QTest::newRow("the earlier stays silent: the later wins")
        << QStringList{"--fault", "silent@cmd=0x10"} << 22;
}

void DiscoveryTest::earlierSimulatorWinsOverAFasterLaterOne()
{
    QFETCH(QStringList, earlierFaults);
    QFETCH(int, software);

    Sim earlier;
    Sim later;
    QVERIFY(earlier.start("0x82", QStringList{"--sw", "11"} + earlierFaults));
    QVERIFY(later.start("0x78", {"--sw", "22"}));
    SilentTerminal silent;

    CXmit xmit;
    xmit.SetPortPaths({silent.path(), earlier.link(), later.link()});
    QCOMPARE(int(xmit.FindDevice()), software);
    QCOMPARE(xmit.CurrentPortPath(), software == 11 ? earlier.link() : later.link());
    QCOMPARE(int(xmit.m_deviceType), software == 11 ? 0x82 : 0x78);

    // One request each; the winner keeps working, the other hears no more.
    QCOMPARE(int(xmit.PollIdentity()), software);
    QTest::qWait(300);
    const auto requests = [](const Sim &sim) {
        return sim.transcript().filter(QRegularExpression("^\\S+\\s+>\\s")).size();
    };
    QCOMPARE(requests(software == 11 ? earlier : later), 2);
    QCOMPARE(requests(software == 11 ? later : earlier), 1);
}

QTEST_GUILESS_MAIN(DiscoveryTest)
#include "tst_discovery.moc"
