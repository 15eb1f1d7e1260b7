// Processes: program paths, sessions, elevation, starting as the desktop user.
#pragma once

#include <windows.h>

#include <string>

// Full path of a process's program file; empty when it cannot be found.
std::string ProcessImagePath(DWORD pid);

// Session attached to the physical console (0 where the system has no
// sessions, Windows 2000).
DWORD ActiveConsoleSession();

// Process id of the first process, in snapshot order, whose program file name
// (no folder) equals exeName ignoring case and that runs in session
// (-1 = the active console session). -1 when none or the snapshot fails.
long FindProcessInSession(const std::string &exeName, long session = -1);

// Before Vista always true; on Vista or later the token's elevation flag of
// the current process; false when the token cannot be read.
bool IsElevated();

// On Vista or later the RID of the process token's integrity label
// (0x1000 low, 0x2000 medium, 0x3000 high, 0x4000 system); 0 before Vista or
// on failure. The handle needs PROCESS_QUERY_INFORMATION (or limited) access.
DWORD IntegrityLevel(HANDLE process);

// Starts a program with a normal window as the desktop user. When the caller
// runs above medium integrity (elevated, Vista or later) the program gets a
// duplicate of the console session's explorer.exe token; without explorer
// nothing is started. Otherwise it is started directly. True when the process
// was created; its handles are closed at once.
bool RunAsDesktopUser(const std::wstring &application, const std::wstring &commandLine);

// How RunAsDesktopUser starts a program for a given system and caller.
enum class TStartRoute { Direct, DesktopToken };
TStartRoute StartRouteFor(int osVersionClass, DWORD callerIntegrity);
// The IsElevated decision: tokenElevation is 1 elevated, 0 not, -1 unreadable.
bool ElevatedFrom(int osVersionClass, int tokenElevation);

// Test seam: replaces what the current process's token answers (elevation flag
// as above, integrity RID). nullptr restores the real token. Production code
// never calls it.
struct TTokenAnswers {
    int elevation;
    DWORD integrity;
};
void SetTokenAnswersForTest(const TTokenAnswers *answers);
