// Console front-end to the engine, for administrators and scripts. It runs
// exactly the runs the wizard starts: the same tree, the same worker thread,
// the same backup documents.
//
//   TovuCmd [tree]                      the engine tree of the built-in definitions
//   TovuCmd scan [--group ID]... [--json]
//   TovuCmd fix  [--group ID]... [--yes] [--restore-point]
//   TovuCmd backups list
//   TovuCmd backups restore FILE [--yes]
//   TovuCmd backups remove FILE [--yes]
//   TovuCmd startup list                postponed programs per scope, by priority
//   TovuCmd startup restore             everything postponed back into the normal start
//   TovuCmd startup run                 start the postponed programs as the tray does
//   common: --lang CODE
//
// Exit codes: 0 nothing found or everything fixed, 1 problems found by scan,
// 2 usage or environment error, 3 a category left unfixed because its backup
// document could not be written.
#include "backup/fwBackup.h"
#include "backup/fwRestorePoint.h"
#include "engine/fwClasses.h"
#include "engine/fwClassesEx.h"
#include "engine/fwTools.h"
#include "platform/RegistryU.h"
#include "platform/ThreadU.h"
#include "config/fwSettings.h"
#include "config/fwTranslate.h"
#include "startup/fwStartup.h"

#include <windows.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace {

enum { ExitOk = 0, ExitFound = 1, ExitUsage = 2, ExitNoBackup = 3 };

void Write(HANDLE h, const std::wstring &text)
{
    DWORD mode, n;
    if (GetConsoleMode(h, &mode)) {
        WriteConsoleW(h, text.data(), DWORD(text.size()), &n, nullptr);
    } else {
        std::string utf8 = WideToUtf8(text);
        WriteFile(h, utf8.data(), DWORD(utf8.size()), &n, nullptr);
    }
}

void Out(const std::wstring &text) { Write(GetStdHandle(STD_OUTPUT_HANDLE), text); }
void Err(const std::wstring &text) { Write(GetStdHandle(STD_ERROR_HANDLE), text); }

std::wstring Widen(const std::string &ansi)
{
    if (ansi.empty()) return {};
    int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), int(ansi.size()), nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), int(ansi.size()), &w[0], n);
    return w;
}

std::wstring Pad(std::wstring s, size_t width)
{
    if (s.size() < width) s.append(width - s.size(), L' ');
    return s;
}

std::wstring JsonString(const std::wstring &s)
{
    std::wstring out = L"\"";
    for (wchar_t c : s) {
        if (c == L'"' || c == L'\\') {
            out += L'\\';
            out += c;
        } else if (c < 32) {
            wchar_t buf[8];
            swprintf(buf, 8, L"\\u%04x", unsigned(c));
            out += buf;
        } else {
            out += c;
        }
    }
    return out + L"\"";
}

struct Options {
    std::string command = "tree";
    std::vector<std::string> args;
    std::vector<std::string> groups;
    std::string lang;
    bool json = false, yes = false, restorePoint = false;
};

// ---- tree --------------------------------------------------------------------

size_t EntryCount(const TfwGroup &g)
{
    if (auto *m = dynamic_cast<TfwItemsMissingFiles *>(g.Items))
        return m->ScanList.size() + m->IgnoreList.size() + m->SpecialList.size() + m->ExceptList.size();
    if (auto *a = dynamic_cast<TfwItemsAddOns *>(g.Items)) return a->IEList.size() + a->FFList.size();
    return g.Items->List.size();
}

int PrintTree()
{
    TfwMain main;
    main.LoadDefinitions();
    if (!main.Fix && !main.Boost && !main.Clean) {
        Err(L"TovuCmd: no definitions found in this program\r\n");
        return ExitUsage;
    }
    Out(L"Definitions " + Widen(main.Version) + L", language " + Widen(UILanguage()) + L"\r\n");
    for (TfwCategory *c : {main.Fix, main.Boost, main.Clean}) {
        if (!c) continue;
        Out(L"\r\n" + c->Caption() + L"\r\n");
        Out(L"  order  id                 type           weight  entries  caption\r\n");
        for (TfwGroup *g : c->Groups) {
            wchar_t nums[64];
            swprintf(nums, 64, L"  %5d  ", g->Order);
            std::wstring line = nums + Pad(Widen(g->Id), 19) + Pad(Widen(g->ItemsType), 15);
            swprintf(nums, 64, L"%6d  %7u  ", g->ProgressSize, unsigned(EntryCount(*g)));
            Out(line + nums + g->Caption() + L"\r\n");
        }
    }
    return ExitOk;
}

// ---- runs --------------------------------------------------------------------

