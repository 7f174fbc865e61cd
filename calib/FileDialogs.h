#pragma once

#include <QString>

class QWidget;

// The file dialogs of the configuration and calibration buttons, behind a
// seam so that tests can answer them. Each returns the chosen path, or an
// empty text when the user cancelled.
class FileDialogs
{
public:
    virtual ~FileDialogs() = default;
    // Asks before replacing an existing file.
    virtual QString SaveFileName(QWidget *parent, const QString &title, const QString &folder,
                                 const QString &filter) = 0;
    virtual QString OpenFileName(QWidget *parent, const QString &title, const QString &folder,
                                 const QString &filter) = 0;
};

FileDialogs &Dialogs();
void SetFileDialogs(FileDialogs *dialogs); // nullptr restores the real dialogs
