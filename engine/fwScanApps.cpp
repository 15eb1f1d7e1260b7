#include "engine/fwScanners.h"
#include "platform/TextU.h"

#include "engine/fwClassesEx.h"
#include "engine/fwExceptions.h"
#include "engine/fwLogs.h"
#include "engine/fwTools.h"
#include "backup/fwBackup.h"
#include "platform/FileU.h"
#include "platform/RegistryU.h"
#include "platform/ShortcutU.h"
#include "platform/SystemPathsU.h"

#include <utility>
#include <vector>

namespace {

const char UninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char SharedDllsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const char AppPathsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";
const char RunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char MuiCacheVista[] = "Local Settings\\Software\\Microsoft\\Windows\\Shell\\MuiCache";
const char MuiCacheXP[] = "Software\\Microsoft\\Windows\\ShellNoRoam\\MUICache";
const char MuiCacheW7Base[] = "Local Settings\\MuiCache";

// A broken startup shortcut: the fix deletes it only once a copy of it is in
// the backups folder, so that the rescue center can put it back.
class TfwStartupShortcutItem : public TfwFileItem {
public:
    using TfwFileItem::TfwFileItem;
    void Backup() override
    {
        if (!Found || !Selected) return;
        try {
            BackedUp = BackupFile(Path);
        } catch (...) {
        }
    }
    void Fix() override
    {
        if (!BackedUp) {
            Trace("Shortcut kept, no copy of it could be made: " + Path, tcFix, tlDetail);
            return;
        }
        TfwFileItem::Fix();
    }

private:
    bool BackedUp = false;
};

bool CommandResolves(const std::string &text, int mode)
{
    std::string path;
    return ResolveCommandTarget(text, mode, path);
}

bool FileResolves(const std::string &text, int mode)
{
    std::string path;
    return ResolveFileRef(text, mode, path);
}

// Default value or named value as trimmed text; false when unreadable or blank.
bool ReadText(HKEY root, const std::string &key, const std::string &name, std::string &text)
{
    DWORD type = 0;
    if (!RegReadAnyStr(root, key, name, type, text)) return false;
    text = TrimA(text);
    return !text.empty();
}

// Appends a found entry unless an exception or the list of cleaned entries
// covers it; a key comes with its content as detail lines when asked.
void AddRegFinding(TfwItems &scanner, HKEY root, const std::string &key, const std::string &name, bool is64,
                   const std::string &reason, const std::string &why, bool details)
{
    auto *item = new TfwRegItem(&scanner);
    item->Why = why;
    item->Found = item->Selected = true;
    item->Root = root;
    item->Key = key;
    item->ValueName = name;
    item->FixMode = fmDelete;
    item->Is64 = is64;
    const std::string where = RegFullKeyName(root, key) + (name.empty() ? "" : "\\#" + name);
    if (IsExcepted(*item)) {
        Trace("Registry IGNORED: " + where, tcScan, tlDetail);
        delete item;
        return;
    }
    scanner.Add(item);
    scanner.Main->AddFound(1);
    if (details) AddKeyDetails(&scanner, *item);
    Trace("BAD REGISTRY:" + where, tcScan, tlFinding);
    Trace(reason, tcScan, tlFinding);
    Trace("", tcScan, tlFinding);
}

// The names of one key, one sub-step each. test(name, trimmed) runs for every
// name that is not blank; name is the name as enumerated. False when a
// progress report asked to stop.
template <class F>
bool EachName(TfwItems &scanner, const std::vector<std::string> &names, F test)
{
    scanner.SubStep = 0;
    scanner.SubSteps = int(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) scanner.NextSubStep();
        if (!scanner.Main->ReportProgress(false)) return false;
        const std::string trimmed = TrimA(names[i]);
        if (trimmed.empty()) continue;
        Trace(trimmed, tcScan, tlDetail);
        try {
            test(names[i], trimmed);
        } catch (...) {
            // unreadable counts as sound
        }
    }
    return true;
}

// One pass over the subkey or value names of root\key in one view. test gets
// (name, trimmed name, view mode, is64). False when a report asked to stop.
template <class F>
bool ViewPass(TfwItems &scanner, HKEY root, const std::string &key, bool valueNames, bool pass64, F test)
{
    TRegViewScope view(pass64, !pass64);
    const bool shared = RegKeySharedBetweenViews(root, key);
    // The 32-bit pass judged a shared key for both views.
    if (pass64 && shared) return true;
    const int mode = pass64 ? vm64 : shared ? vmBoth : vm32;
    std::vector<std::string> names;
    if (!(valueNames ? RegEnumValueNames(root, key, names) : RegEnumSubKeyNames(root, key, names))) return true;
    return EachName(scanner, names, [&](const std::string &name, const std::string &trimmed) {
        test(name, trimmed, mode, pass64);
    });
}

