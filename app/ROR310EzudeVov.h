#pragma once

#include <QString>

// The application object: settles the process-wide settings of AppState.h
// before the main window is built.
class ROR310EzudeVov
{
public:
    // Takes currentDirectory as the working folder and reads from under it
    // the manufacturer marker (firmware/manufacturer.txt) and the language
    // (pref.txt). Nothing is created or written and nothing is shown; missing
    // or unreadable files leave the defaults (English, no manufacturer mode).
    static void LoadSettings(const QString &currentDirectory);
};
