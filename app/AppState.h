#pragma once

#include <QString>

// Process-wide settings fixed at start-up, and the two firmware flags.
extern QString g_workingFolder;  // the current directory at start-up, no trailing separator
extern QString g_firmwareFolder; // g_workingFolder + "/firmware/"
extern int g_manufacturerMode;   // 1 when firmware/manufacturer.txt exists
extern int LanguageIndex;        // 0 EN, 1 FR, 2 IT, 3 DE, 4 PO, 5 ES
extern int g_forceUpgrade;       // set by "Firm. Reload", cleared after each firmware check
extern int g_relaxDigestChecks;  // set by "Firm. Reload", never cleared