// The 32-bit pass and, on a 64-bit system, the 64-bit pass, one step each.
template <class F>
void TwoViewScan(TfwItems &scanner, HKEY root, const std::string &key, bool valueNames, bool tracePasses, F test)
{
    const bool is64 = Is64BitOS();
    scanner.Step = 0;
    scanner.Steps = is64 ? 2 : 1;
    for (int pass = 0; pass < scanner.Steps; ++pass) {
        if (tracePasses) Trace(pass ? "Scan 64-bit key" : "Scan 32-bit key", tcScan, tlStep);
        if (!ViewPass(scanner, root, key, valueNames, pass == 1, test)) return;
        scanner.NextStep();
    }
}

} // namespace

// ---- uninstall entries -------------------------------------------------------

void TfwItemsUninstall::Scan()
{
    if (!Main) return;
    try {
        Trace("Scan type: UNINSTALL", tcScan, tlStep);
        TwoViewScan(*this, HKEY_LOCAL_MACHINE, UninstallKey, false, false,
                    [&](const std::string &name, const std::string &, int mode, bool is64) {
                        const std::string key = std::string(UninstallKey) + "\\" + name;
                        std::string command;
                        if (!ReadText(HKEY_LOCAL_MACHINE, key, "UninstallString", command)) return;
                        if (CommandResolves(command, mode)) return;
                        AddRegFinding(*this, HKEY_LOCAL_MACHINE, key, "", is64,
                                      "Uninstaller does not exist: " + command,
                                      "uninstaller " + MissingFileWhy(command, mode), true);
                    });
    } catch (...) {
    }
}

// ---- shared DLL counters -----------------------------------------------------

void TfwItemsSharedDll::Scan()
{
    if (!Main) return;
    try {
        Trace("Scan type: SharedDLL", tcScan, tlStep);
        TwoViewScan(*this, HKEY_LOCAL_MACHINE, SharedDllsKey, true, true,
                    [&](const std::string &name, const std::string &path, int mode, bool is64) {
                        if (FileResolves(path, mode)) return;
                        AddRegFinding(*this, HKEY_LOCAL_MACHINE, SharedDllsKey, name, is64,
                                      "SharedDll does not exist: " + path,
                                      "shared " + MissingFileWhy(path, mode), false);
                    });
    } catch (...) {
    }
}

// ---- application paths -------------------------------------------------------

void TfwItemsAppPaths::Scan()
{
    if (!Main) return;
    try {
        Trace("Scan type: AppPaths", tcScan, tlStep);
        TwoViewScan(*this, HKEY_LOCAL_MACHINE, AppPathsKey, false, true,
                    [&](const std::string &name, const std::string &, int mode, bool is64) {
                        const std::string key = std::string(AppPathsKey) + "\\" + name;
                        if (IsInstallerOwned(HKEY_LOCAL_MACHINE, key)) {
                            Trace("TrustedInstaller - " + key, tcScan, tlDetail);
                            return;
                        }
                        std::string path;
                        if (!ReadText(HKEY_LOCAL_MACHINE, key, "", path)) return;
                        if (CommandResolves(path, mode)) return;
                        AddRegFinding(*this, HKEY_LOCAL_MACHINE, key, "", is64, "AppPath does not exist: " + path,
                                      "application " + MissingFileWhy(path, mode), false);
                    });
    } catch (...) {
    }
}

// ---- MUI cache ---------------------------------------------------------------

std::string MUICacheFile(const std::string &name)
{
    const std::string n = TrimA(name);
    const size_t at = n.find('@');
    if (at == std::string::npos) return n;
    if (at == 0) {
        const std::string rest = n.substr(1);
        if (!rest.empty() && rest[0] == '"') {
            const size_t close = rest.find('"', 1);
            return close == std::string::npos ? "" : rest.substr(1, close - 1);
        }
        const size_t comma = rest.find(',');
        return comma == std::string::npos ? "" : TrimA(rest.substr(0, comma));
    }
    // "folder,@file,-id": the resource file lives in the folder before it.
    const size_t comma = n.find(',');
    if (comma == std::string::npos || at != comma + 1) return {};
    const size_t next = n.find(',', at + 1);
    if (next == std::string::npos) return {};
    return TrimA(n.substr(0, comma) + "\\" + TrimA(n.substr(at + 1, next - at - 1)));
}

