// Folders: existence, creation with parents, deletion and emptying. Folder
// paths may carry a trailing backslash or not. The deleting functions refuse
// (false, nothing touched) the root of a drive or share and an empty name.
#pragma once

#include <string>

// The attributes can be read and the path is a folder.
bool DirectoryExists(const std::string &path);

// withParents: creates every missing folder from the first existing one (a bare
// drive such as "C:" counts as existing) down to path; true when the folder
// exists afterwards, also when it existed before. Without withParents only path
// itself is created: false when that fails, including when it already exists.
// everyoneAccess: each folder created gets a descriptor granting Everyone full
// access; otherwise default security.
bool ForceDirectories(const std::string &path, bool everyoneAccess, bool withParents);

// withContents: first deletes every entry (subfolders with their contents,
// files by DeleteFileForce), carrying on past failures. Then removes the folder
// itself; the result is that removal's alone. Links to folders (junctions,
// symbolic links) inside are removed as links: what they point at is never
// touched.
bool DeleteFolder(const std::string &path, bool withContents);
// The walk of DeleteFolder, keeping the folder itself. True only when every
// entry was deleted (a missing or unreadable folder gives false).
bool EmptyFolder(const std::string &path);
// As DeleteFolder, with files deleted by DeleteFileOrSchedule and subfolders by
// this function; when the folder itself cannot be removed and scheduleOnFailure
// is set (NT family only), its removal is scheduled for the next restart: true
// when it is gone by then or the scheduling call succeeded.
bool DeleteFolderOrSchedule(const std::string &path, bool withContents, bool scheduleOnFailure);
