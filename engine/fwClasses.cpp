#include "engine/fwClasses.h"

#include "engine/fwClassesEx.h"
#include "engine/fwExceptions.h"
#include "engine/fwLogs.h"
#include "platform/SystemPathsU.h"
#include "platform/XMLU.h"

#include <windows.h>

#include <algorithm>
#include <mutex>

namespace {

std::mutex LanguageLock;
std::string Language = "en";

std::string LowerA(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

// Integer attribute as the loader reads it: the whole text must be a number.
int IntAttr(const std::string &text, int fallback)
{
    if (text.empty()) return fallback;
    size_t i = (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (i == text.size()) return fallback;
    long long v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return fallback;
        v = v * 10 + (text[i] - '0');
        if (v > 0x7FFFFFFFLL + 1) return fallback;
    }
    if (text[0] == '-') v = -v;
    if (v > 0x7FFFFFFFLL || v < -0x7FFFFFFFLL - 1) return fallback;
    return static_cast<int>(v);
}

std::wstring Pick(const std::unique_ptr<TfwCaptions> &c)
{
    return c ? c->Get(UILanguage()) : std::wstring();
}

} // namespace

std::string UILanguage()
{
    std::lock_guard<std::mutex> g(LanguageLock);
    return Language;
}

void SetUILanguage(const std::string &code)
{
    std::lock_guard<std::mutex> g(LanguageLock);
    Language = LowerA(code);
}

std::wstring Utf8ToWide(const std::string &text)
{
    if (text.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &w[0], n);
    return w;
}

std::string WideToUtf8(const std::wstring &text)
{
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &s[0], n, nullptr, nullptr);
    return s;
}

// ---- captions ----------------------------------------------------------------

void TfwCaptions::Set(const std::string &language, const std::wstring &text)
{
    auto it = std::find_if(FItems.begin(), FItems.end(), [&](const auto &p) { return p.first == language; });
    if (it == FItems.end()) {
        if (!text.empty()) FItems.emplace_back(language, text);
    } else if (text.empty()) {
        FItems.erase(it);
    } else {
        it->second = text;
    }
}

std::wstring TfwCaptions::Get(const std::string &language) const
{
    auto find = [&](const std::string &code) -> const std::wstring * {
        for (const auto &p : FItems)
            if (p.first == code && !p.second.empty()) return &p.second;
        return nullptr;
    };
    std::string code = LowerA(language);
    if (code.empty()) code = "en";
    if (auto *t = find(code)) return *t;
    if (code != "en") {
        size_t dash = code.find('-');
        if (dash != std::string::npos)
            if (auto *t = find(code.substr(0, dash))) return *t;
        if (auto *t = find("en")) return *t;
    }
    return {};
}

void TfwClassWithCaption::LoadFromXML(TXMLTag *tag)
{
    const struct {
        const char *name;
        std::unique_ptr<TfwCaptions> TfwClassWithCaption::*list;
    } kinds[] = {
        {"caption", &TfwClassWithCaption::Captions},
        {"hint", &TfwClassWithCaption::Hints},
        {"settingscaption", &TfwClassWithCaption::SettingsCaptions},
        {"settingshint", &TfwClassWithCaption::SettingsHints},
    };
    for (TXMLTag *child : tag->Children) {
        for (const auto &k : kinds) {
            if (child->Name != k.name) continue;
            auto &list = this->*k.list;
            if (!list) list = std::make_unique<TfwCaptions>();
            std::string lng = LowerA(child->GetAttr("lng"));
            list->Set(lng.empty() ? "en" : lng, Utf8ToWide(child->Value));
        }
    }
}

std::wstring TfwClassWithCaption::Caption() const { return Pick(Captions); }
std::wstring TfwClassWithCaption::Hint() const { return Pick(Hints); }
std::wstring TfwClassWithCaption::SettingsCaption() const { return Pick(SettingsCaptions); }
std::wstring TfwClassWithCaption::SettingsHint() const { return Pick(SettingsHints); }

