// Link benchmarks against the simulator over real pseudo-terminals:
//   identification round trips per second, unpaced and paced at 115200 baud;
//   one discovery scan with the device behind 0, 4 and 16 silent ports, and
//   with the device missing, all at once and one port after the other.
// Usage: bench_link [--vxsim PATH] [--rounds N]
#include "SilentTerminal.h"
#include "app/SimulatorProcess.h"
#include "link/CXmit.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

bool roundTrips(const QString &vxsim, const QStringList &extra, int rounds, const char *label)
{
    SimulatorProcess sim;
    QString why;
    if (!sim.Start(vxsim, "0x82", &why, extra)) {
        std::fprintf(stderr, "cannot start the simulator: %s\n", qPrintable(why));
        return false;
    }
    CXmit xmit;
    xmit.SetPortPaths({sim.LinkPath()});
    if (xmit.FindDevice() == 0) {
        std::fprintf(stderr, "simulator not found\n");
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    int good = 0;
    for (int i = 0; i < rounds; ++i)
        good += xmit.PollIdentity() != 0 ? 1 : 0;
    const double seconds = clock.nsecsElapsed() / 1e9;
    std::printf("identification round trips (%s): %d of %d good, %.1f per second, %.2f ms each\n",
                label, good, rounds, rounds / seconds, 1000.0 * seconds / rounds);
    return good == rounds;
}

// One scan over silentPorts silent terminals followed by the simulator
// (when withDevice), timed; both scans are measured in the same run.
bool scanBehindSilentPorts(const QString &vxsim, int silentPorts, bool withDevice, bool parallel)
{
    SimulatorProcess sim;
    QString why;
    if (withDevice && !sim.Start(vxsim, "0x82", &why)) {
        std::fprintf(stderr, "cannot start the simulator: %s\n", qPrintable(why));
        return false;
    }
    std::vector<std::unique_ptr<SilentTerminal>> silent;
    QStringList paths;
    for (int i = 0; i < silentPorts; ++i) {
        silent.push_back(std::make_unique<SilentTerminal>());
        paths << silent.back()->path();
    }
    // Missing: its port is gone (an unplugged adapter), the silent ones stay.
    paths << (withDevice ? sim.LinkPath() : QStringLiteral("/dev/zephalink-bench-unplugged"));
    CXmit xmit;
    xmit.SetPortPaths(paths);
    QElapsedTimer clock;
    clock.start();
    const quint8 found = parallel ? xmit.FindDevice() : xmit.FindDeviceSequential();
    const double ms = clock.nsecsElapsed() / 1e6;
    std::printf("discovery scan (%-10s), device %s %2d silent ports: %8.1f ms (%s)\n",
                parallel ? "all at once" : "one by one", withDevice ? "behind" : "missing,",
                silentPorts, ms, found ? "found" : "not found");
    return (found != 0) == withDevice;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({"vxsim", "Simulator program.", "path", QStringLiteral(VXSIM_PATH)});
    parser.addOption({"rounds", "Identification round trips.", "n", "500"});
    parser.addHelpOption();
    parser.process(app);
    const QString vxsim = parser.value("vxsim");
    const int rounds = parser.value("rounds").toInt();

    bool ok = roundTrips(vxsim, {}, rounds, "unpaced");
    ok = roundTrips(vxsim, {"--baud", "115200"}, rounds, "paced at 115200 baud") && ok;
    for (bool withDevice : {true, false}) {
        for (int silent : {0, 4, 16}) {
            ok = scanBehindSilentPorts(vxsim, silent, withDevice, true) && ok;
            ok = scanBehindSilentPorts(vxsim, silent, withDevice, false) && ok;
        }
    }
    return ok ? 0 : 1;
}
