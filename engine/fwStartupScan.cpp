// The boost groups that do not repair registry entries: the memory release
// and the postponing of startup programs.
#include "engine/fwClassesEx.h"
#include "platform/TextU.h"

#include "engine/fwLogs.h"
#include "platform/RegistryU.h"
#include "platform/ShortcutU.h"
#include "platform/SystemPathsU.h"
#include "platform/SystemPathsUtilsU.h"
#include "config/fwNames.h"
#include "config/fwSettings.h"
#include "config/fwTranslate.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace {

void TraceScan(const std::string &text) { Trace(text, tcScan, tlDetail); }
void TraceFix(const std::string &text) { Trace(text, tcFix, tlDetail); }

// Run values and definition files meet on this key, so that "PROGRA~1",
// letter case and long names all name the same program.
std::string StartupKey(const std::string &path)
{
    if (path.empty()) return {};
    char buf[MAX_PATH * 2];
    DWORD n = GetShortPathNameA(path.c_str(), buf, sizeof buf);
    if (n == 0 || n >= sizeof buf) {
        // A 64-bit system folder is only visible with redirection off.
        TFsRedirectionOff off;
        if (!off.Ok()) return {};
        n = GetShortPathNameA(path.c_str(), buf, sizeof buf);
        if (n == 0 || n >= sizeof buf) return {};
    }
    return LocaleLower(std::string(buf, n));
}

bool RealMemoryStatus(uint64_t &total, uint64_t &avail)
{
    MEMORYSTATUSEX ms;
    std::memset(&ms, 0, sizeof ms);
    ms.dwLength = sizeof ms;
    if (!GlobalMemoryStatusEx(&ms)) return false;
    total = ms.ullTotalPhys;
    avail = ms.ullAvailPhys;
    return true;
}

void *RealAlloc(size_t bytes) { return calloc(1, bytes); }
void RealFree(void *block) { free(block); }

}  // namespace

// ---- memory -------------------------------------------------------------------

TfwMemoryApi TfwItemsMemory::DefaultApi() { return {RealMemoryStatus, RealAlloc, RealFree}; }

TfwMemoryApi TfwItemsMemory::Api = TfwItemsMemory::DefaultApi();

void TfwItemsMemory::Scan()
{
    TraceScan("Scan type: Memory");
    TraceScan("Memory if worth cleaning anytime");
    Main->Status.MemoryFree = -1;
    Released = 0;
    Advised = false;
    uint64_t total = 0, avail = 0;
    if (!Api.Status(total, avail)) return;
    TotalMB = int64_t(total / 1048576);
    int64_t freePercent = total ? int64_t(avail * 100 / total) : 100;
    if (freePercent > 100 || freePercent < 0) freePercent = 100;
    Main->Status.MemoryFree = freePercent;
    if (TotalMB <= 1024 && freePercent <= 20) {
        Advised = true;
        Main->AddFound(1);
    } else {
        Main->Status.MemoryFree = -1;
    }
}

void TfwItemsMemory::Fix()
{
    if (!Advised) return;
    TraceFix("Cleaning Memory");
    if (TotalMB <= 0) return;
    TfwUIStatus &st = Main->Status;
    const int32_t oldPosition = st.Position, oldMaximum = st.Maximum;
    uint64_t total = 0, before = 0, after = 0;
    if (!Api.Status(total, before)) before = 0;

    st.Position = 0;
    st.Maximum = int32_t(TotalMB - 1);
    if (!Main->ReportProgress(true)) {
        st.Position = oldPosition;
        st.Maximum = oldMaximum;
        Main->ReportProgress(true);
        return;
    }
    std::vector<void *> blocks;
    try {
        blocks.reserve(size_t(TotalMB));
        for (int64_t i = 0; i < TotalMB; ++i) {
            st.Position = int32_t(i);
            if (!Main->ReportProgress(false)) break;
            void *block = Api.Alloc(1048576);
            if (!block) break;
            blocks.push_back(block);
            // Touching every page is what makes the system take it from the
            // working sets of other programs.
            std::memset(block, 1, 1048576);
            if (!Main->ReportProgress(false)) break;
        }
    } catch (...) {
        // Running out of room for the block list ends the loop like a refused
        // allocation; everything taken so far is freed below.
    }
    st.Position = st.Maximum = int32_t(blocks.empty() ? 0 : blocks.size() - 1);
    Main->ReportProgress(true);
    for (size_t i = blocks.size(); i-- > 0;) {
        st.Position = int32_t(i);
        Main->ReportProgress(false);
        Api.Free(blocks[i]);
    }
    if (Api.Status(total, after)) Released = int64_t(after) - int64_t(before);
    st.Position = oldPosition;
    st.Maximum = oldMaximum;
    Main->ReportProgress(true);
    TraceFix("Memory cleanded!");
}

