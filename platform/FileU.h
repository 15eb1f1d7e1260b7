// Files: existence, size, forced deletion, copying and whole-file reading.
// Paths are narrow text in the system code page. Nothing here throws; every
// failure shows in the result.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// <windows.h> maps CopyFileEx onto CopyFileExA; this unit's CopyFileEx is a
// different function and the project calls the A functions by their full name.
#undef CopyFileEx

// The attributes can be read and the path is not a folder.
bool FileExists(const std::string &path);
// Size reported by a directory search for the path (wildcards match the first
// entry); -1 when nothing is found.
int64_t FileSize(const std::string &path);

// False when there is no such file. Deletes it; when that fails with "access
// denied" on a file with one name that is no reparse point, grants Everyone
// access, resets the attributes to normal and tries once more. When the retry
// fails too, the previous access list and attributes are put back.
bool DeleteFileForce(const std::string &path);
// As DeleteFileForce; when both attempts fail and scheduleOnFailure is set (NT
// family only), the deletion is scheduled for the next restart: true when the
// file is gone by then or the scheduling call succeeded.
bool DeleteFileOrSchedule(const std::string &path, bool scheduleOnFailure);

// False when the source does not exist, or when the target exists and either
// overwrite is off or the target cannot be force-deleted (the target is then
// left as it was). After a successful copy with everyoneAccess set, Everyone
// gets full access to the target; the result is the copy's alone.
bool CopyFileEx(const std::string &source, const std::string &target, bool everyoneAccess,
                bool overwrite);

// Adds an entry granting Everyone full access (inherited) to the file's or
// folder's access list. NT family only; false elsewhere and on failure.
bool GrantEveryoneFile(const std::string &path);

// The whole file, read shared and retried while another process holds it
// (TFileReader). On failure text is empty.
bool ReadFileToString(const std::string &path, std::string &text);

// ExpandEnvironmentStringsA; empty on failure.
std::string ExpandEnvVars(const std::string &text);
// The text up to its first NUL byte.
std::string CutAtNul(const std::string &text);
