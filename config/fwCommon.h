// Fixed locations of the programs, computed once per process.
#pragma once

#include <string>

// Folder of the running executable, with a trailing backslash.
std::string ProgramFolder();
std::string UpdateFolder();      // ProgramFolder + "Update\"
// All-users application data + "Tovu\"; "Backup\", "Startup\" and
// "Translate\" live below it.
std::string CommonDataFolder();
// The user's roaming application data + "Tovu\"; "Startup\" lives below it.
std::string UserDataFolder();
std::string BackupFolder();      // CommonDataFolder + "Backup\"
