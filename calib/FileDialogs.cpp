#include "calib/FileDialogs.h"

#include <QFileDialog>

namespace {

class DesktopFileDialogs final : public FileDialogs
{
public:
    QString SaveFileName(QWidget *parent, const QString &title, const QString &folder,
                         const QString &filter) override
    {
        return QFileDialog::getSaveFileName(parent, title, folder, filter);
    }
    QString OpenFileName(QWidget *parent, const QString &title, const QString &folder,
                         const QString &filter) override
    {
        return QFileDialog::getOpenFileName(parent, title, folder, filter);
    }
};

DesktopFileDialogs g_desktopDialogs;
FileDialogs *g_dialogs = &g_desktopDialogs;

} // namespace

FileDialogs &Dialogs()
{
    return *g_dialogs;
}

void SetFileDialogs(FileDialogs *dialogs)
{
    g_dialogs = dialogs ? dialogs : &g_desktopDialogs;
}
