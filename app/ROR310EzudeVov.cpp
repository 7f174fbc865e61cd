#include "app/ROR310EzudeVov.h"

#include "app/AppState.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <iterator>

namespace {

// Codes of pref.txt, in LanguageIndex order; the first one that matches wins.
constexpr const char *kLanguageCodes[] = {"EN", "FR", "IT", "DE", "PO", "ES"};

QString WorkingFolderFrom(const QString &currentDirectory)
{
    QString folder = QDir::fromNativeSeparators(currentDirectory);
    if (folder.isEmpty())
        folder = QDir::currentPath();
    // No trailing separator, except for a root such as "/" that would
    // otherwise vanish.
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')) && !QDir(folder).isRoot())
        folder.chop(1);
    return folder;
}

int LanguageFromPreferenceFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    // Only the first characters of the first line matter; a limit keeps a
    // huge file without line ends from being read whole.
    QByteArray line = file.readLine(16);
    // Editors that save UTF-8 often put a byte-order mark in front.
    static const QByteArray kUtf8Bom("\xEF\xBB\xBF");
    if (line.startsWith(kUtf8Bom))
        line.remove(0, kUtf8Bom.size());
    const QByteArray code = line.left(2);
    for (int index = 0; index < int(std::size(kLanguageCodes)); ++index) {
        if (code == kLanguageCodes[index])
            return index;
    }
    return 0;
}

} // namespace

void ROR310EzudeVov::LoadSettings(const QString &currentDirectory)
{
    g_workingFolder.clear();
    g_firmwareFolder.clear();
    g_manufacturerMode = 0;
    LanguageIndex = 0;

    g_workingFolder = WorkingFolderFrom(currentDirectory);
    const QDir working(g_workingFolder);
    g_firmwareFolder = working.filePath(QStringLiteral("firmware")) + QLatin1Char('/');

    // Only whether the marker can be opened counts, not what it holds.
    QFile marker(g_firmwareFolder + QStringLiteral("manufacturer.txt"));
    if (marker.open(QIODevice::ReadOnly)) {
        g_manufacturerMode = 1;
        marker.close();
    }

    LanguageIndex = LanguageFromPreferenceFile(working.filePath(QStringLiteral("pref.txt")));
}
