// Entry of Tovu.exe: everything a process does is in the program body.
#include "app/fwAppBody.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return AppMain(nullptr);
}
