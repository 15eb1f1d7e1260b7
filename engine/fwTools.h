// Byte counts as the user interface shows them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// "0 MB", "1023 B", "1.0 KB", "12.5 MB", "1.0 GB" with the user's decimal
// separator; for the review tree and the update window.
std::string SizeText(int64_t bytes);
// As SizeText, with "B" up to 100 bytes and "KB" up to 100 KB; for the result
// pages.
std::string ResultSizeText(int64_t bytes);

// Formats "%.1f" with the given decimal separator (the user's by default).
std::string FormatOneDecimal(double value, char separator = 0);

// ---- file reference resolution ---------------------------------------------
// Does the file a registry text refers to exist? The text may be a command
// line, a quoted path, a path with variables, macros or a resource suffix, or
// a bare program name, alone or with arguments (a command of the system's DLL
// host counts when the library it names is found). Mode: 0 both views, 1 the
// 32-bit view, 2 the 64-bit view (every mode is 1 on a 32-bit system). On true, path holds the resolved
// path in lower case (after a search-path hit: the cleaned text); on false it
// holds whatever the last probe left. A path on a network share, on a drive
// that is not fixed or on a letter that is not mapped cannot be checked and
// counts as found. Nothing raises; redirection is always restored.
enum TfwViewMode { vmBoth = 0, vm32 = 1, vm64 = 2 };

bool ResolveCommandTarget(const std::string &text, int mode, std::string &path);
bool ResolveFileRef(const std::string &text, int mode, std::string &path);
// The path part of a command-line-like text.
std::string CleanPath(const std::string &text);
// Existence test with completion of the file name; path is lower-cased and,
// on true, replaced by what was found. With noFolderWalk only files count:
// no folder, and no walk along the folders of the path.
bool FindFileInPath(std::string &path, bool noFolderWalk);
// A file whose name ends at one of the spaces after the last backslash.
bool FindFileBeforeSpace(std::string &path);
// The text names something on a fixed local drive and holds no unresolved
// variable in its folder part.
bool IsOnFixedDrive(const std::string &text);

// ---- wildcard file search ----------------------------------------------------

// One entry of a file list: a file with its size in bytes (full 64-bit size),
// or a folder, whose path ends with a backslash and whose size is 0.
struct TfwFoundFile {
    std::string Path;
    int64_t Size = 0;
};

// Appends what the pattern names, in the order the system lists it, a folder's
// content after the folder's own entry. The pattern is trimmed and its path
// macros expanded (32-bit mode); "*" in folder names matches every subfolder
// at that level. A pattern ending with a backslash means all files below that
// folder. Masks match long names only, never through an 8.3 name. With
// recurse, subfolders whose names match the name part are listed and searched
// too. Links to folders (junctions, symbolic links) are never entered, neither
// by recursion nor by a wildcard folder level; with recurse they are listed.
// Unreadable folders add nothing; nothing raises.
void FindFiles(const std::string &pattern, std::vector<TfwFoundFile> &list, bool recurse);
int64_t SumSizes(const std::vector<TfwFoundFile> &list);
// Appends the direct subfolders of folder (macros expanded): with fullPaths as
// folder + name + "\", otherwise the bare names.
void ListSubfolders(const std::string &folder, std::vector<std::string> &list, bool fullPaths);

// ---- evidence of findings ----------------------------------------------------
// Pieces of the texts a finding gives as its reason (TfwItem::Why). They name
// the view only on a 64-bit system, where it tells the user where to look.

// " (32-bit view)" or " (64-bit view)"; empty on a 32-bit system.
std::string ViewNote(bool is64);
// As ViewNote for a resolution mode; vmBoth reads " (both views)".
std::string ModeNote(int mode);
// "file C:\x\gone.dll not found (32-bit view)": the path part of a reference
// that did not resolve.
std::string MissingFileWhy(const std::string &text, int mode);
