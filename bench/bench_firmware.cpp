// Firmware benchmarks:
//   FileFingerprint on a 256 MiB file against md5sum on the same file;
//   a 64 KiB image upload and a 64 KiB component write (and read-back)
//   against the simulator paced at 115200 baud in both directions, as a
//   ratio of the line's limit (bytes on the wire x 10 bits / 115200).
// Usage: bench_firmware [--md5-mib N] [--kib N] [--folder DIR]
#include "VxsimHarness.h"
#include "firmware/FirmwareTransfer.h"
#include "firmware/Md5.h"
#include "link/CXmit.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

namespace {

constexpr int kBaud = 115200;

QByteArray Pattern(qint64 size, int seed)
{
    QByteArray out(int(size), '\0');
    for (qint64 i = 0; i < size; ++i)
        out[i] = char((i * 7 + seed * 13) % 251);
    return out;
}

bool Md5Throughput(const QString &folder, int mib)
{
    const QString path = QDir(folder).filePath(QStringLiteral("md5-bench.bin"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return false;
        const QByteArray chunk = Pattern(1 << 20, 3);
        for (int i = 0; i < mib; ++i)
            f.write(chunk);
    }
    // Both read the file once first so that neither pays for the disk alone.
    FileFingerprint(path);

    QElapsedTimer clock;
    clock.start();
    const QString ours = FileFingerprint(path);
    const double oursSeconds = clock.nsecsElapsed() / 1e9;

    QProcess md5sum;
    clock.restart();
    md5sum.start(QStringLiteral("md5sum"), {path});
    md5sum.waitForFinished(-1);
    const double theirsSeconds = clock.nsecsElapsed() / 1e9;
    const QString theirs =
        QString::fromLatin1(md5sum.readAllStandardOutput()).section(u' ', 0, 0).toUpper();
    QFile::remove(path);

    std::printf("FileFingerprint, %d MiB: %.3f s, %.0f MiB/s\n", mib, oursSeconds,
                mib / oursSeconds);
    std::printf("md5sum,          %d MiB: %.3f s, %.0f MiB/s\n", mib, theirsSeconds,
                mib / theirsSeconds);
    std::printf("time ratio FileFingerprint / md5sum: %.2f (digests %s)\n",
                oursSeconds / theirsSeconds, ours == theirs ? "equal" : "DIFFER");
    return ours == theirs;
}

// Bytes of every frame after the identification, both directions.
qint64 WireBytes(const vxtest::Simulator &sim)
{
    qint64 bytes = 0;
    for (const QString &line : sim.Transcript()) {
        if (line.endsWith(QLatin1String("0x10 identify"))) {
            bytes = 0;
            continue;
        }
        const QString hex = line.mid(2).section(QStringLiteral(" | "), 0, 0);
        bytes += hex.split(u' ', Qt::SkipEmptyParts).size();
    }
    return bytes;
}

void Report(const char *label, double seconds, qint64 wireBytes)
{
    const double limit = wireBytes * 10.0 / kBaud;
    std::printf("%s: %.2f s, %lld bytes on the wire, line limit %.2f s, ratio %.2f\n", label,
                seconds, static_cast<long long>(wireBytes), limit, seconds / limit);
}

// Starts a simulated device of the given type and finds it on its terminal.
bool Connect(vxtest::Simulator &sim, CXmit &xmit, const QString &type, const QStringList &options)
{
    if (!sim.Start(QStringList{QStringLiteral("--type"), type} + options))
        return false;
    xmit.SetPortPaths({sim.LinkPath()});
    return xmit.FindDevice() != 0;
}

bool PacedTransfers(int kib)
{
    const QStringList paced{"--baud", QString::number(kBaud), "--pace-input"};
    const QByteArray data = Pattern(qint64(kib) * 1024, 5);
    {
        vxtest::Simulator sim;
        CXmit xmit;
        if (!Connect(sim, xmit, QStringLiteral("0x82"), paced))
            return false;
        QElapsedTimer clock;
        clock.start();
        const bool ok =
            UploadImage(xmit, reinterpret_cast<const quint8 *>(data.constData()), data.size(), 13);
        const double seconds = clock.nsecsElapsed() / 1e9;
        if (!ok || sim.StateFile(QStringLiteral("image.bin")) != data)
            return false;
        Report(qPrintable(QStringLiteral("image upload, %1 KiB").arg(kib)), seconds,
               WireBytes(sim));
    }
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("component.bin"));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size())
            return false;
        f.close();
        vxtest::Simulator sim;
        CXmit xmit;
        if (!Connect(sim, xmit, QStringLiteral("0x78"), paced))
            return false;
        QElapsedTimer clock;
        clock.start();
        if (!WriteComponent(xmit, path, 701, true))
            return false;
        const double writeSeconds = clock.nsecsElapsed() / 1e9;
        const qint64 writeBytes = WireBytes(sim);
        Report(qPrintable(QStringLiteral("component write, %1 KiB").arg(kib)), writeSeconds,
               writeBytes);
        clock.restart();
        if (!VerifyComponent(xmit, path, 701, true))
            return false;
        const double verifySeconds = clock.nsecsElapsed() / 1e9;
        Report(qPrintable(QStringLiteral("component read-back, %1 KiB").arg(kib)), verifySeconds,
               WireBytes(sim) - writeBytes);
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption md5Option("md5-mib", "Size of the MD5 file in MiB (256).", "N", "256");
    const QCommandLineOption kibOption("kib", "Size of the transfers in KiB (64).", "N", "64");
    const QCommandLineOption folderOption("folder", "Where the MD5 file is written.", "DIR",
                                          QDir::tempPath());
    parser.addOptions({md5Option, kibOption, folderOption});
    parser.process(app);

    bool ok = Md5Throughput(parser.value(folderOption), parser.value(md5Option).toInt());
    ok = PacedTransfers(parser.value(kibOption).toInt()) && ok;
    if (!ok)
        std::fprintf(stderr, "a benchmark failed\n");
    return ok ? 0 : 1;
}
