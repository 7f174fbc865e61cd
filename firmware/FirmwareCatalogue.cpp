#include "firmware/FirmwareCatalogue.h"

#include "app/AppState.h"
#include "app/DecimalText.h"
#include "app/StatusSink.h"
#include "app/TextTable.h"
#include "app/UserAlerts.h"
#include "firmware/Md5.h"
#include "link/CXmit.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstring>
#include <limits>

namespace {

constexpr int kRowConfigurationError = 2;
constexpr int kConfigErrorBeepHz = 880;
constexpr int kConfigErrorBeepMs = 500;
constexpr int kConfigErrorHoldMs = 3000;
constexpr int kFields = 10;

QString ApplicationName()
{
    const QString name = QCoreApplication::applicationName();
    return name.isEmpty() ? QStringLiteral("ZEPHALINK") : name;
}

// Longest list or digest line taken; the rest of a longer line is dropped,
// so a damaged file cannot make one line take all the memory there is.
constexpr qint64 kMaxLineBytes = 4096;

// One text line of an 8-bit file without its line end; false at the end.
bool ReadTextLine(QFile &file, QString *line)
{
    if (file.atEnd())
        return false;
    QByteArray bytes = file.readLine(kMaxLineBytes + 1); // gives at most kMaxLineBytes
    if (!bytes.endsWith('\n')) {
        for (QByteArray rest = bytes; !rest.endsWith('\n') && !file.atEnd();)
            rest = file.readLine(kMaxLineBytes);
    }
    if (bytes.endsWith('\n'))
        bytes.chop(1);
    if (bytes.endsWith('\r'))
        bytes.chop(1);
    *line = QString::fromLatin1(bytes);
    return true;
}

// A component file name must stay inside the hardware folder.
bool NameStaysInFolder(const QString &name)
{
    return !name.contains(u'/') && !name.contains(u'\\') && name != QLatin1String("..") &&
           name != QLatin1String(".");
}

} // namespace

qint32 ReadDecimal(const QString &text)
{
    qint32 value = 0;
    ScanDecimal(text, &value);
    return value;
}

QString FirmwareFolderForHardware()
{
    return g_firmwareFolder + QStringLiteral("H%1/").arg(int(g_hardwareVersion));
}

QString FindFirmwarePackage(const QString &deviceName, int *release, QByteArray *image)
{
    *release = 0;
    image->clear();
    if (g_firmwareFolder.isEmpty())
        return QString(); // no working folder, no catalogue

    QString path;
    int best = 0;
    const QDir folder(g_firmwareFolder);
    const QStringList names =
        folder.entryList({QStringLiteral("*.bin")}, QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString &name : names) {
        const qsizetype underscore = name.indexOf(u'_');
        if (underscore < 0 || name.left(underscore) != deviceName)
            continue;
        const int r = ReadDecimal(name.mid(underscore + 1, 2));
        if (r > best) {
            best = r;
            path = folder.filePath(name);
        }
    }
    if (best == 0)
        return path;

    // Offsets are 24 bits: a larger image would land on top of its own start.
    const qint64 size = QFileInfo(path).size();
    if (size > kMaxImageSize) {
        ShowWarning(ApplicationName(),
                    QStringLiteral("Firmware package %1 is %2 bytes; at most %3 bytes can be "
                                   "sent to the device. It was not used.")
                        .arg(QFileInfo(path).fileName())
                        .arg(size)
                        .arg(kMaxImageSize));
        return path;
    }

    const QString expected = path.left(path.size() - 4).right(32).toUpper();
    const QString actual = FileFingerprint(path).toUpper();
    if (actual != expected && best != 99) {
        ShowNotice(ApplicationName(), QStringLiteral("MD5 Error") + actual + expected);
        return path;
    }

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return path;
    *image = file.readAll();
    Status().SetProgress(int(image->size()), 0);
    if (image->size() != size || file.error() != QFileDevice::NoError)
        return path; // read short: release stays 0
    *release = best;
    return path;
}

