#include "engine/fwClassesEx.h"
#include "platform/TextU.h"

#include "engine/fwCleanRep.h"
#include "engine/fwExceptions.h"
#include "engine/fwLogs.h"
#include "platform/RegistryU.h"
#include "platform/SystemPathsU.h"
#include "platform/XMLU.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

bool IntText(const std::string &text, int &value)
{
    if (text.empty()) return false;
    char *end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (*end || v > 0x7FFFFFFFL || v < -0x7FFFFFFFL - 1) return false;
    value = int(v);
    return true;
}

struct ScannerType {
    const char *type;
    TfwItems *(*make)(TfwMain *);
};

template <class T>
TfwItems *Make(TfwMain *main) { return new T(main); }

const ScannerType ScannerTypes[] = {
    {"list", Make<TfwItemsList>},
    {"clsid", Make<TfwItemsCLSID>},
    {"interface", Make<TfwItemsInterfaces>},
    {"typelib", Make<TfwItemsTypelib>},
    {"uninstall", Make<TfwItemsUninstall>},
    {"shared-dll", Make<TfwItemsSharedDll>},
    {"muicache", Make<TfwItemsMUICache>},
    {"startup", Make<TfwItemsInvalidStartup>},
    {"app-paths", Make<TfwItemsAppPaths>},
    {"missing-files", Make<TfwItemsMissingFiles>},
    {"recycle-bin", Make<TfwItemsRecycleBin>},
    {"memory", Make<TfwItemsMemory>},
    {"delay-startup", Make<TfwItemsDelayStartup>},
    {"addons", Make<TfwItemsAddOns>},
};

} // namespace

TfwItems *CreateScanner(const std::string &type, TfwMain *main)
{
    for (const auto &t : ScannerTypes)
        if (type == t.type) return t.make(main);
    return nullptr;
}

// ---- registry entries --------------------------------------------------------

TfwRegEntry TfwRegItem::Entry() const
{
    TfwRegEntry e;
    e.Root = Root;
    e.Key = Key;
    e.ValueName = ValueName;
    e.Value = Value;
    e.ValueType = ValueType;
    e.ScanMode = ScanMode;
    e.FixMode = FixMode;
    e.Is64 = Is64;
    e.Date = Date;
    return e;
}

bool TfwRegItem::LoadFromXML(TXMLTag *tag)
{
    TfwRegEntry e;
    ReadRegEntry(tag, e);
    Root = e.Root;
    Key = e.Key;
    ValueName = e.ValueName;
    Value = e.Value;
    ValueType = e.ValueType;
    ScanMode = e.ScanMode;
    FixMode = e.FixMode;
    Is64 = e.Is64;
    Date = e.Date;
    // The caption is single-byte text of the system code page, as written.
    Caption = AnsiToWide(tag->GetAttr("caption"));
    return Root && !Key.empty() && ScanMode != smNone && FixMode != fmNone;
}

std::string TfwRegItem::GetXML() const { return RegEntryXML(Entry()); }

std::wstring TfwRegItem::ReviewCaption() const
{
    if (!Caption.empty()) return Caption;
    std::string key = Key;
    while (!key.empty() && key.back() == '\\') key.pop_back();
    return AnsiToWide(RegRootName(Root) + "\\" + key + "   " + ValueName);
}

namespace {

const char *RegTypeText(DWORD type)
{
    switch (type) {
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    case REG_QWORD: return "REG_QWORD";
    case REG_NONE: return "REG_NONE";
    default: return "another type";
    }
}

std::string Quoted(const std::string &s) { return "\"" + s + "\""; }

} // namespace

