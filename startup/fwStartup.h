// Postponed startup: the startup lists ("startup.xml" in the user's and the
// all-users data folder) that hold Run values taken out of the registry, the
// stash folders ("Startup\" beside them) that hold startup shortcuts taken out
// of the Startup folders, and the routines that put everything back or start
// it after logon in priority order.
//
// Every operation swallows its errors. Nothing here ever drops what the user
// had: a Run value is removed only once the list that records it is on disk,
// and a stashed shortcut is removed only once it is back in (or already
// present in) its Startup folder.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// One startup entry as the delay-startup scan found it.
class TfwFoundStartup {
public:
    bool IsShortcut = false;
    bool IsUser = false;        // HKCU / the user's Startup folder
    std::string App;            // the definition's display name
    int Priority = 0;           // 0 starts first
    std::string ShortcutPath;   // shortcuts only
    HKEY Root = nullptr;        // Run values only
    std::string Key;
    std::string Name;           // the Run value's name
    bool Is64 = false;          // the value lives in the 64-bit view
    bool Expand = false;        // REG_EXPAND_SZ rather than REG_SZ
    std::string Value;          // the command; for a shortcut "\"target\" args"
};

// One recorded Run value.
class TfwRegRunItem {
public:
    bool IsUser = false;
    std::string App, Name, Value;
    bool Is64 = false;
    bool Expand = false;
    int Priority = 0;  // 0..10
};

// What the runner does to the outside world; tests replace it so that no real
// program is started and no real time passes.
struct TfwStartupLauncher {
    void (*Wait)(DWORD ms);
    // A command line, started shown and not waited for (WinExec).
    void (*Exec)(const std::string &commandLine);
    // The shell's "open" of a shortcut file.
    void (*Open)(const std::string &path);
};
extern TfwStartupLauncher StartupLauncher;
// The launcher above as it is built, for tests that put it back.
TfwStartupLauncher DefaultStartupLauncher();

// Called between launches so that the caller's window keeps answering; may be
// empty.
using TfwRunCallback = std::function<void()>;

const char *const RunKeyPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Run\\";

// One startup list: the user's (HKCU) or the machine-wide one (HKLM).
class TfwAllRunItems {
public:
    explicit TfwAllRunItems(bool isUser) : IsUser(isUser) {}
    TfwAllRunItems(const TfwAllRunItems &) = delete;
    TfwAllRunItems &operator=(const TfwAllRunItems &) = delete;

    bool IsUser;
    std::vector<std::unique_ptr<TfwRegRunItem>> Items;  // file order
    int MaxPriority = 0;  // highest priority read by Load

    // UserDataFolder or CommonDataFolder + "startup.xml"; empty when the
    // folder is unknown.
    std::string FileName() const;
    HKEY Root() const { return IsUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

    // Appends the "run" entries of the file. A missing or unreadable file, or
    // one without a "startup" element, adds nothing.
    void Load();
    // With no entries: deletes the file. Otherwise writes the file whole and,
    // only when it is on disk, deletes each listed Run value (missing values
    // are fine). The new text goes to a side file that then replaces the list,
    // so a write that fails leaves the previous list as it was and touches no
    // Run value. False when the entries are not recorded on disk.
    bool Save();
    // The file's text for the current entries (entries without a name or a
    // command are left out).
    std::string Text() const;
    // Adds or updates the entry for a found Run value of this list's scope;
    // shortcuts, other scopes and entries without name or command are ignored.
    // Matching is by exact name, view and value type.
    void AddEntry(const TfwFoundStartup *found);
    // Writes every entry back to its Run value in its view. True when every
    // entry with a name and a command was written.
    bool RestoreAll();
    // Starts the entries level by level from 0 to MaxPriority, about a second
    // apart, with about 5.5 s after a level that started something.
    void RunAll(const TfwRunCallback &callback);

private:
    void RunLevels(const TfwRunCallback &callback);
};

// The stash folder of a scope (created by PostponeShortcut when missing).
std::string StartupStashFolder(bool isUser);

// Moves an existing startup shortcut into the stash folder of its scope,
// replacing a stashed file of that name; the original goes only when the copy
// is there. False when the shortcut was not moved.
bool PostponeShortcut(const TfwFoundStartup &found);
// Moves every stashed "*.lnk" back. A shortcut that the Startup folder holds
// again meanwhile wins and the stashed one is dropped; a stashed shortcut that
// cannot be copied back (or whose Startup folder is unknown) stays stashed.
void RestoreShortcuts(const std::string &stashFolder, const std::string &startupFolder);
// Everything back: both lists to their Run values (a list file is deleted
// only when all its entries were written back), then both stash folders.
void RestorePostponedStartup();
// The tray program's runner: the machine-wide list, the user list, then the
// stashed shortcuts (the user's first). Changes nothing on disk.
void RunPostponedStartup(const TfwRunCallback &callback);
