#include "startup/fwStartup.h"
#include "platform/HandlesU.h"

#include "config/fwTrust.h"
#include "platform/XMLLinesU.h"
#include "platform/TextU.h"

#include "platform/DirectoryU.h"
#include "platform/FileU.h"
#include "platform/RegistryU.h"
#include "platform/SystemPathsU.h"
#include "platform/XMLU.h"
#include "config/fwCommon.h"

#include <shellapi.h>

#include <cerrno>
#include <cstdlib>

namespace {

void RealWait(DWORD ms) { Sleep(ms); }

void RealExec(const std::string &commandLine) { WinExec(commandLine.c_str(), SW_SHOW); }

void RealOpen(const std::string &path)
{
    ShellExecuteA(nullptr, "open", path.c_str(), nullptr, nullptr, SW_SHOW);
}

// Registry view of an entry: its own view on a 64-bit system, the default one
// elsewhere (the layer ignores the flags there anyway).
class TEntryView {
public:
    explicit TEntryView(bool is64)
        : FScope(Is64BitOS() && is64, Is64BitOS() && !is64)
    {
    }

private:
    TRegViewScope FScope;
};

// Priority attribute: a decimal number clamped to 0..10; anything else is 0.
int ReadPriority(const std::string &text)
{
    if (text.empty()) return 0;
    errno = 0;
    char *end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != '\0') return 0;
    if (errno == ERANGE) return v < 0 ? 0 : 10;
    return v < 0 ? 0 : v > 10 ? 10 : int(v);
}

bool WriteWholeFile(const std::string &path, const std::string &text)
{
    TOwnedHandle h(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.Ok()) return false;
    DWORD written = 0;
    bool ok = WriteFile(h.Get(), text.data(), DWORD(text.size()), &written, nullptr) && written == text.size();
    ok = FlushFileBuffers(h.Get()) && ok;
    ok = h.Close() && ok;
    if (!ok) DeleteFileA(path.c_str());
    return ok;
}

std::string WithSlash(const std::string &folder)
{
    if (folder.empty() || folder.back() == '\\') return folder;
    return folder + "\\";
}

// The "*.lnk" files directly in folder, in the order the system lists them.
std::vector<std::string> ShortcutsIn(const std::string &folder)
{
    std::vector<std::string> names;
    if (folder.empty()) return names;
    for (TFindFile f(WithSlash(folder) + "*.lnk"); f.Ok(); f.Next())
        if (!f.IsFolder()) names.push_back(f.Name());
    return names;
}

void Call(const TfwRunCallback &callback)
{
    if (callback) callback();
}

// A launch followed by the two half-second pauses that space launches out.
void AfterLaunch(const TfwRunCallback &callback)
{
    Call(callback);
    for (int i = 0; i < 2; ++i) {
        StartupLauncher.Wait(500);
        Call(callback);
    }
}

}  // namespace

TfwStartupLauncher DefaultStartupLauncher() { return {RealWait, RealExec, RealOpen}; }

TfwStartupLauncher StartupLauncher = DefaultStartupLauncher();

std::string TfwAllRunItems::FileName() const
{
    std::string folder = IsUser ? UserDataFolder() : CommonDataFolder();
    return folder.empty() ? std::string() : folder + "startup.xml";
}

void TfwAllRunItems::Load()
{
    try {
        std::string file = FileName();
        if (file.empty() || !FileExists(file)) return;
        // The machine-wide list says what gets written into the machine's
        // Run key and started for every user.
        if (!IsUser && !TrustedMachineFile(file)) return;
        std::string text;
        if (!ReadFileToString(file, text)) return;
        ReadEntryLines(text, "startup", "run", nullptr, [&](TXMLTag *child) {
            auto item = std::make_unique<TfwRegRunItem>();
            item->IsUser = IsUser;
            item->App = HexUnescape(child->GetAttr("app"));
            item->Name = HexUnescape(child->GetAttr("name"));
            item->Value = HexUnescape(child->GetAttr("value"));
            item->Priority = ReadPriority(child->GetAttr("priority"));
            item->Is64 = child->GetAttr("is64") == "1";
            item->Expand = child->GetAttr("expand") == "1";
            if (item->Priority > MaxPriority) MaxPriority = item->Priority;
            Items.push_back(std::move(item));
        });
    } catch (...) {
    }
}

