#include "engine/fwClasses.h"
#include "platform/TextU.h"

#include "engine/fwClassesEx.h"
#include "engine/fwExceptions.h"
#include "engine/fwLogs.h"
#include "backup/fwBackup.h"
#include "backup/fwRestorePoint.h"
#include "engine/fwCleanRep.h"
#include "config/fwTranslate.h"
#include "platform/SystemPathsU.h"
#include "platform/XMLU.h"

#include <objbase.h>
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace {

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

std::string UILanguage() { return CurrentLanguage(); }

void SetUILanguage(const std::string &code) { SetCurrentLanguage(code); }

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
    std::string code = AsciiLower(language);
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
            std::string lng = AsciiLower(child->GetAttr("lng"));
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
    Steps = int(List.size());
    for (TfwItem *item : List) {
        try {
            if (!Main->ReportProgress(true)) return;
            if (item->Found && item->Selected && !item->IsDetail) item->Fix();
        } catch (...) {
        }
        NextStep();
    }
}

void TfwItems::Backup()
{
    for (TfwItem *item : List) {
        try {
            if (!Main->ReportProgress(true)) return;
            if (item->Found && item->Selected && !item->IsDetail) item->Backup();
        } catch (...) {
        }
    }
}

bool TfwItems::NextStep()
{
    SubStep = 0;
    SubSteps = 0;
    if (Step < Steps) ++Step;
    return Main->ReportProgress(false);
}

void TfwItems::NextSubStep()
{
    if (SubStep < SubSteps) ++SubStep;
}

double TfwItems::ProgressFraction()
{
    if (Steps > 0 && Step < Steps) {
        double f = double(Step) / Steps;
        if (SubSteps > 0) f += double(SubStep) / SubSteps / Steps;
        return f;
    }
    Step = 0;
    SubStep = 0;
    return 1.0;
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
        std::string type = AsciiLower(child->GetAttr("type"));
        TfwItems *scanner = CreateScanner(type, Main);
        if (!scanner) continue;
        Trace("Items type: " + type, tcLoad, tlDetail);
        Items = scanner;
        ItemsType = type;
        scanner->LoadFromXML(child);
        break;
    }
}

void TfwGroup::Scan()
{
    if (Enabled && Items) Items->Scan();
}

void TfwGroup::Backup()
{
    if (Items) Items->Backup();
}