std::string FindW7MUICacheKey()
{
    std::vector<std::string> outer, inner, values;
    if (!RegEnumSubKeyNames(HKEY_CLASSES_ROOT, MuiCacheW7Base, outer)) return {};
    for (const std::string &a : outer) {
        if (TrimA(a).empty()) continue;
        const std::string keyA = std::string(MuiCacheW7Base) + "\\" + a;
        if (!RegEnumSubKeyNames(HKEY_CLASSES_ROOT, keyA, inner)) continue;
        for (const std::string &b : inner) {
            if (TrimA(b).empty()) continue;
            const std::string keyB = keyA + "\\" + b;
            if (!RegEnumValueNames(HKEY_CLASSES_ROOT, keyB, values)) continue;
            for (const std::string &v : values) {
                if (!v.empty() && v[0] == '@') {
                    Trace("W7 MUICache key: " + keyB, tcScan, tlDetail);
                    return keyB;
                }
            }
        }
    }
    return {};
}

void TfwItemsMUICache::Scan()
{
    if (!Main) return;
    try {
        Trace("Scan type: MUICache", tcScan, tlStep);
        TRegViewScope view(false, false);
        std::vector<std::pair<HKEY, std::string>> locations;
        const int version = OSVersionClass();
        if (version > OSClassServer2003) {
            locations.emplace_back(HKEY_CLASSES_ROOT, MuiCacheVista);
            if (version > OSClassServer2008R2) {
                std::string w7 = FindW7MUICacheKey();
                if (!w7.empty()) locations.emplace_back(HKEY_CLASSES_ROOT, w7);
            }
        } else {
            locations.emplace_back(HKEY_CURRENT_USER, MuiCacheXP);
        }
        Step = 0;
        Steps = int(locations.size());
        for (const auto &[root, key] : locations) {
            std::vector<std::string> names;
            if (RegEnumValueNames(root, key, names)) {
                // A stop ends this location's pass only.
                EachName(*this, names, [&](const std::string &name, const std::string &trimmed) {
                    if (lstrcmpiA(trimmed.c_str(), "languagelist") == 0 || lstrcmpiA(trimmed.c_str(), "langid") == 0)
                        return;
                    const std::string file = MUICacheFile(name);
                    Trace(trimmed + " -> " + file, tcScan, tlDetail);
                    if (file.empty() || FileResolves(file, vmBoth)) return;
                    AddRegFinding(*this, root, key, name, false, "MUI file does not exist: " + file,
                                  "resource " + MissingFileWhy(file, vmBoth), false);
                });
            }
            NextStep();
        }
    } catch (...) {
    }
}

// ---- startup programs --------------------------------------------------------

void TfwItemsInvalidStartup::Scan()
{
    if (!Main) return;
    try {
        Trace("Scan type: Invalid Startup - registry", tcScan, tlStep);
        const bool is64 = Is64BitOS();
        Step = 0;
        Steps = is64 ? 4 : 2;
        for (int pass = 1; pass <= Steps; ++pass) {
            HKEY root = pass % 2 ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
            bool ok = ViewPass(*this, root, RunKey, true, pass > 2,
                               [&](const std::string &name, const std::string &, int mode, bool pass64) {
                                   std::string command;
                                   if (!ReadText(root, RunKey, name, command)) return;
                                   if (CommandResolves(command, mode)) return;
                                   AddRegFinding(*this, root, RunKey, name, pass64,
                                                 "Startup file does not exist: " + command,
                                                 "startup program " + MissingFileWhy(command, mode), false);
                               });
            if (!ok) return;
            NextStep();
        }
        ScanShortcuts();
    } catch (...) {
    }
}

void TfwItemsInvalidStartup::ScanShortcuts()
{
    Trace("Scan type: Invalid Startup - files", tcScan, tlStep);
    std::vector<TfwFoundFile> files;
    const std::string user = StartupDir(), common = CommonStartupDir();
    if (!user.empty()) FindFiles(user + "*.lnk", files, false);
    if (!common.empty() && lstrcmpiA(common.c_str(), user.c_str()) != 0) FindFiles(common + "*.lnk", files, false);
    FilterExceptedFiles(files);
    for (const TfwFoundFile &f : files) {
        if (f.Path.empty() || f.Path.back() == '\\') continue;
        const std::string target = ShortcutTarget(f.Path, false);
        Trace(f.Path + " -> " + target, tcScan, tlDetail);
        if (target.empty() || CommandResolves(target, vmBoth)) continue;
        auto *item = new TfwStartupShortcutItem(this);
        item->Found = item->Selected = true;
        item->Path = f.Path;
        item->FixMode = ffClean;
        int64_t size = FileSize(f.Path);
        item->Size = size < 0 ? 0 : size;
        // The fix deletes exactly the shortcut that was judged.
        item->Files = std::make_unique<std::vector<TfwFoundFile>>();
        item->Files->push_back({f.Path, item->Size});
        item->Why = "shortcut target " + MissingFileWhy(target, vmBoth);
        Add(item);
        Main->AddFound(1);
        Trace("BAD STARTUP FILE: " + f.Path, tcScan, tlFinding);
        Trace("Startup file does not exist: " + target, tcScan, tlFinding);
        Trace("", tcScan, tlFinding);
    }
}
