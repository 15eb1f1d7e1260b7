// Fixed locations of the programs, and the small shell routines that both the
// main program and the tray program run: stopping running copies, starting the
// tray program, the autostart value, and swapping in updated executables.
#pragma once

#include <windows.h>

#include <string>

// Freezes every location below at its current value. Each process calls it
// once before it runs a role, so that a location cannot change under a role
// (a shell folder edited meanwhile); before the call the getters compute
// their values afresh.
void FixLocations();

// Folder of the running executable, with a trailing backslash.
std::string ProgramFolder();
std::string MainExePath();       // ProgramFolder + "Tovu.exe"
std::string TrayExePath();       // ProgramFolder + "TovuTray.exe"
std::string UpdateFolder();      // ProgramFolder + "Update\"
// All-users application data + "Tovu\"; "Backup\", "Startup\" and
// "Translate\" live below it.
std::string CommonDataFolder();
// The user's roaming application data + "Tovu\"; "Startup\" and "News\" live
// below it.
std::string UserDataFolder();
std::string BackupFolder();      // CommonDataFolder + "Backup\"
std::string TranslationFolder(); // CommonDataFolder + "Translate\"
std::string CommonStartupStash();// CommonDataFolder + "Startup\"
std::string UserStartupStash();  // UserDataFolder + "Startup\"
std::string NewsFolder();        // UserDataFolder + "News\"
// Every folder path above is empty when its base folder is unknown.

// path with its extension (after the last dot of the file name) replaced by
// ext, or ext appended when the name has none: "Tovu.exe" -> "Tovu.old".
std::string WithExtension(const std::string &path, const std::string &ext);

// The ids of the two window messages the programs post to the tray window
// ("WM_TovuExitToTray", "WM_TovuRefreshTray"), registered on first use; 0 when
// the system refused them.
UINT ExitToTrayMessage();
UINT RefreshTrayMessage();

// Sets "TovuStopMain" and "TovuStopTray" (each held open for 100 ms so that
// the polling programs see it), then gives them 2000 ms to end.
void StopRunningInstances();
// Sets "TovuShowMain" and holds it open for 1000 ms, long enough for the
// running instance's 200 ms poll. False when the event could not be set.
bool SignalShowMain();
// Starts the tray executable without arguments through RunAsDesktopUser, so
// that it never runs elevated. Nothing happens when it does not exist; false
// when it was not started.
bool StartTrayProgram();
// Writes (on) or deletes the autostart value "Tovu" of HKLM's Run key in the
// 32-bit view: "\"" + TrayExePath() + "\" /startup". False when the registry
// refused.
bool SetAutostart(bool on);
// Deletes "Tovu.old" and "TovuTray.old" in ProgramFolder, with alsoNew also
// "Tovu.new" and "TovuTray.new" (forgiving delete). Missing files are no error.
void DeleteLeftoverFiles(bool alsoNew);
// When path's ".new" file exists: deletes path, or moves it to its ".old" name
// when it is in use, copies the ".new" file into its place (once more after
// 1000 ms if that failed) and deletes the ".new" file. The copy keeps the
// folder's inherited access list. True when path holds the new file
// afterwards; false also when there was nothing to swap.
bool SwapInNewFile(const std::string &path);
// Starts "Tovu.new" when it exists in ProgramFolder, else the main
// executable, with the single argument "/completeupdate". True when started.
bool CompleteUpdateOnExit();
// The same for the program folder given (with trailing backslash).
bool CompleteUpdateOnExitIn(const std::string &programFolder);
// A new installation identifier: a decimal number without sign, unique per
// installation (a fresh GUID and the tick count, hashed).
std::string MakeInstallationId();