// ---- scanners and their counts -----------------------------------------------

TfwItems::TfwItems(TfwMain *main) : Main(main), Steps(Is64BitOS() ? 2 : 1) {}

TfwItems::~TfwItems() { Clear(); }

TfwItem *TfwItems::Add(TfwItem *item)
{
    List.push_back(item);
    return item;
}

void TfwItems::Clear()
{
    for (TfwItem *i : List) delete i;
    List.clear();
}

void TfwItems::Fix()
{
    // The run loop with progress and stop arrives with the fix run; until then
    // a fix repairs every found and selected item in order.
    for (TfwItem *item : List) {
        try {
            if (item->Found && item->Selected && !item->IsDetail) item->Fix();
        } catch (...) {
        }
    }
}

int TfwItems::FoundCount() const
{
    return int(std::count_if(List.begin(), List.end(), [](TfwItem *i) { return i->Found; }));
}

int64_t TfwItems::FoundSize() const
{
    int64_t s = 0;
    for (TfwItem *i : List)
        if (i->Found) s += i->Size;
    return s;
}

int TfwItems::SelectedCount() const
{
    return int(std::count_if(List.begin(), List.end(), [](TfwItem *i) { return i->Found && i->Selected; }));
}

int64_t TfwItems::SelectedSize() const
{
    int64_t s = 0;
    for (TfwItem *i : List)
        if (i->Found && i->Selected) s += i->Size;
    return s;
}

// ---- groups ------------------------------------------------------------------

TfwGroup::~TfwGroup() { delete Items; }

void TfwGroup::LoadFromXML(TXMLTag *tag)
{
    TfwClassWithCaption::LoadFromXML(tag);
    Id = tag->GetAttr("id");
    Order = IntAttr(tag->GetAttr("order"), 0);
    InSettings = tag->GetAttr("settings") == "1";
    ShowDetails = tag->GetAttr("showdetails") == "1";
    ProgressSize = IntAttr(tag->GetAttr("progsize"), 10);
    Trace("Group (" + Id + "): " + WideToUtf8(Caption()), tcLoad, tlStep);
    for (TXMLTag *child : tag->Children) {
        if (child->Name != "items") continue;
        std::string type = LowerA(child->GetAttr("type"));
        TfwItems *scanner = CreateScanner(type, Main);
        if (!scanner) continue;
        Trace("Items type: " + type, tcLoad, tlDetail);
        Items = scanner;
        ItemsType = type;
        scanner->LoadFromXML(child);
        break;
    }
}

int TfwGroup::FoundCount() const { return Items ? Items->FoundCount() : 0; }
int64_t TfwGroup::FoundSize() const { return Items ? Items->FoundSize() : 0; }
int TfwGroup::SelectedCount() const { return Items && Selected ? Items->SelectedCount() : 0; }
int64_t TfwGroup::SelectedSize() const { return Items && Selected ? Items->SelectedSize() : 0; }

// ---- categories --------------------------------------------------------------

TfwCategory::~TfwCategory()
{
    for (TfwGroup *g : Groups) delete g;
}

void TfwCategory::LoadFromXML(TXMLTag *tag)
{
    TfwClassWithCaption::LoadFromXML(tag);
    for (TXMLTag *child : tag->Children) {
        if (LowerA(child->Name) != "group") continue;
        auto *g = new TfwGroup(Main);
        try {
            g->LoadFromXML(child);
        } catch (...) {
            delete g;
            throw;
        }
        if (!g->Items || (Main && !Main->AcceptGroup(g->Id))) {
            delete g;
            continue;
        }
        // Equal orders keep document order.
        auto at = std::find_if(Groups.begin(), Groups.end(), [&](TfwGroup *x) { return x->Order > g->Order; });
        Groups.insert(at, g);
    }
}

