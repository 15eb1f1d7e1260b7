// Console front-end to the engine, for administrators and scripts. It runs
// exactly the runs the wizard starts: the same tree, the same worker thread,
// the same backup documents.
//
//   TovuCmd [tree]                      the engine tree of the built-in definitions
//   TovuCmd scan [--group ID]... [--json] [--why]
//   TovuCmd fix  [--group ID]... [--yes] [--restore-point]
//   TovuCmd backups list
//   TovuCmd backups restore FILE [--yes]
//   TovuCmd backups remove FILE [--yes]
//   TovuCmd startup list                postponed programs per scope, by priority
//   TovuCmd startup restore             everything postponed back into the normal start
//   TovuCmd startup run                 start the postponed programs as the tray does
//   common: --lang CODE, --trace (the engine's trace lines on standard error)
//
// Exit codes: 0 nothing found or everything fixed, 1 problems found by scan,
// 2 usage or environment error, 3 a category was left unfixed because its
// backup document could not be written.
#include "backup/fwBackup.h"
#include "backup/fwRestorePoint.h"
#include "engine/fwLogs.h"
#include "engine/fwRun.h"
#include "engine/fwTools.h"
#include "platform/HandlesU.h"
#include "platform/TextU.h"
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

enum { ExitOk = 0, ExitFound = 1, ExitUsage = 2, ExitNotBackedUp = 3 };

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

std::wstring Widen(const std::string &ansi) { return AnsiToWide(ansi); }

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
    bool json = false, why = false, trace = false, yes = false, restorePoint = false;
};

// ---- tree --------------------------------------------------------------------

int PrintTree()
{
    TfwRun run;
    if (!run.Load()) {
        Err(L"TovuCmd: no definitions found in this program\r\n");
        return ExitUsage;
    }
    Out(L"Definitions " + Widen(run.Tree()->Version) + L", language " + Widen(UILanguage()) + L"\r\n");
    for (TfwCategory *c : run.Categories()) {
        Out(L"\r\n" + c->Caption() + L"\r\n");
        Out(L"  order  id                 type           weight  entries  caption\r\n");
        for (TfwGroup *g : c->Groups) {
            wchar_t nums[64];
            swprintf(nums, 64, L"  %5d  ", g->Order);
            std::wstring line = nums + Pad(Widen(g->Id), 19) + Pad(Widen(g->ItemsType), 15);
            swprintf(nums, 64, L"%6d  %7u  ", g->ProgressSize, unsigned(g->Items->EntryCount()));
            Out(line + nums + g->Caption() + L"\r\n");
        }
    }
    return ExitOk;
}

// ---- runs --------------------------------------------------------------------

// The engine's trace lines, for looking inside a run.
void TraceToStderr(const std::string &text, int channel, int level)
{
    static const wchar_t *const channels[] = {L"", L"load", L"scan", L"fix"};
    Err(std::wstring(L"trace ") + channels[channel >= 1 && channel <= 3 ? channel : 0] + L": " + Widen(text) +
        L"\r\n");
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
    static TfwPhase lastPhase = TfwPhase::Idle;
    static bool first = true;
    if (StderrIsTerminal()) {
        int width = 30, filled = st.Maximum > 0 ? int(double(st.Position) * width / st.Maximum) : 0;
        if (filled > width) filled = width;
        std::wstring bar = L"\r[" + std::wstring(filled, L'#') + std::wstring(width - filled, L'.') + L"] ";
        Err(bar + Pad(st.GroupCaption.substr(0, 45), 45));
    } else if (first || st.GroupCaption != lastCaption || st.Phase != lastPhase) {
        if (!st.GroupCaption.empty()) {
            const wchar_t *phase = st.Phase == TfwPhase::BackingUp ? L"backing up: "
                                   : st.Phase == TfwPhase::Fixing  ? L"fixing: "
                                                                   : L"scanning: ";
            Err(std::wstring(phase) + st.GroupCaption + L"\r\n");
        }
    }
    lastCaption = st.GroupCaption;
    lastPhase = st.Phase;
    first = false;
    return true;
}

// Runs one run to its end on this thread's synchronised calls.
TfwRunResult RunToEnd(TfwRun &run, TfwRunKind kind, bool restorePoint)
{
    TfwRunResult result;
    result.Kind = kind;
    bool started = false;
    auto finished = [&](const TfwRunResult &r) { result = r; };
    switch (kind) {
    case TfwRunKind::Scan: started = run.StartScan(ShowProgress, finished); break;
    case TfwRunKind::Repair: started = run.StartRepair(restorePoint, ShowProgress, finished); break;
    case TfwRunKind::SpeedUp: started = run.StartSpeedUp(restorePoint, ShowProgress, finished); break;
    }
    if (started) run.WaitForEnd(INFINITE);
    if (StderrIsTerminal()) Err(L"\r" + std::wstring(78, L' ') + L"\r");
    return result;
}

