#include "app/AppState.h"

QString g_workingFolder;
QString g_firmwareFolder;
int g_manufacturerMode = 0;
int LanguageIndex = 0;
int g_forceUpgrade = 0;
int g_relaxDigestChecks = 0;
