// Program start of the tray companion; command-line arguments are ignored.
#include <windows.h>

#include "tray/fwTray.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return TrayMain();
}
