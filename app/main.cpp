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
#include <cstdio>
#include <memory>

namespace {

constexpr int kExitNoDevice = 1;
constexpr int kExitUsage = 2;

void PrintLine(FILE *stream, const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stream);
    std::fflush(stream);
}

// --identify, --help and --version need no window, and so no display: this
// is decided before the application object is built.
bool NeedsNoWindow(int argc, char **argv)
{
    static const QList<QByteArray> kWindowless{"--identify", "-identify", "--help",     "-help",
                                               "-h",         "-?",        "--help-all", "--version",
                                               "-version",   "-v"};
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "--")
            break;
        if (kWindowless.contains(argument))
            return true;
    }
    return false;
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
    std::unique_ptr<QCoreApplication> app;
    if (NeedsNoWindow(argc, argv))
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ZEPHALINK"));
    QCoreApplication::setApplicationVersion(QStringLiteral("%1.%2")
                                                .arg(RIR310IvoduDed::kVersionMajor)
                                                .arg(RIR310IvoduDed::kVersionMinor));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Configures a DVB encoder-modulator on a serial port. The current "
                       "directory is the working folder (logos, config, firmware, pref.txt)."));
    parser.addHelpOption();
    parser.addVersionOption();
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

    // Usage errors exit with 2, apart from the 1 of "no device found".
    if (!parser.parse(QCoreApplication::arguments())) {
        PrintLine(stderr, parser.errorText());
        return kExitUsage;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty()) {
        PrintLine(
            stderr,
            QStringLiteral("Unexpected argument: %1").arg(parser.positionalArguments().first()));
        return kExitUsage;
    }

    const QStringList ports = parser.values(portOption);
    QString simulatedType;
    if (parser.isSet(simulateOption)) {
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

    DesktopAlerts alerts;
    RIR310IvoduDed window;
    window.show();
    window.exec();
    // Nothing is said to the device on the way out.
    return 0;
}
