// The concrete items and scanners of the engine tree, and the factory that
// turns an "items" type of the definitions document into a scanner.
#pragma once

#include "engine/fwClasses.h"

#include <windows.h>

#include <string>
#include <vector>

// Registry value type codes as the documents name them.
enum TfwRegType { rtNone = 0, rtStr = 1, rtExStr = 2, rtBin = 3, rtNum = 4, rtMulStr = 7 };
enum TfwRegScanMode { smNone = 0, smValue = 1, smExists = 2, smBackup = 3 };
enum TfwRegFixMode { fmNone = 0, fmValue = 1, fmDelete = 2 };
enum TfwFileFixMode { ffNone = 0, ffClean = 1, ffDelete = 2 };

int RegTypeFromName(const std::string &name);  // lower-cased compare; 0 otherwise
std::string RegTypeName(int type);             // empty for 0 and unknown codes
// Reads "123" or "$FA00" as 0..4294967295; false for anything else.
bool ParseRegNumber(const std::string &text, uint32_t &value);

class TfwRegItem : public TfwItem {
public:
    using TfwItem::TfwItem;

    HKEY Root = nullptr;
    std::string Key, ValueName, Value;
    int ValueType = rtNone;
    int ScanMode = smNone;
    int FixMode = fmNone;
    double Date = 0;  // days since 30 Dec 1899; 0 = none

    bool LoadFromXML(TXMLTag *tag) override;
    // The written form of the "reg" element.
    std::string GetXML() const override;
    void Scan() override {}
    void Fix() override {}
};

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