// The caption the review tree shows for a found item; empty: no line.
std::wstring ItemCaption(TfwItem *item)
{
    if (!item->Caption.empty()) return item->Caption;
    if (auto *r = dynamic_cast<TfwRegItem *>(item)) {
        std::string key = r->Key;
        while (!key.empty() && key.back() == '\\') key.pop_back();
        return Widen(RegRootName(r->Root) + "\\" + key + "   " + r->ValueName);
    }
    if (auto *s = dynamic_cast<TfwStartupItem *>(item)) return Widen(s->Name);
    return {};
}

bool StderrIsTerminal()
{
    DWORD mode;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

// Progress on standard error: a bar on a terminal, plain lines otherwise.
bool ShowProgress(const TfwUIStatus &st)
{
    static std::wstring lastCaption;
    static uint8_t lastPhase = 255;
    if (StderrIsTerminal()) {
        int width = 30, filled = st.Maximum > 0 ? int(double(st.Position) * width / st.Maximum) : 0;
        if (filled > width) filled = width;
        std::wstring bar = L"\r[" + std::wstring(filled, L'#') + std::wstring(width - filled, L'.') + L"] ";
        Err(bar + Pad(st.GroupCaption.substr(0, 45), 45));
    } else if (st.GroupCaption != lastCaption || st.Phase != lastPhase) {
        if (!st.GroupCaption.empty()) {
            const wchar_t *phase = st.Phase == 2 ? L"backing up: " : st.Phase == 3 ? L"fixing: " : L"scanning: ";
            Err(std::wstring(phase) + st.GroupCaption + L"\r\n");
        }
    }
    lastCaption = st.GroupCaption;
    lastPhase = st.Phase;
    return true;
}

// Runs one thread to its end on this thread's synchronised calls. Returns the
// categories (1 << kind) left unfixed for want of a backup document.
uint8_t RunThread(TfwMain &main, int mode, int categories, bool restorePoint)
{
    bool finished = false;
    uint8_t backupFailed = 0;
    auto *t = new TfwExecThread(
        &main, restorePoint,
        [&](TfwExecThread *thread) {
            backupFailed = thread->BackupFailed;
            finished = true;
        },
        ShowProgress, categories, mode);
    TThreadWaiter waiter = t->Waiter();
    if (!t->Start()) {
        delete t;
        return 0;
    }
    while (!finished) CheckSynchronize(50);
    waiter.WaitFor(5000);
    if (StderrIsTerminal()) Err(L"\r" + std::wstring(78, L' ') + L"\r");
    return backupFailed;
}

bool LoadTree(TfwMain &main, const Options &o)
{
    main.LoadDefinitions();
    if (!main.Fix && !main.Boost && !main.Clean) {
        Err(L"TovuCmd: no definitions found in this program\r\n");
        return false;
    }
    if (o.groups.empty()) return true;
    int known = 0;
    for (TfwCategory *c : {main.Fix, main.Boost, main.Clean}) {
        if (!c) continue;
        for (TfwGroup *g : c->Groups) {
            bool wanted = false;
            for (const auto &id : o.groups) wanted |= g->Id == id;
            g->Enabled = g->Selected = wanted;
            known += wanted;
        }
    }
    if (known != int(o.groups.size())) {
        Err(L"TovuCmd: unknown group id (see TovuCmd tree)\r\n");
        return false;
    }
    return true;
}

void PrintFindings(TfwMain &main, bool json)
{
    if (json) {
        std::wstring s = L"{\"version\":" + JsonString(Widen(main.Version)) + L",\"categories\":[";
        bool firstCat = true;
        for (TfwCategory *c : {main.Fix, main.Boost, main.Clean}) {
            if (!c) continue;
            s += (firstCat ? L"" : L",") + std::wstring(L"{\"kind\":") + std::to_wstring(c->Kind) +
                 L",\"caption\":" + JsonString(c->Caption()) + L",\"groups\":[";
            firstCat = false;
            bool firstGroup = true;
            for (TfwGroup *g : c->Groups) {
                if (!g->Enabled) continue;
                s += (firstGroup ? L"" : L",") + std::wstring(L"{\"id\":") + JsonString(Widen(g->Id)) +
                     L",\"caption\":" + JsonString(g->Caption()) + L",\"found\":" + std::to_wstring(g->FoundCount()) +
                     L",\"size\":" + std::to_wstring(g->FoundSize()) + L",\"items\":[";
                firstGroup = false;
                bool firstItem = true;
                for (TfwItem *i : g->Items->List) {
                    std::wstring cap = i->Found ? ItemCaption(i) : L"";
                    if (cap.empty()) continue;
                    s += (firstItem ? L"" : L",") + std::wstring(L"{\"caption\":") + JsonString(cap) +
                         L",\"detail\":" + (i->IsDetail ? L"true" : L"false") + L",\"size\":" +
                         std::to_wstring(i->Size) + L"}";
                    firstItem = false;
                }
                s += L"]}";
            }
            s += L"]}";
        }
        Out(s + L"]}\r\n");
        return;
    }
    for (TfwCategory *c : {main.Fix, main.Boost, main.Clean}) {
        if (!c) continue;
        Out(c->Caption() + L"\r\n");
        for (TfwGroup *g : c->Groups) {
            if (!g->Enabled) continue;
            wchar_t count[32];
            swprintf(count, 32, L"%6d  ", g->FoundCount());
            std::wstring size = c->Kind == ckClean ? Widen(SizeText(g->FoundSize())) : L"";
            Out(L"  " + Pad(Widen(g->Id), 19) + count + Pad(size, 10) + g->Caption() + L"\r\n");
            for (TfwItem *i : g->Items->List) {
                std::wstring cap = i->Found ? ItemCaption(i) : L"";
                if (!cap.empty()) Out(std::wstring(i->IsDetail ? L"        . " : L"      - ") + cap + L"\r\n");
            }
        }
    }
}

int FoundTotal(TfwMain &main)
{
    int n = 0;
    for (TfwCategory *c : {main.Fix, main.Boost, main.Clean})
        if (c) n += c->FoundCount();
    return n;
}

bool Confirm(const std::wstring &question, bool yes)
{
    if (yes) return true;
    Err(question + L" [y/N] ");
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

int Scan(const Options &o)
{
    TfwMain main;
    if (!LoadTree(main, o)) return ExitUsage;
    RunThread(main, TfwExecThread::ModeScan, TfwExecThread::CatFix | TfwExecThread::CatBoost |
                                                 TfwExecThread::CatClean, false);
    PrintFindings(main, o.json);
    return FoundTotal(main) > 0 ? ExitFound : ExitOk;
}

int Fix(const Options &o)
{
    TfwMain main;
    if (!LoadTree(main, o)) return ExitUsage;
    RunThread(main, TfwExecThread::ModeScan, TfwExecThread::CatFix | TfwExecThread::CatBoost |
                                                 TfwExecThread::CatClean, false);
    if (FoundTotal(main) == 0) {
        Out(L"Nothing to fix.\r\n");
        return ExitOk;
    }
    PrintFindings(main, false);
    if (!Confirm(L"Fix the items listed above?", o.yes)) return ExitFound;
    bool restorePoint = o.restorePoint && IsSystemRestoreEnabled();
    // The wizard's two repair runs: the registry fix, then speed-up and clean-up.
    uint8_t backupFailed = 0;
    if (main.Fix && main.Fix->SelectedCount() > 0)
        backupFailed |= RunThread(main, TfwExecThread::ModeFix, TfwExecThread::CatFix, restorePoint);
    int rest = (main.Boost && main.Boost->SelectedCount() > 0 ? TfwExecThread::CatBoost : 0) |
               (main.Clean && main.Clean->SelectedCount() > 0 ? TfwExecThread::CatClean : 0);
    if (rest) backupFailed |= RunThread(main, TfwExecThread::ModeFix, rest, restorePoint);
    TfwBackups backups;
    backups.Load();
    backups.Trim(bkFix);
    backups.Trim(bkBoost);
    for (TfwCategory *c : {main.Fix, main.Boost})
        if (c && (backupFailed & (1u << c->Kind)))
            Err(L"Not fixed: " + c->Caption() + L" (its backup could not be written to " +
                Widen(BackupDocumentsFolder()) + L")\r\n");
    if (backupFailed) return ExitNoBackup;
    Out(L"Done.\r\n");
    return ExitOk;
}

TfwBackup *FindBackup(TfwBackups &all, const std::string &file)
{
    for (auto *list : {&all.FixBackups, &all.BoostBackups})
        for (auto &b : *list) {
            std::string name = b->FileName.substr(b->FileName.find_last_of('\\') + 1);
            if (lstrcmpiA(b->FileName.c_str(), file.c_str()) == 0 || lstrcmpiA(name.c_str(), file.c_str()) == 0)
                return b.get();
        }
    return nullptr;
}

int Backups(const Options &o)
{
    if (o.args.empty()) return ExitUsage;
    TfwBackups all;
    all.Load();
    const std::string &what = o.args[0];
    if (what == "list" && o.args.size() == 1) {
        for (int kind : {bkFix, bkBoost})
            for (TfwBackup *b : all.NewestFirst(kind))
                Out(std::wstring(kind == bkFix ? L"fix    " : L"boost  ") + Pad(b->Date + L" ", 24) +
                    Widen(b->FileName.substr(b->FileName.find_last_of('\\') + 1)) + L"\r\n");
        return ExitOk;
    }
    if ((what == "restore" || what == "remove") && o.args.size() == 2) {
        TfwBackup *b = FindBackup(all, o.args[1]);
        if (!b) {
            Err(L"TovuCmd: no such backup\r\n");
            return ExitUsage;
        }
        if (what == "restore") {
            if (!Confirm(Translate("BackupRestore", L"Do you really want to restore this backup?"), o.yes))
                return ExitOk;
            int n = Restore(*b);
            Out(std::to_wstring(n) + L" entries restored.\r\n");
        } else {
            if (!Confirm(Translate("BackupRemove", L"Do you really want to remove this backup?"), o.yes))
                return ExitOk;
            all.Remove(b);
            Out(L"Removed.\r\n");
        }
        return ExitOk;
    }
    return ExitUsage;
}

// Postponed programs of one scope: the recorded Run values by priority, then
// the stashed shortcuts.
void PrintPostponed(bool isUser)
{
    Out(std::wstring(isUser ? L"user" : L"all users") + L":\r\n");
    TfwAllRunItems list(isUser);
    list.Load();
    for (int level = 0; level <= list.MaxPriority; ++level)
        for (const auto &item : list.Items)
            if (item->Priority == level)
                Out(L"  run       " + Pad(std::to_wstring(item->Priority), 4) + Widen(item->App) + L" | " +
                    Widen(item->Name) + (item->Is64 ? L" (64-bit)" : L"") + L" = " + Widen(item->Value) + L"\r\n");
    std::string stash = StartupStashFolder(isUser);
    WIN32_FIND_DATAA fd;
    HANDLE h = stash.empty() ? INVALID_HANDLE_VALUE : FindFirstFileA((stash + "*.lnk").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                Out(L"  shortcut  " + Widen(stash + fd.cFileName) + L"\r\n");
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
}

int Startup(const Options &o)
{
    if (o.args.size() != 1) return ExitUsage;
    const std::string &what = o.args[0];
    if (what == "list") {
        PrintPostponed(false);
        PrintPostponed(true);
        return ExitOk;
    }
    if (what == "restore") {
        RestorePostponedStartup();
        // Whatever is still listed could not be put back.
        int left = 0;
        for (bool isUser : {false, true}) {
            TfwAllRunItems list(isUser);
            list.Load();
            left += int(list.Items.size());
        }
        if (left) {
            Err(L"TovuCmd: " + std::to_wstring(left) + L" postponed entries could not be restored\r\n");
            return ExitFound;
        }
        Out(L"Restored.\r\n");
        return ExitOk;
    }
    if (what == "run") {
        RunPostponedStartup(nullptr);
        Out(L"Done.\r\n");
        return ExitOk;
    }
    return ExitUsage;
}

void Usage()
{
    Err(L"usage: TovuCmd [tree] [--lang CODE]\r\n"
        L"       TovuCmd scan [--group ID]... [--json]\r\n"
        L"       TovuCmd fix [--group ID]... [--yes] [--restore-point]\r\n"
        L"       TovuCmd backups list | restore FILE [--yes] | remove FILE [--yes]\r\n"
        L"       TovuCmd startup list | restore | run\r\n");
}

} // namespace

int main(int argc, char **argv)
{
    Options o;
    bool commandSeen = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--lang" && i + 1 < argc) o.lang = argv[++i];
        else if (a == "--group" && i + 1 < argc) o.groups.push_back(argv[++i]);
        else if (a == "--json") o.json = true;
        else if (a == "--yes") o.yes = true;
        else if (a == "--restore-point") o.restorePoint = true;
        else if (!a.empty() && a[0] == '-') {
            Usage();
            return ExitUsage;
        } else if (!commandSeen) {
            o.command = a;
            commandSeen = true;
        } else {
            o.args.push_back(a);
        }
    }
    try {
        LoadSettings();
        LoadTranslations();
        // Not validated against the table: captions of the definitions exist in
        // languages the table lacks, and unknown ones fall back to English.
        if (!o.lang.empty()) SetCurrentLanguage(o.lang);
        if (o.command == "tree" && o.args.empty()) return PrintTree();
        if (o.command == "backups") {
            int rc = Backups(o);
            if (rc == ExitUsage && (o.args.empty() || (o.args[0] != "restore" && o.args[0] != "remove"))) Usage();
            return rc;
        }
        if (o.command == "startup") {
            int rc = Startup(o);
            if (rc == ExitUsage) Usage();
            return rc;
        }
        if (o.command != "scan" && o.command != "fix") {
            Usage();
            return ExitUsage;
        }
        if (!InitSynchronize()) return ExitUsage;
        return o.command == "scan" ? Scan(o) : Fix(o);
    } catch (...) {
        Err(L"TovuCmd: unexpected failure\r\n");
        return ExitUsage;
    }
}
