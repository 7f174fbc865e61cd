#include "app/DesktopAlerts.h"
#include "app/RIR310IvoduDed.h"
#include "app/ROR310EzudeVov.h"
#include "app/RefusedPorts.h"
#include "app/SimulatorProcess.h"
#include "link/CXmit.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

constexpr int kExitNoDevice = 1;
constexpr int kExitUsage = 2;

// Ctrl-C, SIGTERM and a closed terminal end the program the ordinary way, so
// that what it made on the way in (the simulator's temporary folder) goes
// too: the handler only notes the request and wakes the event loop.
volatile std::sig_atomic_t g_stopRequested = 0;
int g_stopPipe[2] = {-1, -1};

void OnStopSignal(int)
{
    g_stopRequested = 1;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_stopPipe[1], &byte, 1);
}

bool CatchStopSignals()
{
    if (::pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    return true;
}

// The application object takes Qt's own options (-platform offscreen,
// -style fusion, ...) from the command line itself; our parser, which reads
// the command line before that object exists, lets them pass.
QStringList WithoutQtOptions(const QStringList &arguments)
{
    static const QStringList kWithValue{
        "platform",    "platformpluginpath", "platformtheme", "plugin",  "qwindowgeometry",
        "qwindowicon", "qwindowtitle",       "session",       "display", "geometry",
        "style",       "stylesheet",         "qmljsdebugger"};
    static const QStringList kFlags{"reverse", "widgetcount", "nograb", "dograb", "sync"};
    QStringList kept;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (i == 0 || !argument.startsWith(QLatin1Char('-'))) {
            kept.append(argument);
            continue;
        }
        if (argument == QLatin1String("--")) {
            kept += arguments.mid(i);
            break;
        }
        QString name = argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
        const qsizetype equals = name.indexOf(QLatin1Char('='));
        const bool inlineValue = equals >= 0;
        if (inlineValue)
            name.truncate(equals);
        if (kWithValue.contains(name)) {
            if (!inlineValue)
                ++i; // its value
            continue;
        }
        if (!inlineValue && kFlags.contains(name))
            continue;
        kept.append(argument);
    }
    return kept;
}

void PrintLine(FILE *stream, const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stream);
    std::fflush(stream);
}