// ---- startup definitions --------------------------------------------------------

void TfwStartupItem::Scan()
{
    if (Found || (Is64 && !Is64BitOS())) return;
    std::vector<TfwFoundFile> files;
    FindFiles(ExpandPath(Pattern), files, false);
    if (files.empty() && Is64BitOS()) FindFiles(ExpandPath64(Pattern), files, false);
    TraceScan("Found: " + std::to_string(files.size()) + " file(s) for " + Pattern);
    if (files.empty()) {
        Entries.reset();
        return;
    }
    Entries = std::make_unique<std::vector<TfwStartupMatch>>();
    for (TfwFoundFile &f : files) Entries->push_back({std::move(f.Path), nullptr});
}

// ---- delay startup ----------------------------------------------------------------

void TfwItemsDelayStartup::CollectRunValues()
{
    TraceScan("Loading current startup items - REGISTRY");
    const bool os64 = Is64BitOS();
    for (int pass = 1; pass <= 4; ++pass) {
        const bool is64 = pass > 2;
        if (is64 && !os64) break;
        const bool isUser = pass % 2 == 1;
        const HKEY root = isUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
        if (is64) {
            // HKCU's Run key is one key in both views on most systems; reading
            // it twice would record each value twice and start its program
            // twice at logon.
            std::string k32, k64;
            {
                TRegViewScope v(false, true);
                k32 = RegKeyKernelPath(root, RunKeyPath);
            }
            {
                TRegViewScope v(true, false);
                k64 = RegKeyKernelPath(root, RunKeyPath);
            }
            if (!k64.empty() && lstrcmpiA(k32.c_str(), k64.c_str()) == 0) continue;
        }
        TRegViewScope view(is64, !is64);
        std::vector<std::string> names;
        if (!RegEnumValueNames(root, RunKeyPath, names)) continue;
        for (const std::string &name : names) {
            try {
                // The stored name is kept as it is: it is what Save removes and
                // a restore writes back.
                if (TrimA(name).empty()) continue;
                DWORD type = 0;
                std::string text;
                if (!RegReadAnyStr(root, RunKeyPath, name, type, text)) continue;
                if ((type != REG_SZ && type != REG_EXPAND_SZ) || text.empty()) continue;
                std::string program;
                if (!ResolveCommandTarget(text, is64 ? vm64 : vm32, program)) continue;
                std::string key = StartupKey(program);
                if (key.empty()) continue;
                auto entry = std::make_unique<TfwFoundStartup>();
                entry->IsUser = isUser;
                entry->Root = root;
                entry->Key = RunKeyPath;
                entry->Name = name;
                entry->Value = text;
                entry->Is64 = is64;
                entry->Expand = type == REG_EXPAND_SZ;
                Running.emplace(key, std::move(entry));
            } catch (...) {
            }
        }
    }
}

void TfwItemsDelayStartup::CollectShortcuts(const std::string &folder, bool isUser)
{
    if (folder.empty()) return;
    std::vector<TfwFoundFile> files;
    FindFiles(folder + "*.lnk", files, false);
    for (const TfwFoundFile &f : files) {
        try {
            if (f.Path.empty() || f.Path.back() == '\\') continue;
            std::string target = ShortcutTarget(f.Path, true);
            if (target.empty()) continue;
            std::string program;
            if (!ResolveCommandTarget(target, vmBoth, program)) continue;
            std::string key = StartupKey(program);
            if (key.empty()) continue;
            auto entry = std::make_unique<TfwFoundStartup>();
            entry->IsShortcut = true;
            entry->IsUser = isUser;
            entry->ShortcutPath = f.Path;
            entry->Value = target;
            Running.emplace(key, std::move(entry));
        } catch (...) {
        }
    }
}

