// The concrete items and scanners of the engine tree, and the factory that
// turns an "items" type of the definitions document into a scanner.
#pragma once

#include "backup/fwBackup.h"
#include "engine/fwClasses.h"

#include <windows.h>

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
    // dropped. Leaves both view flags cleared.
    void Scan() override;
    // Records the entry in the open backup document and remembers it in the
    // list of cleaned entries.
    void Backup() override;
    // Writes the value by type, deletes the value, or deletes the key with its
    // subkeys; the item's view stays selected.
    void Fix() override;

    TfwRegEntry Entry() const;

private:
    std::string Check() const;
};

// Adds the content of a found key (item.Key, value name empty) to list as
// detail lines: its values, then each subkey followed by its own content,
// depth first, in the current thread's view. Each line is counted as a
// finding of the running category.
void AddKeyDetails(TfwItems *list, const TfwRegItem &item);

struct TfwFoundFile {
    std::string Path;
    int64_t Size = 0;
};

class TfwFileItem : public TfwItem {
public:
    using TfwItem::TfwItem;

    std::string Path;
    bool ScanExists = false;
    int FixMode = ffNone;
    std::unique_ptr<std::vector<TfwFoundFile>> Files;

    bool LoadFromXML(TXMLTag *tag) override;
    void Scan() override {}
    void Fix() override {}
};

// One known program whose start may be postponed. The entries it matches on
// the system are attached by the delay-startup scan.
class TfwStartupItem : public TfwItem {
public:
    using TfwItem::TfwItem;

    std::string Name;
    std::string Pattern;
    int Priority = 1;

    bool LoadFromXML(TXMLTag *tag) override;
    void Scan() override {}
    void Fix() override {}
};

// ---- scanners ---------------------------------------------------------------

class TfwItemsList : public TfwItems {
public:
    using TfwItems::TfwItems;
    void LoadFromXML(TXMLTag *tag) override;
    void Scan() override;
};

// Scanners whose search is built on the registry and file layers; until that
// lands they report nothing.
#define TOVU_PENDING_SCANNER(Name)        \
    class Name : public TfwItems {        \
    public:                               \
        using TfwItems::TfwItems;         \
        void Scan() override {}           \
    }

TOVU_PENDING_SCANNER(TfwItemsCLSID);
TOVU_PENDING_SCANNER(TfwItemsInterfaces);
TOVU_PENDING_SCANNER(TfwItemsTypelib);
TOVU_PENDING_SCANNER(TfwItemsUninstall);
TOVU_PENDING_SCANNER(TfwItemsSharedDll);
TOVU_PENDING_SCANNER(TfwItemsMUICache);
TOVU_PENDING_SCANNER(TfwItemsInvalidStartup);
TOVU_PENDING_SCANNER(TfwItemsAppPaths);
TOVU_PENDING_SCANNER(TfwItemsRecycleBin);
TOVU_PENDING_SCANNER(TfwItemsMemory);
#undef TOVU_PENDING_SCANNER

class TfwItemsMissingFiles : public TfwItems {
public:
    using TfwItems::TfwItems;

    // Full key names "HKLM\SOFTWARE"; IgnoreList sorted without regard to case.
    std::vector<std::string> ScanList, IgnoreList, SpecialList;
    // "key=VALUENAME" with the value name upper-cased.
    std::vector<std::string> ExceptList;

    void LoadFromXML(TXMLTag *tag) override;
    void Scan() override {}
};

class TfwItemsDelayStartup : public TfwItems {
public:
    using TfwItems::TfwItems;

    // List holds one TfwStartupItem per definition, in document order.
    void LoadFromXML(TXMLTag *tag) override;
    void Scan() override {}
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
    void Scan() override {}
};

// The scanner for an "items" type (lower-cased), or nullptr for an unknown one.
TfwItems *CreateScanner(const std::string &type, TfwMain *main);