void TfwGroup::Fix()
{
    if (Items) Items->Fix();
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
        if (AsciiLower(child->Name) != "group") continue;
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

int TfwCategory::ProgressPosition() const
{
    double pos = Done;
    if (Current >= 0 && Current < int(Groups.size())) {
        TfwGroup *g = Groups[Current];
        if (g->Items) pos += g->ProgressSize * g->Items->ProgressFraction();
    }
    return int(std::nearbyint(pos));  // halves to even
}

void TfwCategory::ScanGroups()
{
    if (Groups.empty()) return;
    TfwUIStatus &st = Main->Status;
    Done = 0;
    st.Maximum = 0;
    for (TfwGroup *g : Groups)
        if (g->Enabled) st.Maximum += g->ProgressSize;
    for (size_t i = 0; i < Groups.size(); ++i) {
        Current = int(i);
        TfwGroup *g = Groups[i];
        if (!g->Enabled) continue;
        try {
            st.GroupCaption = g->Caption();
            if (!Main->ReportProgress(true)) break;
            Trace("Scanning group: " + WideToUtf8(st.GroupCaption), tcScan, tlStep);
            g->Scan();
            if (st.Kind == TfwCategoryKind::Clean) st.CleanSize += g->FoundSize();
            if (!Main->ReportProgress(true)) break;
            Done += g->ProgressSize;
        } catch (...) {
            // The group's weight is not added; the next group runs.
        }
    }
    Current = -1;
    if (st.Kind == TfwCategoryKind::Fix) st.FixCount = FoundCount();
    else if (st.Kind == TfwCategoryKind::Boost) st.BoostCount = FoundCount();
    st.Position = st.Maximum;
    Main->ReportProgress(true);
}

void TfwCategory::FixGroups()
{
    if (Groups.empty()) return;
    TfwUIStatus &st = Main->Status;
    std::vector<TfwGroup *> active;
    for (TfwGroup *g : Groups)
        if (g->Selected && g->FoundCount() > 0) active.push_back(g);
    const int n = int(active.size());
    st.Position = 0;
    int step = 1;

    if (IsBackupActive()) {
        st.Maximum = 2 * n + 1;
        st.Phase = TfwPhase::BackingUp;
        if (!Main->ReportProgress(true)) return;
        step = 0;
        for (TfwGroup *g : active) {
            st.GroupCaption = g->Caption();
            st.Position = step;
            if (!Main->ReportProgress(true)) return;
            try {
                Trace("Making backup of group: " + WideToUtf8(st.GroupCaption), tcFix, tlStep);
                g->Backup();
            } catch (...) {
            }
            ++step;
        }
        // The document is written before the first change is made, and a
        // change that could not be undone is not made at all.
        std::string document;
        if (!EndBackup(document)) {
            Trace("Backup could not be written: category not fixed", tcFix, tlStep);
            st.BackupFailed |= uint8_t(1u << unsigned(Kind));
            Main->BackupFailed.push_back(Kind);
            st.Position = st.Maximum;
            Main->ReportProgress(true);
            return;
        }
        st.Position = step;
        if (!Main->ReportProgress(true)) return;
    } else {
        st.Maximum = n + 1;
    }

    st.Phase = TfwPhase::Fixing;
    if (Main->ReportProgress(true)) {
        for (TfwGroup *g : active) {
            st.GroupCaption = g->Caption();
            st.Position = step;
            if (!Main->ReportProgress(true)) return;
            if (g->Selected && Main->AcceptGroupFix(g)) {
                try {
                    Trace("Cleaning group: " + WideToUtf8(st.GroupCaption), tcFix, tlStep);
                    Main->Changed = true;
                    g->Fix();
                } catch (...) {
                }
                ++step;
            }
        }
    }
    st.Position = st.Maximum;
    if (Main->ReportProgress(true)) Main->ReportProgress(true);
}

// ---- root --------------------------------------------------------------------

TfwMain::~TfwMain()
{
    delete Fix;
    delete Boost;
    delete Clean;
}

TfwCategory *TfwMain::Category(TfwCategoryKind kind) const
{
    switch (kind) {
    case TfwCategoryKind::Fix: return Fix;
    case TfwCategoryKind::Boost: return Boost;
    case TfwCategoryKind::Clean: return Clean;
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

bool TfwMain::ReportProgress(bool force)
{
    bool goOn = !Stopped;
    uint32_t now = GetTickCount();
    if (!force && now - LastReport < 500) return goOn;
    if (Status.Phase == TfwPhase::Scanning)
        if (TfwCategory *c = Category(Status.Kind)) Status.Position = c->ProgressPosition();
    if (OnProgress) {
        try {
            goOn = OnProgress(Status);
        } catch (...) {
        }
        // A stop must hold for the throttled reports that follow as well,
        // not only for the next one that reaches the callback.
        if (!goOn) Stopped = true;
    }
    LastReport = GetTickCount();
    return goOn;
}

void TfwMain::AddFound(int count, TfwCategoryKind kind)
{
    if (kind == TfwCategoryKind::None) kind = Status.Kind;
    if (kind == TfwCategoryKind::Fix) Status.FixCount += count;
    else if (kind == TfwCategoryKind::Boost) Status.BoostCount += count;
}

void TfwMain::ScanAll()
{
    try {
        Trace("----------------", tcScan, tlStep);
        Trace("  SCANNING ALL", tcScan, tlStep);
        Status.Clear();
        Status.Phase = TfwPhase::Scanning;
        const struct {
            TfwCategory *cat;
            TfwCategoryKind kind;
            const char *trace;
        } order[] = {{Fix, TfwCategoryKind::Fix, "Scanning FIX"}, {Boost, TfwCategoryKind::Boost, "Scanning BOOST"}, {Clean, TfwCategoryKind::Clean, "Scanning CLEAN"}};
        for (const auto &o : order) {
            if (!o.cat) continue;
            Trace(o.trace, tcScan, tlStep);
            Status.Kind = o.kind;
            o.cat->ScanGroups();
        }
        Status.Clear();
        if (ReportProgress(true)) Trace("SCANNING COMPLETED", tcScan, tlStep);
    } catch (...) {
    }
}

namespace {

// The fixes add what they cleaned after the backup document was written.
void SaveCleaned()
{
    if (TfwCleanRep *cleaned = ProcessCleanRep()) cleaned->Save();
}

} // namespace

void TfwMain::FixCategories(TfwCategoryKind kind)
{
    try {
        Status.GroupCaption.clear();
        if ((kind == TfwCategoryKind::None || kind == TfwCategoryKind::Fix) && Fix && AcceptCategoryFix(TfwCategoryKind::Fix)) {
            Trace("CLEANNING FIX", tcFix, tlStep);
            Status.Kind = TfwCategoryKind::Fix;
            BeginBackup(bkFix, Fix->Caption());
            Fix->FixGroups();
            EndBackup();
            SaveCleaned();
        }
        if ((kind == TfwCategoryKind::None || kind == TfwCategoryKind::Boost) && Boost && AcceptCategoryFix(TfwCategoryKind::Boost)) {
            Trace("CLEANNING BOOST", tcFix, tlStep);
            Status.Kind = TfwCategoryKind::Boost;
            BeginBackup(bkBoost, Boost->Caption());
            Boost->FixGroups();
            EndBackup();
            SaveCleaned();
        }
        if ((kind == TfwCategoryKind::None || kind == TfwCategoryKind::Clean) && Clean && AcceptCategoryFix(TfwCategoryKind::Clean)) {
            Trace("CLEANNING CLEAN", tcFix, tlStep);
            Status.Kind = TfwCategoryKind::Clean;
            Clean->FixGroups();
        }
        Trace("CLEANNING COMPLETED", tcFix, tlStep);
    } catch (...) {
    }
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
            std::string name = AsciiLower(child->Name);
            TfwCategory **slot = name == "fix" ? &Fix : name == "boost" ? &Boost : name == "clean" ? &Clean : nullptr;
            if (slot) {
                Trace("Parsing <" + name + "> tag", tcLoad, tlStep);
                if (!*slot)
                    *slot = new TfwCategory(this, name == "fix" ? TfwCategoryKind::Fix : name == "boost" ? TfwCategoryKind::Boost : TfwCategoryKind::Clean);
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

// ---- execution thread ----------------------------------------------------------

TfwExecThread::TfwExecThread(TfwMain *main, bool makeRestorePoint, TFinishEvent onFinish,
                             TfwProgressEvent onProgress, int categories, TfwRunMode mode)
    : Main(main), Mode(mode), Categories(categories), MakeRestorePoint(makeRestorePoint),
      OnProgress(std::move(onProgress)), OnFinish(std::move(onFinish))
{
    Main->OnProgress = [this](const TfwUIStatus &st) { return Relay(st); };
    SetFreeOnTerminate(true);
}

TfwExecThread::~TfwExecThread() = default;

void TfwExecThread::Stop()
{
    Terminate();
    Main->Stopped = true;
}

bool TfwExecThread::Relay(const TfwUIStatus &status)
{
    if (Terminated() || !Continue) return false;
    LastStatus = status;
    Synchronize([this] {
        if (Terminated()) Continue = false;
        else if (OnProgress) Continue = OnProgress(LastStatus);
        else Continue = true;
    });
    return Continue;
}

void TfwExecThread::Execute()
{
    EnsureCleanReport();
    HRESULT com = CoInitialize(nullptr);
    Main->Stopped = false;
    Main->Changed = false;
    Main->BackupFailed.clear();
    try {
        if (Mode == TfwRunMode::Scan) {
            Main->ScanAll();
        } else if (Mode == TfwRunMode::Fix) {
            if (MakeRestorePoint) {
                std::wstring name = (Categories & CatFix)
                                        ? Translate("RestorePointNameFix", L"%BRAND% Registry Fix")
                                        : Translate("RestorePointNameClean", L"%BRAND% Speed Up and Clean Up");
                LastStatus.Clear();
                LastStatus.GroupCaption = Translate("RestorePointCreating", L"Creating System Restore Point...");
                Relay(LastStatus);
                BeginRestorePoint(WideToAnsi(name));
            }
            try {
                if (Categories & CatFix) Main->FixCategories(TfwCategoryKind::Fix);
                if (Categories & CatBoost) Main->FixCategories(TfwCategoryKind::Boost);
                if (Categories & CatClean) Main->FixCategories(TfwCategoryKind::Clean);
            } catch (...) {
            }
            // A stop after the first change keeps the restore point: it is
            // the way back from what was changed before the stop.
            if (MakeRestorePoint) {
                if (Relay(LastStatus) || Main->Changed) EndRestorePoint();
                else CancelRestorePoint();
            }
        }
    } catch (...) {
    }
    WasStopped = Main->Stopped || Terminated() || !Continue;
    Main->Stopped = false;
    // The user interface may free the tree as soon as it hears of the end:
    // nothing of it is touched after OnFinish, and its callback must not
    // point at this thread any more.
    Main->OnProgress = nullptr;
    if (SUCCEEDED(com)) CoUninitialize();
    if (OnFinish) {
        TFinishEvent finish = OnFinish;
        Synchronize([this, finish] { finish(this); });
    }
}

std::wstring TfwItem::Evidence() const { return AnsiToWide(Why); }