void TfwItemsDelayStartup::Scan()
{
    Running.clear();
    if (!Settings().DelayStartup) return;
    TraceScan("Scan type: Delay Startup");
    CollectRunValues();
    TraceScan("Loading current startup items - SHORTCUTS");
    TraceScan("Processing USER startup");
    CollectShortcuts(StartupDir(), true);
    TraceScan("Processing COMMON startup");
    CollectShortcuts(CommonStartupDir(), false);

    Step = 0;
    Steps = int(List.size());
    for (TfwItem *it : List) {
        if (!Main->ReportProgress(true)) return;
        auto *item = static_cast<TfwStartupItem *>(it);
        try {
            item->Scan();
            if (item->Entries) {
                auto claimed = std::make_unique<std::vector<TfwStartupMatch>>();
                // Walked from the end as the files are dropped; the claimed
                // rows are put back into file order afterwards.
                for (size_t i = item->Entries->size(); i-- > 0;) {
                    const std::string &file = (*item->Entries)[i].File;
                    auto range = Running.equal_range(StartupKey(file));
                    if (range.first == range.second) continue;
                    std::vector<TfwStartupMatch> rows;
                    for (auto r = range.first; r != range.second; ++r) {
                        TfwFoundStartup &e = *r->second;
                        e.App = item->Name;
                        e.Priority = item->Priority;
                        item->Found = true;
                        item->Selected = true;
                        Main->AddFound(1);
                        TraceScan("DELAY STARTUP: " + item->Name);
                        TraceScan("RUN APP: " + file);
                        TraceScan("DEFINED AS: " + item->Pattern);
                        TraceScan(e.IsShortcut ? "SHORTCUT: " + e.ShortcutPath : "REGISTRY: " + e.Name);
                        const std::string where =
                            e.IsShortcut ? "shortcut " + e.ShortcutPath
                                         : "Run value " + e.Name + " of " + RegFullKeyName(e.Root, e.Key) +
                                               ViewNote(e.Is64);
                        item->Why += (item->Why.empty() ? "starts with Windows: " : "; ") + where;
                        rows.push_back({file, std::move(r->second)});
                    }
                    Running.erase(range.first, range.second);
                    for (auto r = rows.rbegin(); r != rows.rend(); ++r) claimed->push_back(std::move(*r));
                }
                std::reverse(claimed->begin(), claimed->end());
                if (claimed->empty()) item->Entries.reset();
                else item->Entries = std::move(claimed);
            }
        } catch (...) {
        }
        NextStep();
    }
}

namespace {

// The tray program starts the postponed programs at logon; it is started by
// the autostart value that installing it writes (machine-wide, 32-bit view).
bool PostponedProgramsRunnerInstalled()
{
    TRegViewScope view(false, true);
    std::string key = AutostartKey;
    while (!key.empty() && key.back() == '\\') key.pop_back();
    return RegValueExists(HKEY_LOCAL_MACHINE, key, AutostartValue);
}

} // namespace

void TfwItemsDelayStartup::Fix()
{
    Step = 0;
    Steps = int(List.size());
    Refusal.clear();
    bool wanted = false;
    for (TfwItem *it : List) wanted |= it->Found && it->Selected;
    if (wanted && !PostponedProgramsRunnerInstalled()) {
        Refusal = Translate("DelayStartupNoRunner",
                            L"Startup programs were not postponed: the %BRAND% tray program, which starts them "
                            L"after logon, is not installed.");
        TraceFix("Not postponing: the tray program's autostart value is missing");
        Main->Status.GroupCaption = Refusal;
        Main->ReportProgress(true);
        return;
    }
    std::unique_ptr<TfwAllRunItems> lists[2];  // machine-wide, user
    for (TfwItem *it : List) {
        // A stop keeps every Run value where it is: nothing is saved.
        if (!Main->ReportProgress(true)) return;
        auto *item = static_cast<TfwStartupItem *>(it);
        try {
            if (item->Found && item->Selected && item->Entries) {
                TraceFix("Cleaning app: " + item->Name);
                for (TfwStartupMatch &m : *item->Entries) {
                    if (!m.Entry) continue;
                    TfwFoundStartup &e = *m.Entry;
                    if (e.IsShortcut) {
                        TraceFix("Cleaning shortcut: " + e.ShortcutPath);
                        PostponeShortcut(e);
                    } else {
                        TraceFix(std::string(e.IsUser ? "Cleaning Run - USER: " : "Cleaning Run - COMMON: ") +
                                 e.Name + "=" + e.Value);
                        auto &list = lists[e.IsUser ? 1 : 0];
                        if (!list) {
                            list = std::make_unique<TfwAllRunItems>(e.IsUser);
                            list->Load();
                        }
                        list->AddEntry(&e);
                    }
                }
            }
        } catch (...) {
        }
        NextStep();
    }
    if (!Main->ReportProgress(true)) return;
    for (int i : {1, 0})
        if (lists[i]) lists[i]->Save();
}