ComponentEntry ParseComponentLine(const QString &line)
{
    QString rest = line + u' ';
    QString fields[kFields];
    for (QString &field : fields) {
        qsizetype start = 0;
        while (start < rest.size() && rest.at(start) == u' ')
            ++start;
        qsizetype end = rest.indexOf(u' ', start);
        if (end < 0)
            end = rest.size();
        field = rest.mid(start, end - start);
        rest = rest.mid(end);
    }
    ComponentEntry e;
    e.fileNumber = ReadDecimal(fields[0]);
    e.identityOffset = ReadDecimal(fields[1]);
    e.identityLength = quint8(ReadDecimal(fields[2]));
    e.identityValue = ReadDecimal(fields[3]);
    e.versionOffset = ReadDecimal(fields[4]);
    e.release = quint8(ReadDecimal(fields[5]));
    e.lengthPrefix = fields[6].contains(u'L') ? 1 : 0;
    e.name = fields[7];
    e.file = fields[8];
    e.digest = fields[9].toUpper();
    e.needsWrite = 0;
    return e;
}

bool LoadComponentList(CXmit &xmit, const QString &listPath, const QString &digestPath,
                       ComponentList &list)
{
    list.count = 0;
    bool error = true;
    const QString folder = QFileInfo(listPath).path() + u'/';

    QFile digestFile(digestPath);
    if (digestFile.open(QIODevice::ReadOnly)) {
        QString expected;
        ReadTextLine(digestFile, &expected);
        digestFile.close();
        expected = expected.toUpper();
        if (expected == FileFingerprint(listPath) || g_relaxDigestChecks) {
            QFile listFile(listPath);
            if (listFile.open(QIODevice::ReadOnly)) {
                error = false;
                QString line;
                while (list.count < kMaxComponents && ReadTextLine(listFile, &line) &&
                       !line.isEmpty())
                    list.entries[list.count++] = ParseComponentLine(line);
            }
        }
    }

    for (int i = 0; i < list.count; ++i) {
        ComponentEntry &e = list.entries[i];
        // The header buffer bounds what is read: a line asking for more is
        // refused rather than read past, as is a file outside the folder.
        const qint64 identityEnd = qint64(e.identityOffset) + e.identityLength;
        const qint64 need = qMax<qint64>(identityEnd, e.versionOffset) + 1;
        if (!NameStaysInFolder(e.file) || e.identityOffset < 0 || e.versionOffset < 0 ||
            need > kHeaderBufferSize) {
            e.refused = 1;
            error = true;
            continue;
        }
        if (FileFingerprint(folder + e.file) != e.digest && !g_relaxDigestChecks) {
            error = true;
            continue;
        }

        quint8 header[kHeaderBufferSize] = {};
        const quint16 number = quint16(e.fileNumber);
        const quint8 open[3] = {0x01, quint8(number & 0xFF), quint8(number >> 8)};
        xmit.Transact(kCmdFile, open, 3, 500);
        const bool read = xmit.ReadFileData(quint16(need), header, kHeaderBufferSize);
        const int got = read ? qMin(xmit.m_replyLength, kHeaderBufferSize) : 0;
        const quint8 close[1] = {0x02};
        xmit.Transact(kCmdFile, close, 1, 5000);

        // A device file that could not be read, or is too short to hold the
        // bytes the checks below compare, is not a current copy: write it. A
        // line without identity and with release 0 compares nothing, so a
        // missing device file leaves it alone (and a line of blanks never
        // restarts the device).
        const qint64 used =
            qMax<qint64>(e.identityLength ? identityEnd : 0, e.release ? e.versionOffset + 1 : 0);
        if (got < used) {
            e.needsWrite = 1;
            continue;
        }
        if (e.identityLength != 0) {
            quint32 v = 0;
            for (int k = 0; k < e.identityLength; ++k)
                v = v * 256 + header[e.identityOffset + k];
            if (qint32(v) != e.identityValue)
                e.needsWrite = 1;
        }
        if (e.release > header[e.versionOffset])
            e.needsWrite = 1;
    }

    if (error) {
        PlayBeep(kConfigErrorBeepHz, kConfigErrorBeepMs);
        Status().ShowStatus(GetText(kRowConfigurationError), kConfigErrorHoldMs, true);
    }
    return !error;
}
