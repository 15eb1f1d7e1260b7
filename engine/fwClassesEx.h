// The concrete items and scanners of the engine tree, and the factory that
// turns an "items" type of the definitions document into a scanner.
#pragma once

#include "backup/fwBackup.h"
#include "engine/fwClasses.h"
#include "engine/fwScanners.h"
#include "engine/fwTools.h"
#include "startup/fwStartup.h"

#include <windows.h>

#include <map>
#include <string>
#include <vector>

enum TfwFileFixMode { ffNone = 0, ffClean = 1, ffDelete = 2 };

// One registry entry: a value a boost list wants to hold, or a broken entry a
// scanner found (then Found is set and Scan leaves it alone).
class TfwRegItem : public TfwItem {
public:
    using TfwItem::TfwItem;

    HKEY Root = nullptr;
    std::string Key, ValueName, Value;
    int ValueType = rtNone;
    int ScanMode = smNone;
    int FixMode = fmNone;
    double Date = 0;  // days since 30 Dec 1899; 0 = none

    // False when the entry is not valid in a list group (no root or key, no
    // scan or fix mode).
    bool LoadFromXML(TXMLTag *tag) override;
    // The written form of the "reg" element.
    std::string GetXML() const override;
    // Compares the stored value with the wanted one in the item's view; a
    // finding that an exception or the list of cleaned entries covers is
    // dropped. Leaves the thread's view as it found it.
    void Scan() override;
    // Records the entry in the open backup document and remembers it in the
    // list of cleaned entries.
    void Backup() override;
    // Writes the value by type, deletes the value, or deletes the key with its
    // subkeys; the item's view stays selected.
    void Fix() override;

    TfwRegEntry Entry() const;
    // "HKLM\Software\Key   ValueName" unless the definitions gave a caption.
    std::wstring ReviewCaption() const override;

private:
    // The reason for the trace and the evidence for the user, both empty when
    // the stored state is acceptable.
    std::string Check(std::string &why) const;
};

// Adds the content of a found key (item.Key, value name empty) to list as
// detail lines: its values, then each subkey followed by its own content,
// depth first, in the current thread's view. Each line is counted as a
// finding of the running category.
void AddKeyDetails(TfwItems *list, const TfwRegItem &item);

class TfwFileItem : public TfwItem {
public:
    using TfwItem::TfwItem;

    std::string Path;
    bool ScanExists = false;
    int FixMode = ffNone;
    // What the scan of a file pattern counted; the fix deletes exactly these.
    std::unique_ptr<std::vector<TfwFoundFile>> Files;

    bool LoadFromXML(TXMLTag *tag) override;
    // Measures what the entry names, minus the excepted files. 64-bit entries
    // run with redirection off and are skipped on a 32-bit system.
    void Scan() override;
    // Folder entry: empties (clean) or deletes (del) the folder, whatever it
    // holds now; with a wildcard in the folder part only the files found below
    // the matched folders go. File pattern: deletes the scan's files. A file
    // that cannot be deleted stays.
    void Fix() override;
    bool IsFolderEntry() const;
    // The caption of the definitions, else the entry's expanded path.
    std::wstring ReviewCaption() const override;

private:
    std::string SearchPattern() const;
};

struct TfwStartupMatch {
    std::string File;
    std::unique_ptr<TfwFoundStartup> Entry;
};

// One known program whose start may be postponed. The entries it matches on
// the system are attached by the delay-startup scan.
class TfwStartupItem : public TfwItem {
public:
    using TfwItem::TfwItem;

    std::string Name;
    std::string Pattern;
    int Priority = 1;
    // After the item's own scan: the program files its pattern matches (Entry
    // empty). After the delay-startup scan: one row per startup entry this
    // definition claimed, with the file it starts. Empty pointer: nothing.
    std::unique_ptr<std::vector<TfwStartupMatch>> Entries;

    bool LoadFromXML(TXMLTag *tag) override;
    std::wstring ReviewCaption() const override;
    // Looks for the pattern's files (the 64-bit folders too on a 64-bit
    // system when the 32-bit expansion finds nothing).
    void Scan() override;
    // The scanner postpones the entries.
    void Fix() override {}
};

// ---- scanners ---------------------------------------------------------------

class TfwItemsList : public TfwItems {
public:
    using TfwItems::TfwItems;
    void LoadFromXML(TXMLTag *tag) override;
    void Scan() override;
};

