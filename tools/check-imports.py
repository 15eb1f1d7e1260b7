#!/usr/bin/env python3
"""Fails when a shipped executable imports statically what an old Windows lacks.

A program that imports a function its system does not export does not start
at all there: the loader refuses it before any of our code runs. The programs
support Windows 2000 to 7, so every function below (absent from Windows 2000
or from XP) must be looked up at run time instead, in the one place its unit
keeps for such functions. The table lists the functions of the system
libraries the programs use; a new late function a change starts to use
belongs here too.

  tools/check-imports.py OBJDUMP EXE...
"""
import re
import subprocess
import sys

# library -> functions that Windows 2000 or XP does not export
LATE = {
    "kernel32.dll": """
        AddVectoredExceptionHandler RemoveVectoredExceptionHandler AddVectoredContinueHandler
        AttachConsole GetConsoleProcessList GetModuleHandleExA GetModuleHandleExW GetNativeSystemInfo
        GetLogicalProcessorInformation GetProcessId GetThreadId GetSystemTimes GetSystemWow64DirectoryA
        GetSystemWow64DirectoryW IsWow64Process SetDllDirectoryA SetDllDirectoryW Wow64DisableWow64FsRedirection
        Wow64RevertWow64FsRedirection Wow64EnableWow64FsRedirection WTSGetActiveConsoleSessionId
        CreateMemoryResourceNotification RtlCaptureStackBackTrace GetTickCount64 InitializeSRWLock
        AcquireSRWLockExclusive AcquireSRWLockShared ReleaseSRWLockExclusive ReleaseSRWLockShared
        TryAcquireSRWLockExclusive TryAcquireSRWLockShared InitializeConditionVariable SleepConditionVariableCS
        SleepConditionVariableSRW WakeConditionVariable WakeAllConditionVariable InitOnceExecuteOnce
        InitOnceBeginInitialize InitOnceComplete CreateSymbolicLinkA CreateSymbolicLinkW
        GetFinalPathNameByHandleA GetFinalPathNameByHandleW QueryFullProcessImageNameA
        QueryFullProcessImageNameW GetFileInformationByHandleEx SetFileInformationByHandle
        InitializeCriticalSectionEx CreateEventExA CreateEventExW CreateMutexExA CreateMutexExW
        CreateSemaphoreExA CreateSemaphoreExW GetLocaleInfoEx CancelIoEx GetErrorMode SetThreadErrorMode
        FlsAlloc FlsFree FlsGetValue FlsSetValue GetCurrentProcessorNumber GetQueuedCompletionStatusEx
        LocaleNameToLCID LCIDToLocaleName GetUserDefaultLocaleName Wow64GetThreadContext
    """,
    "advapi32.dll": """
        CreateWellKnownSid IsWellKnownSid CreateProcessWithTokenW RegDeleteTreeA RegDeleteTreeW
        RegDeleteKeyExA RegDeleteKeyExW RegGetValueA RegGetValueW RegCopyTreeA RegCopyTreeW
        RegSetKeyValueA RegSetKeyValueW RegDeleteKeyValueA RegDeleteKeyValueW RegLoadMUIStringA
        RegLoadMUIStringW RegDisablePredefinedCacheEx AddMandatoryAce EventRegister EventUnregister
        EventWrite
    """,
    "shell32.dll": """
        SHGetKnownFolderPath SHSetKnownFolderPath SHCreateItemFromParsingName SHGetStockIconInfo
        SHGetFolderPathAndSubDirA SHGetFolderPathAndSubDirW SHGetPropertyStoreForWindow
        Shell_NotifyIconGetRect
    """,
    "user32.dll": """
        PrintWindow RegisterRawInputDevices GetRawInputData ChangeWindowMessageFilter
        ChangeWindowMessageFilterEx SetProcessDPIAware IsProcessDPIAware ShutdownBlockReasonCreate
        ShutdownBlockReasonDestroy AddClipboardFormatListener RemoveClipboardFormatListener
        RegisterPowerSettingNotification GetWindowDisplayAffinity
    """,
    "psapi.dll": "GetProcessImageFileNameA GetProcessImageFileNameW",
    "gdi32.dll": "D3DKMTOpenAdapterFromHdc",
    "ole32.dll": "CoGetApartmentType",
}
# Libraries that Windows 2000 or XP does not have at all.
LATE_LIBRARIES = {"dwmapi.dll", "uxtheme.dll", "propsys.dll", "api-ms-win-core-synch-l1-2-0.dll"}

LATE_SETS = {dll: set(names.split()) for dll, names in LATE.items()}


def imports(objdump, exe):
    out = subprocess.run([objdump, "-p", exe], check=True, capture_output=True, text=True).stdout
    dll = None
    result = []
    for line in out.splitlines():
        m = re.match(r"\s*DLL Name:\s*(\S+)", line)
        if m:
            dll = m.group(1).lower()
            continue
        m = re.match(r"\s+[0-9a-f]+\s+\d+\s+([A-Za-z_][A-Za-z0-9_@]*)\s*$", line)
        if dll and m:
            result.append((dll, m.group(1)))
    return result


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    objdump, exes = sys.argv[1], sys.argv[2:]
    problems = []
    total = 0
    for exe in exes:
        found = imports(objdump, exe)
        total += len(found)
        libraries = {dll for dll, _ in found}
        for dll in sorted(libraries & LATE_LIBRARIES):
            problems.append(f"{exe}: imports {dll}, which Windows 2000 or XP does not have")
        for dll, name in found:
            if name in LATE_SETS.get(dll, ()):
                problems.append(f"{exe}: imports {dll}!{name}, which Windows 2000 or XP does not export;"
                                " look it up at run time")
    for p in problems:
        print(p)
    if problems:
        print(f"import check: {len(problems)} problem(s)")
        return 1
    print(f"import check: {total} imports of {len(exes)} program(s), none that Windows 2000 or XP lacks")
    return 0


if __name__ == "__main__":
    sys.exit(main())