int TfwCategory::FoundCount() const
{
    int n = 0;
    for (TfwGroup *g : Groups) n += g->FoundCount();
    return n;
}

int TfwCategory::SelectedCount() const
{
    int n = 0;
    for (TfwGroup *g : Groups) n += g->SelectedCount();
    return n;
}

int64_t TfwCategory::SelectedSize() const
{
    int64_t n = 0;
    for (TfwGroup *g : Groups) n += g->SelectedSize();
    return n;
}

TfwGroup *TfwCategory::GroupById(const std::string &id) const
{
    for (TfwGroup *g : Groups)
        if (g->Id == id) return g;
    return nullptr;
}

// ---- root --------------------------------------------------------------------

TfwMain::~TfwMain()
{
    delete Fix;
    delete Boost;
    delete Clean;
}

TfwCategory *TfwMain::Category(int kind) const
{
    switch (kind) {
    case ckFix: return Fix;
    case ckBoost: return Boost;
    case ckClean: return Clean;
    default: return nullptr;
    }
}

TfwGroup *TfwMain::GroupById(const std::string &id) const
{
    for (TfwCategory *c : {Fix, Boost, Clean})
        if (c)
            if (TfwGroup *g = c->GroupById(id)) return g;
    return nullptr;
}

void TfwMain::LoadDefinitions()
{
    Trace("----------------", tcLoad, tlStep);
    Trace("  LOADING DATA", tcLoad, tlStep);
    HMODULE self = GetModuleHandleA(nullptr);
    HRSRC res = FindResourceA(self, "DATA", MAKEINTRESOURCEA(10));
    if (!res) return;
    HGLOBAL mem = LoadResource(self, res);
    const char *data = mem ? static_cast<const char *>(LockResource(mem)) : nullptr;
    if (!data) return;
    Trace("Resource loaded", tcLoad, tlStep);
    LoadDefinitionsFromText(std::string(data, SizeofResource(self, res)));
}

void TfwMain::LoadDefinitionsFromText(const std::string &text)
{
    try {
        // The document is read as lines and joined again with CR LF, so line
        // ends inside attribute values arrive the same whatever the file used.
        std::string joined;
        joined.reserve(text.size() + text.size() / 16);
        size_t i = 0;
        if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) i = 3;
        while (i < text.size()) {
            size_t e = text.find_first_of("\r\n", i);
            if (e == std::string::npos) e = text.size();
            joined.append(text, i, e - i);
            joined += "\r\n";
            if (e < text.size() && text[e] == '\r' && e + 1 < text.size() && text[e + 1] == '\n') ++e;
            i = e + 1;
        }

        Trace("Parsing XML", tcLoad, tlStep);
        TXML xml;
        xml.LoadFromString(joined);
        TXMLTag *root = xml.Root()->FindFirst("fixwell");
        if (!root) return;
        Version = root->GetAttr("ver");
        Trace("Version: " + Version, tcLoad, tlStep);

        for (TXMLTag *child : root->Children) {
            std::string name = LowerA(child->Name);
            TfwCategory **slot = name == "fix" ? &Fix : name == "boost" ? &Boost : name == "clean" ? &Clean : nullptr;
            if (slot) {
                Trace("Parsing <" + name + "> tag", tcLoad, tlStep);
                if (!*slot)
                    *slot = new TfwCategory(this, name == "fix" ? ckFix : name == "boost" ? ckBoost : ckClean);
                (*slot)->LoadFromXML(child);
            } else if (name == "exceptions") {
                Trace("Parsing <exceptions> tag", tcLoad, tlStep);
                // Every tree reloads the same document: replace, don't append.
                TfwExceptions *ex = ProcessExceptions(true);
                *ex = TfwExceptions();
                ex->LoadFromXML(child);
            }
        }
        Trace("LOAD COMPLETED", tcLoad, tlStep);
    } catch (...) {
        // What was built so far stays.
    }
}