// One scan; prints where and what the device is.
int Identify()
{
    const quint8 software = g_xmit.FindDevice();
    for (const QString &line : ListRefusedPorts(g_xmit.LastScanRefusals()))
        PrintLine(stderr, line);
    if (software == 0) {
        PrintLine(stdout, QStringLiteral("no device found"));
        return kExitNoDevice;
    }
    PrintLine(stdout, QString::asprintf("%s type 0x%02x software %d.%d hardware %d",
                                        qPrintable(g_xmit.CurrentPortPath()), g_xmit.m_deviceType,
                                        software / 10, software % 10, g_hardwareVersion));
    g_xmit.ClosePort();
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("ZEPHALINK"));
    QCoreApplication::setApplicationVersion(QStringLiteral("%1.%2")
                                                .arg(RIR310IvoduDed::kVersionMajor)
                                                .arg(RIR310IvoduDed::kVersionMinor));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Configures a DVB encoder-modulator on a serial port. The current "
                       "directory is the working folder (logos, config, firmware, pref.txt)."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Look for the device on PATH only. Repeat it for several ports; "
                       "they are tried in the order given."),
        QStringLiteral("PATH"));
    const QCommandLineOption identifyOption(
        QStringLiteral("identify"),
        QStringLiteral("Look for the device once, print its port, type and versions, and "
                       "exit: 0 when found, 1 when not. No window is opened."));
    const QCommandLineOption simulateOption(
        QStringLiteral("simulate"),
        QStringLiteral("Start the device simulator (vxsim, beside this program) as a device "
                       "of type TYPE, 0x82 or 0x78, and use it instead of the serial ports."),
        QStringLiteral("TYPE"));
    parser.addOption(portOption);
    parser.addOption(identifyOption);
    parser.addOption(simulateOption);

    // The command line is read once, before any application object exists:
    // whether a window is needed follows from this one reading, so the two
    // can never disagree. Usage errors exit with 2 (1 is "no device found")
    // and need no display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (!parser.parse(WithoutQtOptions(arguments))) {
        PrintLine(stderr, parser.errorText());
        return kExitUsage;
    }
    const bool wantsHelp = parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all"));
    const bool wantsVersion = parser.isSet(versionOption);
    if (!wantsHelp && !wantsVersion) {
        if (!parser.positionalArguments().isEmpty()) {
            PrintLine(stderr, QStringLiteral("Unexpected argument: %1")
                                  .arg(parser.positionalArguments().first()));
            return kExitUsage;
        }
        // "--port --identify" gives --port the value "--identify": almost
        // certainly a forgotten path, and no serial port is named like that.
        for (const QString &port : parser.values(portOption)) {
            if (port.isEmpty() || port.startsWith(QLatin1Char('-'))) {
                PrintLine(stderr,
                          QStringLiteral("--port needs a port path, not \"%1\".").arg(port));
                return kExitUsage;
            }
        }
    }

    const QStringList ports = parser.values(portOption);
    QString simulatedType;
    if (!wantsHelp && !wantsVersion && parser.isSet(simulateOption)) {
        simulatedType = parser.value(simulateOption).trimmed().toLower();
        if (simulatedType != QLatin1String("0x82") && simulatedType != QLatin1String("0x78")) {
            PrintLine(stderr, QStringLiteral("--simulate takes 0x82 or 0x78, not \"%1\".")
                                  .arg(parser.value(simulateOption)));
            return kExitUsage;
        }
        if (!ports.isEmpty()) {
            PrintLine(stderr, QStringLiteral("--port and --simulate cannot be used together."));
            return kExitUsage;
        }
    }

    const bool windowless = wantsHelp || wantsVersion || parser.isSet(identifyOption);
    std::unique_ptr<QCoreApplication> app;
    if (windowless)
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);

    if (parser.isSet(QStringLiteral("help-all")))
        parser.process(*app); // prints the help with Qt's own options and exits
    if (wantsHelp)
        parser.showHelp(0);
    if (wantsVersion)
        parser.showVersion();

    const bool catchingSignals = CatchStopSignals();
    ROR310EzudeVov::LoadSettings(QDir::currentPath());

    // Outlives the window: the simulated device must not vanish under it.
    SimulatorProcess simulator;
    if (!simulatedType.isEmpty()) {
        QString why;
        // More simulator options (a hardware version, faults) for demos and
        // manual checks, e.g. ZEPHALINK_VXSIM_OPTIONS="--hw 3".
        const QStringList simulatorOptions =
            QProcess::splitCommand(qEnvironmentVariable("ZEPHALINK_VXSIM_OPTIONS"));
        if (!simulator.Start(SimulatorProcess::DefaultProgram(), simulatedType, &why,
                             simulatorOptions)) {
            PrintLine(stderr, why);
            return kExitUsage;
        }
        g_xmit.SetPortPaths({simulator.LinkPath()});
    } else if (!ports.isEmpty()) {
        g_xmit.SetPortPaths(ports);
    }

    if (parser.isSet(identifyOption))
        return Identify();

    if (g_stopRequested)
        return 0;
    DesktopAlerts alerts;
    RIR310IvoduDed window;
    std::unique_ptr<QSocketNotifier> stopNotifier;
    if (catchingSignals) {
        stopNotifier = std::make_unique<QSocketNotifier>(g_stopPipe[0], QSocketNotifier::Read);
        QObject::connect(stopNotifier.get(), &QSocketNotifier::activated, &window, [&window] {
            char drained[16];
            while (::read(g_stopPipe[0], drained, sizeof drained) > 0) {
            }
            window.done(QDialog::Rejected); // ends exec(); the port is let go
        });
    }
    window.show();
    window.exec();
    // Nothing is said to the device on the way out.
    return 0;
}