std::string TfwAllRunItems::Text() const
{
    std::string text = "<startup>\r\n";
    for (const auto &item : Items) {
        if (item->Name.empty() || item->Value.empty()) continue;
        text += "    <run app=\"" + HexEscape(item->App) + "\" name=\"" + HexEscape(item->Name) + "\" value=\"" +
                HexEscape(item->Value) + "\" priority=\"" + std::to_string(item->Priority) + "\"";
        if (item->Is64) text += " is64=\"1\"";
        if (item->Expand) text += " expand=\"1\"";
        text += " />\r\n";
    }
    text += "</startup>\r\n";
    return text;
}

bool TfwAllRunItems::Save()
{
    try {
        std::string file = FileName();
        if (file.empty()) return false;
        if (Items.empty()) {
            if (FileExists(file)) DeleteFileForce(file);
            return true;
        }
        // The data folder may not exist yet (nothing else of the user's has
        // been written); all users' one is shared by every account.
        std::string folder = file.substr(0, file.find_last_of('\\') + 1);
        if (!DirectoryExists(folder) && !ForceDirectories(folder, false, true)) return false;
        // Deleting the list first and then failing to write it would forget
        // every program postponed earlier (their Run values are long gone), so
        // the old list is replaced only by a complete new one.
        std::string side = file + ".new";
        if (!WriteWholeFile(side, Text())) return false;
        if (!MoveFileExA(side.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            DeleteFileA(side.c_str());
            return false;
        }
        if (!IsUser) ProtectMachineFile(file);
        if (!FileExists(file)) return false;
        // Both programs and every user of the machine replace this file.
        GrantEveryoneFile(file);
        for (const auto &item : Items) {
            if (item->Name.empty() || item->Value.empty()) continue;
            TEntryView view(item->Is64);
            RegRemoveValue(Root(), RunKeyPath, item->Name);
        }
        return true;
    } catch (...) {
        return false;
    }
}

void TfwAllRunItems::AddEntry(const TfwFoundStartup *found)
{
    if (!found || found->Name.empty() || found->Value.empty() || found->IsShortcut || found->IsUser != IsUser)
        return;
    TfwRegRunItem *entry = nullptr;
    for (const auto &item : Items) {
        if (item->Name == found->Name && item->IsUser == found->IsUser && item->Is64 == found->Is64 &&
            item->Expand == found->Expand) {
            entry = item.get();
            break;
        }
    }
    if (!entry) {
        Items.push_back(std::make_unique<TfwRegRunItem>());
        entry = Items.back().get();
        entry->IsUser = IsUser;
    }
    entry->App = found->App;
    entry->Name = found->Name;
    entry->Value = found->Value;
    entry->Is64 = found->Is64;
    entry->Expand = found->Expand;
    entry->Priority = found->Priority;
}

bool TfwAllRunItems::RestoreAll()
{
    bool all = true;
    for (const auto &item : Items) {
        if (item->Name.empty() || item->Value.empty()) continue;
        try {
            TEntryView view(item->Is64);
            bool ok = item->Expand ? RegWriteExpandStr(Root(), RunKeyPath, item->Name, item->Value)
                                   : RegWriteStr(Root(), RunKeyPath, item->Name, item->Value);
            if (!ok) all = false;
        } catch (...) {
            all = false;
        }
    }
    return all;
}

void TfwAllRunItems::RunAll(const TfwRunCallback &callback)
{
    try {
        RunLevels(callback);
    } catch (...) {
        // An error ends the whole run; nothing was changed by it.
    }
}

void TfwAllRunItems::RunLevels(const TfwRunCallback &callback)
{
    if (Items.empty()) return;
    for (int level = 0; level <= MaxPriority; ++level) {
        Call(callback);
        bool started = false;
        for (const auto &item : Items) {
            if (item->Priority != level || item->Value.empty()) continue;
            std::string command = item->Expand ? ExpandEnvVars(item->Value) : item->Value;
            if (!command.empty()) StartupLauncher.Exec(command);
            started = true;
            AfterLaunch(callback);
        }
        if (started) {
            for (int i = 0; i < 11; ++i) {
                StartupLauncher.Wait(500);
                Call(callback);
            }
        }
    }
}

std::string StartupStashFolder(bool isUser)
{
    std::string folder = isUser ? UserDataFolder() : CommonDataFolder();
    return folder.empty() ? std::string() : folder + "Startup\\";
}

bool PostponeShortcut(const TfwFoundStartup &found)
{
    try {
        if (!found.IsShortcut || !FileExists(found.ShortcutPath)) return false;
        std::string stash = StartupStashFolder(found.IsUser);
        bool made = !stash.empty() && !DirectoryExists(stash);
        if (stash.empty() || !ForceDirectories(stash, found.IsUser, true)) return false;
        if (made && !found.IsUser) ProtectMachineFile(stash);
        size_t slash = found.ShortcutPath.find_last_of('\\');
        std::string target = stash + (slash == std::string::npos ? found.ShortcutPath
                                                                 : found.ShortcutPath.substr(slash + 1));
        if (FileExists(target)) DeleteFileForce(target);
        if (!CopyFileEx(found.ShortcutPath, target, found.IsUser, true) || !FileExists(target)) return false;
        if (!found.IsUser) ProtectMachineFile(target);
        return DeleteFileForce(found.ShortcutPath);
    } catch (...) {
        return false;
    }
}

void RestoreShortcuts(const std::string &stashFolder, const std::string &startupFolder)
{
    try {
        if (stashFolder.empty() || startupFolder.empty()) return;
        const bool machineWide = AsciiLower(WithSlash(stashFolder)) == AsciiLower(WithSlash(StartupStashFolder(false)));
        for (const std::string &name : ShortcutsIn(stashFolder)) {
            std::string stashed = WithSlash(stashFolder) + name;
            std::string target = WithSlash(startupFolder) + name;
            // The machine-wide stash goes back into the start of every user.
            if (machineWide && !TrustedMachineFile(stashed)) continue;
            // A shortcut the user re-created meanwhile wins; one that cannot be
            // put back stays in the stash rather than being lost.
            if (!FileExists(target)) {
                if (!CopyFileEx(stashed, target, false, false) || !FileExists(target)) continue;
            }
            DeleteFileForce(stashed);
        }
    } catch (...) {
    }
}

void RestorePostponedStartup()
{
    try {
        for (bool isUser : {false, true}) {
            TfwAllRunItems list(isUser);
            list.Load();
            // A list whose entries did not all go back is kept, so that a
            // later restore can finish the job; writing an entry twice is
            // harmless.
            if (list.RestoreAll()) {
                std::string file = list.FileName();
                if (!file.empty() && FileExists(file)) DeleteFileForce(file);
            }
        }
        RestoreShortcuts(StartupStashFolder(true), StartupDir());
        RestoreShortcuts(StartupStashFolder(false), CommonStartupDir());
    } catch (...) {
    }
}

void RunPostponedStartup(const TfwRunCallback &callback)
{
    try {
        for (bool isUser : {false, true}) {
            TfwAllRunItems list(isUser);
            list.Load();
            list.RunAll(callback);
        }
        std::vector<std::string> shortcuts;
        for (bool isUser : {true, false}) {
            std::string stash = StartupStashFolder(isUser);
            for (const std::string &name : ShortcutsIn(stash)) shortcuts.push_back(stash + name);
        }
        for (const std::string &path : shortcuts) {
            StartupLauncher.Open(path);
            AfterLaunch(callback);
        }
    } catch (...) {
    }
}
