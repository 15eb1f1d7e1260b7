// Console front-end to the engine, for administrators and scripts.
//
//   TovuCmd [tree] [--lang CODE]   the engine tree built from the definitions
//                                  carried in this program
//
// Exit codes: 0 done, 2 usage or environment error.
#include "engine/fwClasses.h"
#include "engine/fwClassesEx.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// Wide text to the console as it is, to a pipe or file as UTF-8.
void Out(const std::wstring &text)
{
    HANDLE h = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode, n;
    if (GetConsoleMode(h, &mode)) {
        WriteConsoleW(h, text.data(), DWORD(text.size()), &n, nullptr);
    } else {
        std::string utf8 = WideToUtf8(text);
        WriteFile(h, utf8.data(), DWORD(utf8.size()), &n, nullptr);
    }
}

std::wstring Widen(const std::string &ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::wstring Pad(std::wstring s, size_t width)
{
    if (s.size() < width) s.append(width - s.size(), L' ');
    return s;
}

// What one group's scanner carries from the document.
size_t EntryCount(const TfwGroup &g)
{
    if (auto *m = dynamic_cast<TfwItemsMissingFiles *>(g.Items))
        return m->ScanList.size() + m->IgnoreList.size() + m->SpecialList.size() + m->ExceptList.size();
    if (auto *a = dynamic_cast<TfwItemsAddOns *>(g.Items)) return a->IEList.size() + a->FFList.size();
    return g.Items->List.size();
}

int PrintTree(const std::string &lang)
{
    if (!lang.empty()) SetUILanguage(lang);
    TfwMain main;
    main.LoadDefinitions();
    if (!main.Fix && !main.Boost && !main.Clean) {
        Out(L"TovuCmd: no definitions found in this program\r\n");
        return 2;
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
    return 0;
}

void Usage()
{
    Out(L"usage: TovuCmd [tree] [--lang CODE]\r\n");
}

} // namespace

int main(int argc, char **argv)
{
    std::string command = "tree", lang;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--lang" && i + 1 < argc) {
            lang = argv[++i];
        } else if (a == "tree") {
            command = a;
        } else {
            Usage();
            return 2;
        }
    }
    try {
        return PrintTree(lang);
    } catch (...) {
        Out(L"TovuCmd: unexpected failure\r\n");
        return 2;
    }
}