// The reason of a finding for the trace, empty when the stored state is
// acceptable; why receives the same finding in the user's words. Runs in the
// view the caller selected.
std::string TfwRegItem::Check(std::string &why) const
{
    const std::string where = RegFullKeyName(Root, Key);
    const std::string view = ViewNote(Is64);
    if (ValueName.empty()) {
        DWORD type;
        std::string text;
        if (RegReadAnyStr(Root, Key, "", type, text)) {
            if (text == Value) return {};
            why = "default value of " + where + " differs: " + Quoted(text) + ", wanted " + Quoted(Value) + view;
            return "Invalid key value: " + text;
        }
        if (ScanMode == smValue && !RegKeyExists(Root, Key)) {
            why = "key " + where + " not found" + view;
            return "Key does not exists!";
        }
        return {};
    }
    const std::string value = "value " + ValueName + " of " + where;
    DWORD stored = 0;
    if (!RegValueType(Root, Key, ValueName, stored)) {
        // "exists" and "backup" only judge a value that is there.
        if (ScanMode == smValue && !RegValueExists(Root, Key, ValueName)) {
            why = value + " not found" + view;
            return "Value does not exists!";
        }
        return {};
    }
    // Plain and expandable strings count as the same type.
    bool bothStrings = (stored == REG_SZ || stored == REG_EXPAND_SZ) && (ValueType == rtStr || ValueType == rtExStr);
    if (int(stored) != ValueType && !bothStrings) {
        why = value + " is of type " + RegTypeText(stored) + ", wanted " + RegTypeText(DWORD(ValueType)) + view;
        return "Required type does not match!";
    }
    std::string text;
    switch (stored) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_MULTI_SZ: {
        DWORD type;
        if (RegReadAnyStr(Root, Key, ValueName, type, text) && text != Value) {
            why = value + " differs: " + Quoted(text) + ", wanted " + Quoted(Value) + view;
            return "Invalid string value: " + text;
        }
        break;
    }
    case REG_DWORD: {
        DWORD number = 0;
        uint32_t wanted = 0;
        if (!ParseRegNumber(Value, wanted)) wanted = 0;
        if (RegReadDWORD(Root, Key, ValueName, number) && number != wanted) {
            why = value + " differs: " + std::to_string(number) + ", wanted " + std::to_string(wanted) + view;
            return "Invalid num value: " + std::to_string(number);
        }
        break;
    }
    case REG_BINARY:
        if (RegReadBinaryHex(Root, Key, ValueName, text) && text != AsciiUpper(Value)) {
            why = value + " differs: " + text + ", wanted " + AsciiUpper(Value) + view;
            return "Invalid binary value: " + text;
        }
        break;
    }
    return {};
}

void TfwRegItem::Scan()
{
    if (Found || ScanMode == smNone || (Is64 && !Is64BitOS())) return;
    TRegViewScope view = TRegViewScope::ForItem(Is64, Is64BitOS());
    try {
        std::string why;
        std::string reason = Check(why);
        if (!reason.empty()) {
            Why = why;
            Trace("BAD REGISTRY:" + RegFullKeyName(Root, Key) + "\\#" + ValueName + " = " + Value, tcScan,
                  tlFinding);
            Trace(reason, tcScan, tlFinding);
            Trace("", tcScan, tlFinding);
            Found = !IsExcepted(*this);
            if (Found) Selected = true;
        }
    } catch (...) {
    }
}

void TfwRegItem::Backup()
{
    if (IsDetail || !Found || !Selected || FixMode == fmNone) return;
    try {
        // The entry joins the cleaned list only once its fix succeeded: a
        // failed fix must show up again in the next scan.
        if (FixMode == fmDelete && ValueName.empty()) BackupKey(Root, Key, Is64, false);
        else BackupValue(Root, Key, ValueName, false, Is64);
    } catch (...) {
    }
}

void TfwRegItem::Fix()
{
    if (IsDetail || !Found || !Selected || FixMode == fmNone) return;
    try {
        const std::string where = RegFullKeyName(Root, Key);
        if (FixMode == fmDelete) {
            Trace(ValueName.empty() ? "Delete key: " + where : "Delete value: " + where + "\\#" + ValueName, tcFix,
                  tlDetail);
        } else {
            Trace("Write value: " + where + "\\#" + ValueName, tcFix, tlDetail);
            if (ValueType == rtStr || ValueType == rtExStr || ValueType == rtMulStr)
                Trace("String: " + Value, tcFix, tlDetail);
            else if (ValueType == rtNum)
                Trace("DWORD: " + Value, tcFix, tlDetail);
            else if (ValueType == rtBin)
                Trace("BINARY: " + Value, tcFix, tlDetail);
        }
        if (FixRegEntry(Entry())) {
            if (TfwCleanRep *cleaned = ProcessCleanRep()) cleaned->Add(Root, Key, ValueName, Is64);
        } else {
            Trace("Fix failed: " + where, tcFix, tlDetail);
        }
    } catch (...) {
    }
}

namespace {

void AddDetailsOf(TfwItems *list, const TfwRegItem &found, const std::string &key)
{
    auto add = [&](const std::string &k, const std::string &name) {
        auto *d = new TfwRegItem(list);
        d->Found = d->Selected = d->IsDetail = true;
        d->Root = found.Root;
        d->Is64 = found.Is64;
        d->FixMode = found.FixMode;
        d->Key = k;
        d->ValueName = name;
        list->Add(d);
        if (list->Main) list->Main->AddFound(1);
    };
    std::vector<std::string> names;
    if (!RegEnumValueNames(found.Root, key, names)) return;
    for (const std::string &n : names) {
        std::string name = TrimA(n);
        if (!name.empty()) add(key, name);
    }
    if (!RegEnumSubKeyNames(found.Root, key, names)) return;
    for (const std::string &n : names) {
        std::string name = TrimA(n);
        if (name.empty()) continue;
        add(key + "\\" + name, "");
        AddDetailsOf(list, found, key + "\\" + name);
    }
}

} // namespace

