// The system's cabinet library (cabinet.dll), loaded on first use from the
// system folder by its full path, so that a file of that name planted beside
// the program or in the working folder is never the one loaded.
#pragma once

#include <windows.h>
#include <fdi.h>

#include <string>

struct TCabFunctions {
    HFDI(DIAMONDAPI *FDICreate)(PFNALLOC, PFNFREE, PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE, PFNSEEK,
                                int, PERF) = nullptr;
    BOOL(DIAMONDAPI *FDIIsCabinet)(HFDI, INT_PTR, PFDICABINETINFO) = nullptr;
    BOOL(DIAMONDAPI *FDICopy)(HFDI, char *, char *, int, PFNFDINOTIFY, PFNFDIDECRYPT,
                              void *) = nullptr;
    BOOL(DIAMONDAPI *FDIDestroy)(HFDI) = nullptr;
};

// The loaded functions, or nullptr when the library or one of the functions
// it must export (the compression side included, which this system never
// calls) is missing; error then holds the system's message. The library stays
// loaded until the process ends. Safe to call from any thread.
const TCabFunctions *CabFunctions(std::string &error);

// The system's message for a Win32 error code, without the trailing line
// break; empty when the system has none.
std::string SystemErrorText(DWORD code);
