// Entry of Tovu.exe: everything a process does is in the program body; the
// interactive role hands over to the wizard's main window.
#include "app/fwAppBody.h"
#include "config/fwSettings.h"
#include "config/fwTranslate.h"
#include "engine/fwClasses.h"
#include "ui/frmAllMain.h"

#include <windows.h>

namespace {

int RunWizard()
{
    LoadTranslations();
    SetUILanguage(CurrentLanguage());
    SetScanNowRequested(ScanNow());
    return RunMainWindow();
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return AppMain(RunWizard);
}
