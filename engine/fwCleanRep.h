// The list of recently cleaned registry entries ("cleanrep.xml" beside the
// backup documents). Every entry a repair fixed is remembered for 35 days,
// and no scanner reports it again during that time, even if it reappears.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

class TfwRegItem;

class TfwCleanRep {
public:
    // An empty name means the production file, BackupFolder() + "cleanrep.xml".
    explicit TfwCleanRep(const std::string &fileName = {});
    ~TfwCleanRep();
    TfwCleanRep(const TfwCleanRep &) = delete;
    TfwCleanRep &operator=(const TfwCleanRep &) = delete;

    std::string FileName;  // empty when the backups folder is unknown: no file at all
    // Owned entries by root, each in the order added; only Root, Key,
    // ValueName, Is64 and Date carry information.
    std::vector<std::unique_ptr<TfwRegItem>> MachineEntries, ClassesEntries, OtherEntries;

    // Replaces the lists with the file's entries that are at most 35 days old
    // and rewrites the file when it held anything else. A missing or
    // unreadable file leaves the lists as they are.
    void Load();
    // Rewrites the file; fails silently when its folder does not exist.
    bool Save() const;
    // Remembers the entry with the current time unless it is already listed.
    void Add(HKEY root, const std::string &key, const std::string &name, bool is64);
    // An entry of the item's root with the same key and value name, case
    // ignored; the date is not compared.
    bool Contains(const TfwRegItem &item) const;
    void Clear();

private:
    std::vector<std::unique_ptr<TfwRegItem>> &ListOf(HKEY root);
    const std::vector<std::unique_ptr<TfwRegItem>> &ListOf(HKEY root) const;
};

// Creates and loads the process-wide list on the first call (the first scan
// or fix run of the process) and connects it to the backup recorder, so that
// an entry recorded for the list is added and the list is saved when a backup
// document is finished. The registry items add themselves after a successful
// fix; the run saves the list after each category. fileName replaces the production file (tests). Later calls
// return the same list.
TfwCleanRep *EnsureCleanReport(const std::string &fileName = {});
// The process-wide list; nullptr until EnsureCleanReport made it.
TfwCleanRep *ProcessCleanRep();

