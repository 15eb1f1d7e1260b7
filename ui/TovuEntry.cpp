// Start of the wizard program until the main program's roles take it over:
// settings and translations first, then the main window.
#include "config/fwSettings.h"
#include "config/fwTranslate.h"
#include "engine/fwClasses.h"
#include "ui/frmAllMain.h"

#include <windows.h>

#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR cmdLine, int)
{
    LoadSettings();
    LoadTranslations();
    SetUILanguage(CurrentLanguage());
    for (char *p = cmdLine; p && *p; ++p)
        if (_strnicmp(p, "/SCAN", 5) == 0) SetScanNowRequested(true);
    return RunMainWindow();
}