void AddKeyDetails(TfwItems *list, const TfwRegItem &item)
{
    if (!list) return;
    try {
        AddDetailsOf(list, item, item.Key);
    } catch (...) {
    }
}

// ---- file entries ------------------------------------------------------------

bool TfwFileItem::LoadFromXML(TXMLTag *tag)
{
    Path = tag->GetAttr("path");
    Is64 = tag->GetAttr("is64") == "1";
    ScanExists = AsciiLower(tag->GetAttr("scan")) == "exists";
    std::string fix = AsciiLower(tag->GetAttr("fix"));
    FixMode = fix == "clean" ? ffClean : fix == "del" ? ffDelete : ffNone;
    return !Path.empty() && ScanExists && FixMode != ffNone;
}

// ---- startup definitions -----------------------------------------------------

std::wstring TfwStartupItem::ReviewCaption() const { return AnsiToWide(Name); }

bool TfwStartupItem::LoadFromXML(TXMLTag *tag)
{
    Pattern = TrimA(tag->Value);
    Name = TrimA(tag->GetAttr("name"));
    if (Name.empty()) {
        size_t slash = Pattern.find_last_of('\\');
        Name = slash == std::string::npos ? Pattern : Pattern.substr(slash + 1);
    }
    if (!IntText(tag->GetAttr("priority"), Priority)) Priority = 1;
    Is64 = tag->GetAttr("is64") == "1";
    return !Pattern.empty();
}

// ---- scanners ----------------------------------------------------------------

void TfwItemsList::LoadFromXML(TXMLTag *tag)
{
    for (TXMLTag *child : tag->Children) {
        if (child->Name == "reg") {
            auto *item = new TfwRegItem(this);
            if (item->LoadFromXML(child)) {
                Add(item);
            } else {
                Trace("INVALID Registry Item!!!", tcLoad, tlDetail);
                delete item;
            }
        } else if (child->Name == "file") {
            auto *item = new TfwFileItem(this);
            if (item->LoadFromXML(child)) {
                Add(item);
            } else {
                Trace("INVALID File Item: " + item->Path, tcLoad, tlDetail);
                delete item;
            }
        }
    }
}

void TfwItemsList::Scan()
{
    Step = 0;
    Steps = int(List.size());
    for (TfwItem *item : List) {
        try {
            item->Scan();
        } catch (...) {
        }
        NextStep();
        if (!Main->ReportProgress(false)) return;
    }
}

void TfwItemsMissingFiles::LoadFromXML(TXMLTag *tag)
{
    for (TXMLTag *list : tag->Children) {
        std::vector<std::string> *target = SameNameA(list->Name, "scanlist")      ? &ScanList
                                           : SameNameA(list->Name, "ignorelist")  ? &IgnoreList
                                           : SameNameA(list->Name, "speciallist") ? &SpecialList
                                                                                  : nullptr;
        bool except = SameNameA(list->Name, "exceptlist");
        if (!target && !except) continue;
        for (TXMLTag *item : list->Children) {
            if (except)
                ExceptList.push_back(item->GetAttr("key") + "=" + AsciiUpper(item->GetAttr("value")));
            else
                target->push_back(item->GetAttr("root") + "\\" + item->GetAttr("key"));
        }
    }
    std::sort(IgnoreList.begin(), IgnoreList.end(), [](const std::string &a, const std::string &b) {
        return lstrcmpiA(a.c_str(), b.c_str()) < 0;
    });
}

void TfwItemsDelayStartup::LoadFromXML(TXMLTag *tag)
{
    for (TXMLTag *child : tag->Children) {
        if (child->Name != "startup") continue;
        auto *item = new TfwStartupItem(this);
        if (item->LoadFromXML(child)) Add(item);
        else delete item;
    }
}

TfwItemsAddOns::TfwItemsAddOns(TfwMain *main) : TfwItems(main)
{
    if (main) main->AddOns = this;
}

TfwItemsAddOns::~TfwItemsAddOns()
{
    if (Main && Main->AddOns == this) Main->AddOns = nullptr;
}

void TfwItemsAddOns::LoadFromXML(TXMLTag *tag)
{
    for (TXMLTag *child : tag->Children) {
        if (child->Name != "addon") continue;
        std::string name = TrimA(child->GetAttr("name"));
        if (name.empty()) continue;
        std::string ie = child->GetAttr("ie"), ff = child->GetAttr("ff");
        if (!ie.empty()) IEList.push_back(AsciiUpper(ie) + "=" + name);
        if (!ff.empty()) FFList.push_back(AsciiLower(ff) + "=" + name);
    }
    std::sort(IEList.begin(), IEList.end());
    std::sort(FFList.begin(), FFList.end());
}
