#include "engine/fwClassesEx.h"

#include "engine/fwLogs.h"
#include "platform/RegistryU.h"
#include "platform/XMLU.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

std::string LowerA(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

std::string UpperA(std::string s)
{
    for (char &c : s)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return s;
}

std::string TrimA(const std::string &s)
{
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
    return s.substr(b, e - b);
}

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

int RegTypeFromName(const std::string &name)
{
    std::string n = LowerA(name);
    if (n == "str") return rtStr;
    if (n == "exstr") return rtExStr;
    if (n == "bin") return rtBin;
    if (n == "num") return rtNum;
    if (n == "mulstr") return rtMulStr;
    return rtNone;
}

std::string RegTypeName(int type)
{
    switch (type) {
    case rtStr: return "str";
    case rtExStr: return "exstr";
    case rtBin: return "bin";
    case rtNum: return "num";
    case rtMulStr: return "mulstr";
    default: return {};
    }
}

bool ParseRegNumber(const std::string &text, uint32_t &value)
{
    bool hex = !text.empty() && text[0] == '$';
    std::string digits = hex ? text.substr(1) : text;
    if (digits.empty() || digits.size() > 20) return false;
    uint64_t v = 0;
    for (char c : digits) {
        char u = (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
        int d;
        if (u >= '0' && u <= '9') d = u - '0';
        else if (hex && u >= 'A' && u <= 'F') d = u - 'A' + 10;
        else return false;
        v = v * (hex ? 16 : 10) + d;
        if (v > 0xFFFFFFFFull) return false;
    }
    value = static_cast<uint32_t>(v);
    return true;
}

bool TfwRegItem::LoadFromXML(TXMLTag *tag)
{
    Root = RegRootFromName(tag->GetAttr("root"));
    Key = HexUnescape(tag->GetAttr("key"));
    ValueName = HexUnescape(tag->GetAttr("name"));
    Value = HexUnescape(tag->GetAttr("value"));
    ValueType = RegTypeFromName(tag->GetAttr("type"));
    Is64 = tag->GetAttr("is64") == "1";
    std::string scan = LowerA(tag->GetAttr("scan"));
    ScanMode = scan == "value" ? smValue : scan == "exists" ? smExists : scan == "backup" ? smBackup : smNone;
    std::string fix = LowerA(tag->GetAttr("fix"));
    FixMode = fix == "value" ? fmValue : fix == "del" ? fmDelete : fmNone;
    // The caption is single-byte text of the system code page, as written.
    Caption.clear();
    std::string caption = tag->GetAttr("caption");
    if (!caption.empty()) {
        int n = MultiByteToWideChar(CP_ACP, 0, caption.data(), int(caption.size()), nullptr, 0);
        Caption.resize(n);
        MultiByteToWideChar(CP_ACP, 0, caption.data(), int(caption.size()), &Caption[0], n);
    }
    int days = 0;
    Date = IntText(tag->GetAttr("date"), days) && days > 0 ? days : 0;

    uint32_t number;
    if (ValueType == rtNum && !ParseRegNumber(Value, number)) ScanMode = smNone;
    if (ValueType == rtBin && Value.size() % 2 != 0) ScanMode = smNone;
    return Root && !Key.empty() && ScanMode != smNone && FixMode != fmNone;
}

std::string TfwRegItem::GetXML() const
{
    auto attr = [](const char *name, const std::string &value) {
        return std::string(" ") + name + "=\"" + value + "\"";
    };
    std::string s = "<reg";
    s += attr("root", RegRootName(Root));
    s += attr("key", HexEscape(Key));
    s += attr("name", HexEscape(ValueName));
    s += attr("value", HexEscape(Value));
    s += attr("type", RegTypeName(ValueType));
    if (Is64) s += attr("is64", "1");
    s += attr("scan", ScanMode == smValue ? "value" : ScanMode == smBackup ? "backup" : "exists");
    s += attr("fix", FixMode == fmValue ? "value" : FixMode == fmDelete ? "del" : "");
    if (Date >= 1) s += attr("date", std::to_string(static_cast<long long>(std::floor(Date))));
    s += " />";
    return s;
}

// ---- file entries ------------------------------------------------------------

bool TfwFileItem::LoadFromXML(TXMLTag *tag)
{
    Path = tag->GetAttr("path");
    Is64 = tag->GetAttr("is64") == "1";
    ScanExists = LowerA(tag->GetAttr("scan")) == "exists";
    std::string fix = LowerA(tag->GetAttr("fix"));
    FixMode = fix == "clean" ? ffClean : fix == "del" ? ffDelete : ffNone;
    return !Path.empty() && ScanExists && FixMode != ffNone;
}

// ---- startup definitions -----------------------------------------------------

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
        item->Scan();
        Step = std::min(Step + 1, Steps);
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
                ExceptList.push_back(item->GetAttr("key") + "=" + UpperA(item->GetAttr("value")));
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
        if (!ie.empty()) IEList.push_back(UpperA(ie) + "=" + name);
        if (!ff.empty()) FFList.push_back(LowerA(ff) + "=" + name);
    }
    std::sort(IEList.begin(), IEList.end());
    std::sort(FFList.begin(), FFList.end());
}