bool LoadTree(TfwRun &run, const Options &o)
{
    if (!run.Load()) {
        Err(L"TovuCmd: no definitions found in this program\r\n");
        return false;
    }
    if (!run.ChooseGroups(o.groups)) {
        Err(L"TovuCmd: unknown group id (see TovuCmd tree)\r\n");
        return false;
    }
    return true;
}

void PrintFindings(TfwRun &run, bool json, bool why)
{
    if (json) {
        std::wstring s = L"{\"version\":" + JsonString(Widen(run.Tree()->Version)) + L",\"categories\":[";
        bool firstCat = true;
        for (TfwCategory *c : run.Categories()) {
            s += (firstCat ? L"" : L",") + std::wstring(L"{\"kind\":") + std::to_wstring(int(c->Kind)) +
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
                    std::wstring cap = i->Found ? i->ReviewCaption() : L"";
                    if (cap.empty()) continue;
                    s += (firstItem ? L"" : L",") + std::wstring(L"{\"caption\":") + JsonString(cap) +
                         L",\"detail\":" + (i->IsDetail ? L"true" : L"false") + L",\"size\":" +
                         std::to_wstring(i->Size);
                    if (!i->IsDetail) s += L",\"why\":" + JsonString(i->Evidence());
                    s += L"}";
                    firstItem = false;
                }
                s += L"]}";
            }
            s += L"]}";
        }
        Out(s + L"]}\r\n");
        return;
    }
    for (TfwCategory *c : run.Categories()) {
        Out(c->Caption() + L"\r\n");
        for (TfwGroup *g : c->Groups) {
            if (!g->Enabled) continue;
            wchar_t count[32];
            swprintf(count, 32, L"%6d  ", g->FoundCount());
            std::wstring size = c->Kind == TfwCategoryKind::Clean ? Widen(SizeText(g->FoundSize())) : L"";
            Out(L"  " + Pad(Widen(g->Id), 19) + count + Pad(size, 10) + g->Caption() + L"\r\n");
            for (TfwItem *i : g->Items->List) {
                std::wstring cap = i->Found ? i->ReviewCaption() : L"";
                if (cap.empty()) continue;
                Out(std::wstring(i->IsDetail ? L"        . " : L"      - ") + cap + L"\r\n");
                if (why && !i->IsDetail && !i->Why.empty()) Out(L"          why: " + i->Evidence() + L"\r\n");
            }
        }
    }
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
    TfwRun run;
    if (!LoadTree(run, o)) return ExitUsage;
    RunToEnd(run, TfwRunKind::Scan, false);
    PrintFindings(run, o.json, o.why);
    return run.FoundTotal() > 0 ? ExitFound : ExitOk;
}

int Fix(const Options &o)
{
    TfwRun run;
    if (!LoadTree(run, o)) return ExitUsage;
    RunToEnd(run, TfwRunKind::Scan, false);
    if (run.FoundTotal() == 0) {
        Out(L"Nothing to fix.\r\n");
        return ExitOk;
    }
    PrintFindings(run, false, o.why);
    if (!Confirm(L"Fix the items listed above?", o.yes)) return ExitFound;
    bool restorePoint = o.restorePoint && IsSystemRestoreEnabled();
    // The wizard's two repair runs: the registry fix, then speed-up and clean-up.
    std::vector<TfwCategoryKind> notBackedUp;
    for (TfwRunKind kind : {TfwRunKind::Repair, TfwRunKind::SpeedUp}) {
        if (kind == TfwRunKind::Repair ? !run.HasRepairWork() : !run.HasSpeedUpWork()) continue;
        TfwRunResult r = RunToEnd(run, kind, restorePoint);
        notBackedUp.insert(notBackedUp.end(), r.NotBackedUp.begin(), r.NotBackedUp.end());
    }
    TfwRun::TrimBackups(bkFix);
    TfwRun::TrimBackups(bkBoost);
    if (!notBackedUp.empty()) {
        for (TfwCategoryKind kind : notBackedUp) {
            TfwCategory *c = run.Tree()->Category(kind);
            Err(L"TovuCmd: not fixed, its backup could not be written: " + (c ? c->Caption() : L"?") + L"\r\n");
        }
        return ExitNotBackedUp;
    }
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
    if (stash.empty()) return;
    for (TFindFile f(stash + "*.lnk"); f.Ok(); f.Next())
        if (!f.IsFolder()) Out(L"  shortcut  " + Widen(stash + f.Name()) + L"\r\n");
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
        L"       TovuCmd scan [--group ID]... [--json] [--why]\r\n"
        L"       TovuCmd fix [--group ID]... [--yes] [--restore-point] [--why]\r\n"
        L"       TovuCmd backups list | restore FILE [--yes] | remove FILE [--yes]\r\n"
        L"       TovuCmd startup list | restore | run\r\n"
        L"       common options: --lang CODE, --trace\r\n");
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
        else if (a == "--why") o.why = true;
        else if (a == "--trace") o.trace = true;
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
        if (o.trace) SetTraceSink(TraceToStderr);
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
