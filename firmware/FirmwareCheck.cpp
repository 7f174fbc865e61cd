#include "firmware/FirmwareCheck.h"

#include "app/AppState.h"
#include "app/StatusSink.h"
#include "app/TextTable.h"
#include "firmware/FirmwareCatalogue.h"
#include "link/CXmit.h"

namespace {

constexpr int kRowUpgradeTo = 3;
constexpr int kRowWriteError = 4;
constexpr int kRowVerificationError = 5;
constexpr int kRowVerifying = 6;
constexpr int kRowRebooting = 7;
constexpr int kComponentTextMs = 10000;
constexpr int kRebootingMs = 1000;
constexpr int kRestartTimeoutMs = 500;

int ImagePath(CXmit &xmit, const WindowInputLock &lock)
{
    int release = 0;
    QByteArray image;
    FindFirmwarePackage(ImageDeviceName(), &release, &image);
    const bool upgrade = release != 0 && (release > g_softwareVersion || g_forceUpgrade != 0);
    if (!upgrade)
        return 0;
    const bool started = UploadImage(xmit, reinterpret_cast<const quint8 *>(image.constData()),
                                     image.size(), release, lock);
    return started ? 1 : 0;
}

int ComponentPath(CXmit &xmit)
{
    const QString folder = FirmwareFolderForHardware();
    ComponentList list;
    LoadComponentList(xmit, folder + QStringLiteral("firmware.cfg"),
                      folder + QStringLiteral("extension.bin"), list);

    int restart = 0;
    for (int i = 0; i < list.count; ++i) {
        ComponentEntry &e = list.entries[i];
        if (e.refused)
            continue;
        if (e.needsWrite == 0)
            e.needsWrite = g_forceUpgrade ? 1 : 0;
        if (e.needsWrite == 0)
            continue;
        restart = 1;
        const QString path = folder + e.file;
        const quint16 number = quint16(e.fileNumber);
        Status().ShowStatus(e.name + QStringLiteral(" : ") + GetText(kRowUpgradeTo) +
                                QStringLiteral(" %1.%2").arg(e.release / 10).arg(e.release % 10),
                            kComponentTextMs, false);
        if (!WriteComponent(xmit, path, number, e.lengthPrefix)) {
            Status().ShowStatus(e.name + QStringLiteral(" : ") + GetText(kRowWriteError),
                                kComponentTextMs, false);
            continue;
        }
        Status().ShowStatus(e.name + QStringLiteral(" : ") + GetText(kRowVerifying),
                            kComponentTextMs, false);
        if (!VerifyComponent(xmit, path, number, e.lengthPrefix)) {
            Status().ShowStatus(e.name + QStringLiteral(" : ") + GetText(kRowVerificationError),
                                kComponentTextMs, false);
        }
    }
    return restart;
}

} // namespace

QString ImageDeviceName()
{
    return QStringLiteral("VX360SDH%1").arg(int(g_hardwareVersion));
}

int CheckFirmwareAfterConnect(CXmit &xmit, const WindowInputLock &lock)
{
    const int restart =
        xmit.m_deviceType == kDeviceType82 ? ImagePath(xmit, lock) : ComponentPath(xmit);

    g_forceUpgrade = 0;
    Status().SetProgress(1, 0);
    if (restart) {
        const quint8 code = xmit.m_deviceType == kDeviceType82 ? kCmdRestart82 : kCmdRestart78;
        xmit.Transact(code, nullptr, 0, kRestartTimeoutMs);
        xmit.m_rebootPending = 1;
        xmit.ClosePort();
        Status().ShowStatus(GetText(kRowRebooting), kRebootingMs, true);
    }
    return restart;
}