// The shell's recycle-bin calls as the scanner makes them; tests replace them
// so that the user's real bin is never touched.
struct TfwRecycleBinShell {
    bool (*IsEmpty)();
    bool (*Info)(int64_t &size, int64_t &items);
    bool (*Empty)(const std::string &root, bool confirm, bool progress, bool sound);
    void (*UpdateIcon)();
};

class TfwItemsRecycleBin : public TfwItems {
public:
    using TfwItems::TfwItems;

    bool NotEmpty = false;
    int64_t ItemCount = 0;
    int64_t ByteCount = 0;

    // Defaults to the platform's recycle-bin functions.
    static TfwRecycleBinShell Shell;

    void Scan() override;
    // Empties the bins of all drives, without questions, progress or sound.
    void Fix() override;
    int FoundCount() const override;
    int64_t FoundSize() const override;
    int SelectedCount() const override { return FoundCount(); }
    int64_t SelectedSize() const override { return FoundSize(); }
};

class TfwItemsMissingFiles : public TfwItems {
public:
    using TfwItems::TfwItems;

    // Full key names "HKLM\SOFTWARE"; IgnoreList sorted without regard to case.
    std::vector<std::string> ScanList, IgnoreList, SpecialList;
    // "key=VALUENAME" with the value name upper-cased.
    std::vector<std::string> ExceptList;

    void LoadFromXML(TXMLTag *tag) override;
    size_t EntryCount() const override
    {
        return ScanList.size() + IgnoreList.size() + SpecialList.size() + ExceptList.size();
    }
    // Reports string values naming a missing file on a fixed drive, once per
    // physical value across both views; the fix deletes just that value.
    void Scan() override;
};

// The memory status and the allocation the memory release works with; tests
// replace them (the system's figures are the host's under Wine).
struct TfwMemoryApi {
    // False when the status cannot be read.
    bool (*Status)(uint64_t &totalPhys, uint64_t &availPhys);
    // A zero-filled block, or nullptr.
    void *(*Alloc)(size_t bytes);
    void (*Free)(void *block);
};

class TfwItemsMemory : public TfwItems {
public:
    using TfwItems::TfwItems;

    int64_t TotalMB = 0;
    bool Advised = false;
    // Physical bytes that became available through the last fix; may be
    // negative.
    int64_t Released = 0;

    static TfwMemoryApi Api;
    static TfwMemoryApi DefaultApi();

    // Advises a release on systems of at most 1 GiB with at most a fifth free;
    // the free percentage goes to the status while advised.
    void Scan() override;
    // Allocates and touches one MiB per installed MiB until the system
    // refuses or the run is stopped, then frees everything.
    void Fix() override;
    int FoundCount() const override { return Advised ? 1 : 0; }
    int SelectedCount() const override { return FoundCount(); }
    int64_t ReleasedMemory() const override { return Released; }
};

// Startup programs to postpone (only while the "DELAY_STARTUP" setting is
// on). Run values are recorded in the startup lists and removed at the end of
// a fix that was not stopped; shortcuts move into the stash at once.
class TfwItemsDelayStartup : public TfwItems {
public:
    using TfwItems::TfwItems;

    // The startup entries the scan found and no definition claimed, keyed by
    // the lower-cased short path of the program they start.
    std::multimap<std::string, std::unique_ptr<TfwFoundStartup>> Running;

    // Why the last fix postponed nothing although programs were selected;
    // empty otherwise. The run's status shows it as the group caption.
    std::wstring Refusal;

    // List holds one TfwStartupItem per definition, in document order.
    void LoadFromXML(TXMLTag *tag) override;
    void Scan() override;
    // Refuses (see Refusal) while the tray program's autostart value is
    // missing: nothing else starts the postponed programs.
    void Fix() override;

private:
    void CollectRunValues();
    void CollectShortcuts(const std::string &folder, bool isUser);
};

class TfwItemsAddOns : public TfwItems {
public:
    // Registers itself as the tree's add-on scanner.
    explicit TfwItemsAddOns(TfwMain *main);
    ~TfwItemsAddOns() override;

    // "IDENTIFIER=name" rows of the document, sorted: class identifiers
    // upper-cased, Firefox identifiers lower-cased.
    std::vector<std::string> IEList, FFList;

    void LoadFromXML(TXMLTag *tag) override;
    size_t EntryCount() const override { return IEList.size() + FFList.size(); }
    void Scan() override {}
};

// The scanner for an "items" type (lower-cased), or nullptr for an unknown one.
TfwItems *CreateScanner(const std::string &type, TfwMain *main);
