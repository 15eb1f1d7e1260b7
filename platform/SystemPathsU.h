// Facts about the running system and its fixed folders.
//
// The program is 32-bit. On 64-bit Windows it sees the 32-bit registry and
// file-system views by default; the 64-bit file system is reached through the
// "sysnative" alias (SystemDir64) or by switching redirection off for the
// calling thread.
#pragma once

#include <string>

// Version classes; "Vista or later" is OSVersionClass() > OSClassServer2003.
enum {
    OSClassWin95 = 0,
    OSClassWin98 = 1,
    OSClassWinMe = 2,
    OSClassNT35 = 3,  // never produced
    OSClassNT4 = 4,
    OSClassWin2000 = 5,
    OSClassXP = 6,  // also the answer when the version query fails
    OSClassXPSP2 = 7,
    OSClassServer2003 = 8,
    OSClassVista = 9,
    OSClassServer2008 = 10,
    OSClassServer2008R2 = 11,
    OSClassWin7 = 12,  // and every later workstation
};

// Asked of GetVersionEx at every call (Wine can change the answer per program).
int OSVersionClass();
// The class of a version record's fields (platformId as VER_PLATFORM_*).
int OSVersionClassOf(unsigned platformId, unsigned major, unsigned minor, bool workstation,
                     unsigned servicePackMajor);
// True when this 32-bit process runs under WOW64. False when IsWow64Process is
// missing (Windows 2000, early XP) or fails.
bool Is64BitOS();

// File-system redirection of the calling thread. On a 32-bit system both do
// nothing and return true. Calls nest: only the outermost Disable switches
// redirection off and only its matching Revert restores the saved state. A
// Disable that returned false must not be paired with a Revert; a Revert
// without an open Disable returns false and changes nothing.
bool DisableFsRedirection();
bool RevertFsRedirection();

// Pairs the two for a scope, so that every way out of it restores redirection.
class TFsRedirectionOff {
public:
    TFsRedirectionOff() : FOff(DisableFsRedirection()) {}
    ~TFsRedirectionOff() { if (FOff) RevertFsRedirection(); }
    TFsRedirectionOff(const TFsRedirectionOff &) = delete;
    TFsRedirectionOff &operator=(const TFsRedirectionOff &) = delete;
    bool Ok() const { return FOff; }

private:
    bool FOff;
};

// Known folders. Each is found once per process and cached (also when it is
// not available). A folder is either empty (not available) or ends with a
// backslash; safe to call from any thread. Registry-based folders are read in
// the default (32-bit) view whatever the calling thread selected, so the cache
// does not depend on which thread asked first.
std::string WindowsDir();
std::string SystemDir();
// The 32-bit system folder (SysWOW64) on a 64-bit system, else SystemDir.
std::string SystemDir32();
// The real 64-bit system folder as this 32-bit program can reach it without
// switching redirection: "<windows>\sysnative\" on 64-bit Vista and later,
// else SystemDir.
std::string SystemDir64();
// Drive of the Windows folder with a backslash, e.g. "C:\".
std::string SystemDiskRoot();
// Long form of the temporary folder.
std::string TempDir();
std::string UserProfileDir();
std::string AppDataDir();
std::string CommonAppDataDir();
std::string FavoritesDir();
std::string DesktopDir();
std::string CommonDesktopDir();
std::string StartMenuDir();
std::string CommonStartMenuDir();
std::string ProgramsDir();
std::string CommonProgramsDir();
std::string StartupDir();
std::string CommonStartupDir();
std::string UserDocumentsDir();
std::string AllUsersDocumentsDir();
std::string DownloadedProgramFilesDir();
// The program-files folder of this program's view ("Program Files (x86)" on a
// 64-bit system).
std::string ProgramFilesDir();
std::string ProgramFiles32Dir();
// The 64-bit program-files folder on a 64-bit system, else ProgramFilesDir.
std::string ProgramFiles64Dir();
std::string CommonFilesDir();
std::string CommonFiles32Dir();
std::string CommonFiles64Dir();
