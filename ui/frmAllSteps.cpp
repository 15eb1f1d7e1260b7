#include "ui/frmAllSteps.h"

#include "config/fwTranslate.h"
#include "ui/fwControls.h"
#include "ui/fwImages.h"
#include "ui/fwUiTrack.h"
#include "ui/frmAllMain.h"

#include <commctrl.h>
#include <uxtheme.h>
#include <vssym32.h>

#include <cmath>
#include <string>
#include <type_traits>

namespace {

// Visual styles are looked up once: Windows 2000 has no theme library, and a
// program importing it would not start there. Without it the classic frame
// controls are drawn.
struct ThemeFns {
    BOOL(WINAPI *IsThemeActive)() = nullptr;
    BOOL(WINAPI *IsAppThemed)() = nullptr;
    HTHEME(WINAPI *OpenThemeData)(HWND, LPCWSTR) = nullptr;
    HRESULT(WINAPI *DrawThemeBackground)(HTHEME, HDC, int, int, const RECT *, const RECT *) = nullptr;
    HRESULT(WINAPI *CloseThemeData)(HTHEME) = nullptr;
    bool Ok() const { return IsThemeActive && IsAppThemed && OpenThemeData && DrawThemeBackground && CloseThemeData; }
};

const ThemeFns &Themes()
{
    static const ThemeFns fns = [] {
        ThemeFns f;
        char path[MAX_PATH + 16] = {};
        UINT n = GetSystemDirectoryA(path, MAX_PATH);
        HMODULE lib = n && n < MAX_PATH ? LoadLibraryA((std::string(path, n) + "\\uxtheme.dll").c_str()) : nullptr;
        if (!lib) return f;
        auto bind = [lib](auto &fn, const char *name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(GetProcAddress(lib, name));
        };
        bind(f.IsThemeActive, "IsThemeActive");
        bind(f.IsAppThemed, "IsAppThemed");
        bind(f.OpenThemeData, "OpenThemeData");
        bind(f.DrawThemeBackground, "DrawThemeBackground");
        bind(f.CloseThemeData, "CloseThemeData");
        return f;
    }();
    return fns;
}

const COLORREF White = RGB(255, 255, 255);
const COLORREF Grey = RGB(128, 128, 128);
const COLORREF Ink = RGB(40, 40, 40);
const COLORREF Accent = RGB(156, 16, 29);
const COLORREF Teal = RGB(19, 124, 116);
const COLORREF GroupBack = RGB(209, 209, 209);

enum class K { Label, Button, Go, Check, Progress, Tree, Box };

// A control of a page. Page -1: the shared buttons, which move onto the page
// being shown.
struct TCtlDef {
    int Page;
    K Kind;
    const char *Name;
    int X, Y, W, H;
    const wchar_t *Text;
    TFontKind Font;
    int Tag;
    COLORREF Color;
};

constexpr int Shared = -1;
constexpr int Code = 999;
constexpr TFontKind N = TFontKind::Normal, B = TFontKind::Bold, H = TFontKind::Headline;

// The pages' layouts (panel coordinates; each page is 600 x 374).
const TCtlDef Layout[] = {
    {Shared, K::Button, "ButtonBack", 300, 332, 90, 28, L"Back", N, 0, Ink},
    {Shared, K::Button, "ButtonNext", 400, 332, 90, 28, L"Next", N, 0, Ink},
    {Shared, K::Button, "ButtonCancel", 500, 332, 90, 28, L"Cancel", N, 0, Ink},
    {Shared, K::Button, "ButtonClose", 500, 332, 90, 28, L"Close", N, 0, Ink},
    // Welcome
    {pgWelcome, K::Label, "LabelWelcomeHeader", 24, 10, 552, 22, L"%BRAND% keeps your computer fast and stable:", H, 0, Teal},
    {pgWelcome, K::Box, "ImageWelcome", 470, 60, 96, 96, L"", N, 0, Ink},
    // ScanSettings
    {pgSettings, K::Label, "LabelSettingsText", 24, 10, 552, 18, L"Select the areas of the registry you want %BRAND% to scan:", B, 0, Ink},
    {pgSettings, K::Label, "LabelSettingsNext", 24, 300, 552, 18, L"Click on \u201cNext\u201d to start the scan.", N, 0, Ink},
    {pgSettings, K::Button, "ButtonUndoChanges", 24, 332, 170, 28, L"Undo Last Changes", N, 0, Ink},
    // ScanProgress
    {pgProgress, K::Box, "AnimScan", 149, 6, 302, 94, L"", N, 0, Ink},
    {pgProgress, K::Label, "LabelRegistryScan", 40, 118, 150, 18, L"Registry Scan", B, 0, Ink},
    {pgProgress, K::Label, "LabelRegistryScanText", 196, 118, 270, 18, L"Invalid registry entries found:", N, 0, Ink},
    {pgProgress, K::Label, "LabelErrorCount", 470, 118, 100, 18, L"0", B, Code, Accent},
    {pgProgress, K::Label, "LabelSystemSpeedUp", 40, 146, 150, 18, L"System Speed Up", B, 0, Ink},
    {pgProgress, K::Label, "LabelSystemSpeedUpText", 196, 146, 270, 18, L"Speed-up tweaks found:", N, 0, Ink},
    {pgProgress, K::Label, "LabelTweakCount", 470, 146, 100, 18, L"0", B, Code, Accent},
    {pgProgress, K::Label, "LabelFileCleanUp", 40, 174, 150, 18, L"File Clean Up", B, 0, Ink},
    {pgProgress, K::Label, "LabelFileCleanUpText", 196, 174, 270, 18, L"Unnecessary files found:", N, 0, Ink},
    {pgProgress, K::Label, "LabelCleanCount", 470, 174, 100, 18, L"0 MB", B, Code, Accent},
    {pgProgress, K::Progress, "ProgressScan", 24, 226, 552, 16, L"", N, 0, Ink},
    {pgProgress, K::Label, "LabelScanCaption", 24, 248, 552, 18, L"", N, Code, Ink},
    {pgProgress, K::Button, "ButtonPauseScan", 24, 332, 132, 28, L"Pause Scan", N, 0, Ink},
    {pgProgress, K::Button, "ButtonStopScan", 166, 332, 110, 28, L"Stop Scan", N, 0, Ink},
    // ScanResults
    {pgResults, K::Box, "ImageResultsTable", 24, 8, 64, 64, L"", N, 0, Ink},
    {pgResults, K::Label, "LabelResultsHeadline", 104, 10, 472, 24, L"", H, Code, Accent},
    {pgResults, K::Label, "LabelResultsClean", 104, 40, 472, 18, L"No registry errors found!", B, 0, Ink},
    {pgResults, K::Label, "LabelResultsCleanInfo", 104, 60, 472, 18, L"Your system registry contains no invalid entries.", N, 0, Ink},
    {pgResults, K::Label, "LabelErrorText", 104, 104, 300, 18, L"Registry errors:", N, 0, Ink},
    {pgResults, K::Label, "LabelResultsErrors", 410, 104, 160, 18, L"0", B, Code, Accent},
    {pgResults, K::Label, "LabelTweakText", 104, 130, 300, 18, L"Speed-up tweaks:", N, 0, Ink},
    {pgResults, K::Label, "LabelResultsTweaks", 410, 130, 160, 18, L"0", B, Code, Accent},
    {pgResults, K::Label, "LabelCleanSizeText", 104, 156, 300, 18, L"Disk space to free:", N, 0, Ink},
    {pgResults, K::Label, "LabelResultsSize", 410, 156, 160, 18, L"0 MB", B, Code, Accent},
    {pgResults, K::Label, "LabelResultsHint", 24, 238, 552, 34, L"", B, Code, Ink},
    {pgResults, K::Label, "LabelResultsNext", 24, 280, 552, 18, L"Click on \u201cNext\u201d to speed up your system.", N, 0, Ink},
    {pgResults, K::Label, "LabelResultsCleanNext", 24, 280, 552, 18, L"Click on \u201cClose\u201d to finish the wizard.", N, 0, Ink},
    {pgResults, K::Button, "ButtonResultsReview", 24, 332, 130, 28, L"Review Issues", N, 0, Ink},
    {pgResults, K::Button, "ButtonResultsBack", 203, 332, 90, 28, L"Back", N, 0, Ink},
    {pgResults, K::Go, "ButtonFix", 312, 326, 178, 36, L"Fix All Errors", B, Code, White},
    // Review (steps 5, 13, 14)
    {pgReview, K::Tree, "TreeViewReview", 24, 0, 552, 320, L"", N, 0, Ink},
    {pgReview, K::Button, "ButtonReviewBack", 496, 332, 80, 28, L"Back", N, 0, Ink},
    // Repair
    {pgRepair, K::Box, "AnimRepair", 124, 6, 351, 100, L"", N, 0, Ink},
    {pgRepair, K::Progress, "ProgressRepair", 24, 226, 552, 16, L"", N, 0, Ink},
    {pgRepair, K::Label, "LabelRepairCaption", 24, 248, 552, 18, L"", N, Code, Ink},
    // RepairDone
    {pgRepairDone, K::Box, "ImageRepairDone", 24, 16, 64, 64, L"", N, 0, Ink},
    {pgRepairDone, K::Label, "LabelRepairDoneText", 104, 20, 472, 54,
     L"If you would like to fix issues that are slowing down your computer, then click on \u201cSpeed Up My System\u201d. If not, click on \u201cFinish\u201d.", N, 0, Ink},
    {pgRepairDone, K::Button, "ButtonFinish", 217, 332, 90, 28, L"Finish", N, 0, Ink},
    {pgRepairDone, K::Button, "ButtonRepairBack", 317, 332, 80, 28, L"Back", N, 0, Ink},
    {pgRepairDone, K::Go, "ButtonSpeedUp", 406, 326, 184, 36, L"Speed Up My System", B, 0, White},
    // SpeedUp
    {pgSpeedUp, K::Check, "CheckSpeedUp", 28, 16, 16, 16, L"", N, 0, Ink},
    {pgSpeedUp, K::Label, "LabelSpeedUp", 50, 15, 400, 18, L"Speed up my system", B, 0, Ink},
    {pgSpeedUp, K::Label, "LabelSpeedUpText", 50, 35, 400, 18, L"Optimizes startup programs, memory and browser add-ons.", N, 0, Ink},
    {pgSpeedUp, K::Label, "LabelSpeedUpTweaksText", 50, 57, 250, 18, L"Speed-up tweaks found:", N, 0, Ink},
    {pgSpeedUp, K::Label, "LabelSpeedUpTweaks", 306, 57, 120, 18, L"0", B, Code, Accent},
    {pgSpeedUp, K::Button, "ButtonReviewTweaks", 469, 30, 107, 28, L"Review tweaks", N, 0, Ink},
    {pgSpeedUp, K::Check, "CheckCleanUp", 28, 106, 16, 16, L"", N, 0, Ink},
    {pgSpeedUp, K::Label, "LabelCleanUp", 50, 105, 400, 18, L"Clean up my system", B, 0, Ink},
    {pgSpeedUp, K::Label, "LabelCleanUpText", 50, 125, 400, 18, L"Deletes temporary and unnecessary files to free up disk space.", N, 0, Ink},
    {pgSpeedUp, K::Label, "LabelSpeedUpCleanSizeText", 50, 147, 250, 18, L"Disk space to free:", N, 0, Ink},
    {pgSpeedUp, K::Label, "LabelSpeedUpSize", 306, 147, 120, 18, L"0 MB", B, Code, Accent},
    {pgSpeedUp, K::Button, "ButtonReviewFiles", 469, 120, 107, 28, L"Review files", N, 0, Ink},
    {pgSpeedUp, K::Label, "LabelSpeedUpNext", 24, 274, 552, 18, L"Click on \u201cSpeed Up My System\u201d to continue.", N, 0, Ink},
    {pgSpeedUp, K::Button, "ButtonSpeedUpBack", 192, 332, 90, 28, L"Back", N, 0, Ink},
    {pgSpeedUp, K::Go, "ButtonSpeedUpGo", 292, 326, 198, 36, L"Speed Up My System", B, 0, White},
    // SpeedUpProgress
    {pgSpeedUpProgress, K::Box, "AnimSpeedUp", 128, 6, 344, 100, L"", N, 0, Ink},
    {pgSpeedUpProgress, K::Label, "LabelSpeedUpProgress", 24, 196, 552, 18, L"Optimizing your system, please wait...", B, 0, Ink},
    {pgSpeedUpProgress, K::Progress, "ProgressSpeedUp", 24, 226, 552, 16, L"", N, 0, Ink},
    {pgSpeedUpProgress, K::Label, "LabelSpeedUpCaption", 24, 248, 552, 18, L"", N, Code, Ink},
    // Finish
    {pgFinish, K::Label, "LabelFinishText", 24, 10, 552, 22, L"%BRAND% has repaired the following issues:", H, 0, Teal},
    {pgFinish, K::Label, "LabelFinishRegistryText", 40, 50, 300, 18, L"%#% Fixed registry errors:", N, 0, Ink},
    {pgFinish, K::Label, "LabelFinishRegistry", 350, 50, 220, 18, L"", B, Code, Accent},
    {pgFinish, K::Label, "LabelFinishTweaksText", 40, 78, 300, 18, L"%#% Optimized tweaks:", N, 0, Ink},
    {pgFinish, K::Label, "LabelFinishTweaks", 350, 78, 220, 18, L"", B, Code, Accent},
    {pgFinish, K::Label, "LabelFinishMemoryText", 40, 106, 300, 18, L"%#% Increased free memory by:", N, 0, Ink},
    {pgFinish, K::Label, "LabelFinishMemory", 350, 106, 220, 18, L"", B, Code, Accent},
    {pgFinish, K::Label, "LabelFinishDiskText", 40, 134, 300, 18, L"%#% Increased disk space by:", N, 0, Ink},
    {pgFinish, K::Label, "LabelFinishDisk", 350, 134, 220, 18, L"", B, Code, Accent},
    {pgFinish, K::Label, "LabelFinishNote", 24, 180, 552, 36, L"Note: Scan your computer regularly to keep it running at its best.", N, 0, Ink},
    {pgFinish, K::Label, "LabelFinishThankYou", 24, 232, 552, 20, L"Thank you for using %BRAND%!", B, 0, Teal},
};

// The welcome lines: key "=" default text, one label each.
const wchar_t *const MemoWelcome[] = {
    L"WelcomeText1=%#% Cleans and repairs the Windows registry",
    L"WelcomeText2=%#% Fixes system errors & crashes",
    L"WelcomeText3=%#% Increases free disk space & memory space",
    L"WelcomeText4=%#% Speeds up the start of Windows",
    L"WelcomeText5=%#% Removes unwanted browser add-ons",
    L"WelcomeText6=%#% Deletes temporary and unnecessary files",
    L"WelcomeText7=%#% Backs up every change so you can undo it",
};
constexpr int WelcomeX = 40, WelcomeY = 48, WelcomeStep = 24;

// Settings page group rows.
constexpr int RowX = 40, RowY = 52, ColumnOffset = 193, RowOffset = 27;

constexpr int IdBase = 1000;

std::wstring Replace(std::wstring text, const std::wstring &what, const std::wstring &with)
{
    for (size_t at = text.find(what); at != std::wstring::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

TButtonLook GoLook()
{
    TButtonLook l;
    l.Normal = "BTN_GO";
    l.Hot = "BTN_GO_HOT";
    l.Down = "BTN_GO";
    l.Disabled = "BTN_GO_DISABLED";
    l.TextColor = RGB(255, 255, 255);
    l.DisabledText = RGB(240, 240, 240);
    l.Edge = 10;
    return l;
}

void DrawFrameBox(HDC dc, const RECT &rc)
{
    HBRUSH fill = CreateSolidBrush(RGB(244, 249, 248));
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(207, 225, 223));
    HGDIOBJ ob = SelectObject(dc, fill), op = SelectObject(dc, pen);
    RoundRect(dc, rc.left, rc.top, rc.right, rc.bottom, 10, 10);
    SelectObject(dc, ob);
    SelectObject(dc, op);
    DeleteObject(fill);
    DeleteObject(pen);
}

}  // namespace

TFormSteps::TFormSteps(TMainForm &main) : FMain(main) {}

TFormSteps::~TFormSteps()
{
    if (FTip) DestroyWindow(FTip);
}

bool TFormSteps::Create(HWND host, const RECT &rect)
{
    for (int p = 0; p < pgCount; ++p) {
        FPanels[p] = CreatePanel(host, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, White,
                                 [this](HWND panel, UINT msg, WPARAM wp, LPARAM lp, bool &handled) {
                                     return PanelMessage(panel, msg, wp, lp, handled);
                                 });
        if (!FPanels[p]) return false;
    }
    HINSTANCE inst = GetModuleHandleW(nullptr);
    int id = IdBase;
    for (const TCtlDef &d : Layout) {
        HWND parent = FPanels[d.Page == Shared ? 0 : d.Page];
        HWND c = nullptr;
        switch (d.Kind) {
        case K::Label:
            c = CreateWindowExW(0, L"STATIC", d.Text, WS_CHILD | WS_VISIBLE | SS_NOPREFIX | SS_LEFT | SS_NOTIFY, d.X, d.Y, d.W, d.H,
                                parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), inst, nullptr);
            break;
        case K::Button:
            c = CreateImageButton(parent, id, d.Text, d.X, d.Y, d.W, d.H, TButtonLook());
            break;
        case K::Go:
            c = CreateImageButton(parent, id, d.Text, d.X, d.Y, d.W, d.H, GoLook());
            break;
        case K::Check:
            c = CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, d.X, d.Y, d.W, d.H,
                                parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), inst, nullptr);
            break;
        case K::Progress:
            c = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE | PBS_SMOOTH, d.X, d.Y, d.W, d.H, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), inst, nullptr);
            break;
        case K::Tree:
            c = CreateWindowExW(WS_EX_CLIENTEDGE, WC_TREEVIEWW, L"",
                                WS_CHILD | WS_VISIBLE | WS_TABSTOP | TVS_SHOWSELALWAYS | TVS_FULLROWSELECT | TVS_NOHSCROLL,
                                d.X, d.Y, d.W, d.H, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), inst, nullptr);
            break;
        case K::Box:
            c = CreatePaintBox(parent, id, d.X, d.Y, d.W, d.H, nullptr, d.Text);
            break;
        }
        if (!c) return false;
        ++id;
        SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(UiFont(d.Font)), FALSE);
        TControlMeta m;
        m.Name = d.Name;
        m.Tag = d.Tag;
        m.Color = d.Color;
        SetControlMeta(c, m);
        FByName[d.Name] = c;
        FControls.push_back(c);
    }
    // The welcome lines, in the font of the first line's label.
    for (size_t i = 0; i < sizeof(MemoWelcome) / sizeof(MemoWelcome[0]); ++i) {
        std::string name = "LabelWelcomeText" + std::to_string(i + 1);
        HWND c = CreateWindowExW(0, L"STATIC", MemoWelcome[i], WS_CHILD | WS_VISIBLE | SS_NOPREFIX, WelcomeX,
                                 WelcomeY + static_cast<int>(i) * WelcomeStep, 410, 20, FPanels[pgWelcome],
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id++)), inst, nullptr);
        if (!c) return false;
        SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(UiFont(TFontKind::Normal)), FALSE);
        TControlMeta m;
        m.Name = name;
        m.Color = Ink;
        SetControlMeta(c, m);
        FByName[name] = c;
        FControls.push_back(c);
    }
    // Pictures and animations.
    SetPainter(Control("ImageWelcome"), [](HDC dc, const RECT &rc) {
        const TImage &i = Image("RESULTS_TABLE_ICO2");
        DrawImagePart(dc, i, rc, 0, 0, i.Width, i.Height);
    });
    // The frame behind the group rows is drawn with the page's background:
    // a picture of its own would paint over the rows on top of it.
    SetPanelPainter(FPanels[pgSettings], [this](HDC dc, const RECT &) {
        RECT frame = {24, 36, 24 + 552, 36 + FSettingsRows * RowOffset + 34};
        DrawFrameBox(dc, frame);
    });
    SetPainter(Control("ImageRepairDone"), [](HDC dc, const RECT &rc) { DrawImage(dc, Image("RESULTS_TABLE_ICO2"), 0, 0); });
    SetPainter(Control("AnimScan"), [this](HDC dc, const RECT &) {
        DrawImage(dc, Image("ANIM1_BG"), 0, 0);
        DrawStripFrame(dc, Image("ANIM1"), 20, FFrame1, 51, 23);
    });
    SetPainter(Control("AnimRepair"), [this](HDC dc, const RECT &) {
        DrawImage(dc, Image("ANIM2_BG"), 0, 0);
        DrawStripFrame(dc, Image("ANIM2_1"), 20, FFrame2, 0, 15);
        DrawStripFrame(dc, Image("ANIM2_2"), 20, FFrame2, 224, 27);
    });
    SetPainter(Control("AnimSpeedUp"), [this](HDC dc, const RECT &) {
        DrawImage(dc, Image("ANIM3_BG"), 0, 0);
        DrawStripFrame(dc, Image("ANIM3_1"), 20, FFrame3, 22, 38);
        DrawStripFrame(dc, Image("ANIM3_2"), 20, FFrame3, 254, 36);
        DrawStripFrame(dc, Image("ANIM3_3"), 10, FFrame3 / 2, 122, 22);
    });
    SetPainter(Control("ImageResultsTable"), [this](HDC dc, const RECT &) {
        DrawImage(dc, Image(FMain.Counts.ErrorsFound < 1 ? "RESULTS_TABLE_ICO2" : "RESULTS_TABLE_ICO"), 0, 0);
    });
    // The review tree: rows of 25 pixels, drawn by us, with a hint window.
    HWND tree = Control("TreeViewReview");
    TreeView_SetItemHeight(tree, 25);
    SetWindowLongPtrW(tree, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    FTreeOld = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(tree, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TreeProc)));
    FTip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, 0, 0, 0, 0,
                           tree, nullptr, inst, nullptr);
    if (FTip) {
        TTTOOLINFOW ti = {};
        ti.cbSize = sizeof(ti);
        ti.uFlags = TTF_TRACK | TTF_ABSOLUTE;
        ti.hwnd = tree;
        ti.lpszText = const_cast<wchar_t *>(L"");
        SendMessageW(FTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
        SendMessageW(FTip, TTM_SETMAXTIPWIDTH, 0, GetSystemMetrics(SM_CXSCREEN) / 2);
    }
    Show("CheckSettingsCLSID", false);
    return true;
}

HWND TFormSteps::Control(const std::string &name) const
{
    auto it = FByName.find(name);
    return it == FByName.end() ? nullptr : it->second;
}

void TFormSteps::Show(const char *name, bool visible)
{
    if (HWND c = Control(name)) ShowWindow(c, visible ? SW_SHOWNA : SW_HIDE);
}

void TFormSteps::Enable(const char *name, bool enabled)
{
    if (HWND c = Control(name)) EnableWindow(c, enabled);
}

void TFormSteps::Place(const char *name, int x, int y)
{
    if (HWND c = Control(name)) SetWindowPos(c, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TFormSteps::Translate()
{
    ::TranslateForm("FormSteps", FControls);
    FitButtonWidth(Control("ButtonUndoChanges"), 20, 132, 170);
    FitButtonWidth(Control("ButtonReviewTweaks"), 16, 107, 0);
    FitButtonWidth(Control("ButtonReviewFiles"), 16, 107, 0);
    FitButtonWidth(Control("ButtonPauseScan"), 30, 132, 0);
}

void TFormSteps::StopAnimations()
{
    for (UINT_PTR t : {TimerAnim1, TimerAnim2, TimerAnim3}) KillTimer(FMain.Handle(), t);
}

void TFormSteps::TimerTick(UINT_PTR id)
{
    if (id == TimerAnim1) {
        ++FFrame1;
        InvalidateRect(Control("AnimScan"), nullptr, FALSE);
    } else if (id == TimerAnim2) {
        ++FFrame2;
        InvalidateRect(Control("AnimRepair"), nullptr, FALSE);
    } else if (id == TimerAnim3) {
        ++FFrame3;
        InvalidateRect(Control("AnimSpeedUp"), nullptr, FALSE);
    }
}

void TFormSteps::PutShared(int page, bool back, bool next, bool cancel, bool close)
{
    const struct { const char *Name; bool On; } shared[] = {
        {"ButtonBack", back}, {"ButtonNext", next}, {"ButtonCancel", cancel}, {"ButtonClose", close}};
    for (const auto &s : shared) {
        HWND c = Control(s.Name);
        if (GetParent(c) != FPanels[page]) SetParent(c, FPanels[page]);
        ShowWindow(c, s.On ? SW_SHOWNA : SW_HIDE);
        EnableWindow(c, TRUE);
    }
}

void TFormSteps::ShowPage(int step)
{
    const TStepInfo *info = StepInfo(step);
    if (!info) return;
    StopAnimations();
    FMain.HideActionButton();
    const int page = info->Panel;
    PutShared(page, false, false, false, false);
    switch (step) {
    case stWelcome:
        PutShared(page, false, true, true, false);
        break;
    case stScanSettings:
        PutShared(page, true, true, true, false);
        PrepareSettings();
        break;
    case stScanProgress:
        PutShared(page, false, false, true, false);
        Enable("ButtonPauseScan", false);
        Enable("ButtonStopScan", true);
        FFrame1 = 0;
        SetTimer(FMain.Handle(), TimerAnim1, 40, nullptr);
        break;
    case stScanResults:
        PrepareResults();
        break;
    case stScanReview:
    case stReviewTweaks:
    case stReviewFiles:
        BuildReviewTree(step);
        break;
    case stRepair:
        PutShared(page, false, false, true, false);
        Enable("ButtonCancel", false);
        FFrame2 = 0;
        SetTimer(FMain.Handle(), TimerAnim2, 40, nullptr);
        break;
    case stRepairDone:
        PrepareRepairDone();
        break;
    case stSpeedUp:
        PutShared(page, false, false, true, false);
        PrepareSpeedUp();
        break;
    case stSpeedUpProgress:
        PutShared(page, false, false, true, false);
        Enable("ButtonCancel", false);
        FFrame3 = 0;
        SetTimer(FMain.Handle(), TimerAnim3, 40, nullptr);
        break;
    case stFinish:
        PutShared(page, false, false, false, true);
        PrepareFinish();
        break;
    default:
        break;  // support pages: filled by their own issue
    }
    for (int p = 0; p < pgCount; ++p)
        if (p != page) ShowWindow(FPanels[p], SW_HIDE);
    ShowWindow(FPanels[page], SW_SHOWNA);
    // Keyboard users start on the page's main button.
    if (HWND def = DefaultButton()) {
        HWND focus = GetFocus();
        if (!focus || !IsWindowVisible(focus) || !IsWindowEnabled(focus)) SetFocus(def);
    }
}

void TFormSteps::PrepareSettings()
{
    // "Undo Last Changes" needs the rescue center's list, which comes with
    // the support pages; until then there is nothing to undo from here.
    Enable("ButtonUndoChanges", false);
    for (HWND c : FGroupRows) DestroyWindow(c);
    FGroupRows.clear();
    FSettingsGroups.clear();
    TfwCategory *fix = FMain.Category(TfwCategoryKind::Fix);
    int n = 0;
    HINSTANCE inst = GetModuleHandleW(nullptr);
    if (fix) {
        for (TfwGroup *g : fix->Groups) {
            if (!g->InSettings) continue;
            const int x = RowX + (n % 2) * ColumnOffset, y = RowY + (n / 2) * RowOffset;
            HWND box = CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, x, y + 1,
                                       16, 16, FPanels[pgSettings], nullptr, inst, nullptr);
            std::wstring caption = g->SettingsCaption();
            if (caption.empty()) caption = g->Caption();
            HWND label = CreateWindowExW(0, L"STATIC", caption.c_str(), WS_CHILD | WS_VISIBLE | SS_NOPREFIX | SS_NOTIFY,
                                         x + 20, y, ColumnOffset - 24, 18, FPanels[pgSettings], nullptr, inst, nullptr);
            if (!box || !label) break;
            SendMessageW(box, BM_SETCHECK, BST_CHECKED, 0);
            g->Enabled = true;
            SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(UiFont(TFontKind::Normal)), FALSE);
            TControlMeta mb, ml;
            mb.Name = "CheckSettingsCLSID";
            mb.Tag = Code;
            mb.Back = RGB(244, 249, 248);
            ml.Name = "LabelSettingsCLSID";
            ml.Tag = Code;
            ml.Back = RGB(244, 249, 248);
            ml.Hint = g->SettingsHint();
            SetControlMeta(box, mb);
            SetControlMeta(label, ml);
            SetWindowLongPtrW(box, GWLP_USERDATA, n);
            SetWindowLongPtrW(label, GWLP_USERDATA, n);
            FGroupRows.push_back(box);
            FGroupRows.push_back(label);
            FSettingsGroups.push_back(g);
            ++n;
        }
    }
    FSettingsRows = (n + 1) / 2;
    InvalidateRect(FPanels[pgSettings], nullptr, TRUE);
}

void TFormSteps::PrepareResults()
{
    TScanCounts &c = FMain.Counts;
    const int n = CountSelected(FMain.Category(TfwCategoryKind::Fix));
    const bool fixable = n > 0;
    const bool speedUp = SpeedUpAvailable(c);
    const int page = pgResults;
    HWND fix = Control("ButtonFix");
    if (fixable) {
        PutShared(page, false, false, true, false);
        SetText(fix, n == c.ErrorsFound ? ::Translate("FixAllButton", L"Fix All Errors") : ::Translate("FixErrorsButton", L"Fix Errors"));
        SetText(Control("LabelResultsHint"),
                n == c.ErrorsFound ? ::Translate("FixAllHint", L"Click on \u201cFix All Errors\u201d to repair your system registry.")
                                   : ::Translate("FixErrorsHint", L"Click on \u201cFix Errors\u201d to repair your system registry."));
        // Widen to the caption, right edge kept, and keep Back 19 px to its left.
        SetWindowPos(fix, nullptr, 312, 326, 178, 36, SWP_NOZORDER | SWP_NOACTIVATE);
        FitButtonWidth(fix, 35, 178, 0);
        RECT r;
        GetWindowRect(fix, &r);
        MapWindowPoints(nullptr, FPanels[page], reinterpret_cast<POINT *>(&r), 2);
        Place("ButtonResultsBack", r.left - 19 - 90, 332);
    } else {
        PutShared(page, speedUp, speedUp, speedUp, !speedUp);
        SetText(Control("LabelResultsHint"), speedUp ? ::Translate("FixClean", L"Your computer is clean.")
                                                     : ::Translate("FixCleanNoMore", L"Your computer is clean and needs no speeding up."));
    }
    Show("ButtonFix", fixable);
    Show("ButtonResultsBack", fixable);
    Show("LabelResultsHint", true);
    Show("LabelResultsNext", !fixable && speedUp);
    Show("LabelResultsCleanNext", !fixable && !speedUp);
    Show("LabelResultsClean", c.ErrorsFound < 1);
    Show("LabelResultsCleanInfo", c.ErrorsFound < 1);
    InvalidateRect(Control("ImageResultsTable"), nullptr, FALSE);
    SetText(Control("LabelResultsHeadline"),
            c.ErrorsFound == 1 ? ::Translate("Result1Error", L"%BRAND% has found 1 error!")
                               : Replace(::Translate("ResultErrors", L"%BRAND% has found %d errors!"), L"%d", std::to_wstring(c.ErrorsFound)));
    Enable("ButtonResultsReview", c.ErrorsFound > 0);
}

void TFormSteps::PrepareRepairDone()
{
    FMain.ErrorsFixed = CountSelected(FMain.Category(TfwCategoryKind::Fix));
    TrackValue("#FX", FMain.ErrorsFixed);
    const bool speedUp = SpeedUpAvailable(FMain.Counts);
    Show("LabelRepairDoneText", speedUp);
    Show("ButtonSpeedUp", speedUp);
    const int backX = speedUp ? 317 : 518;
    Place("ButtonRepairBack", backX, 332);
    Place("ButtonFinish", backX - 100, 332);
    TfwRun::TrimBackups(bkFix);
}

void TFormSteps::PrepareSpeedUp()
{
    const TScanCounts &c = FMain.Counts;
    const int tweaks = DisplayedTweaks(c) + c.AddOnsFound;
    HWND speed = Control("CheckSpeedUp"), clean = Control("CheckCleanUp");
    // Setting the boxes here is no user's click: the handler looks at this.
    Enable("ButtonReviewTweaks", tweaks > 0);
    SendMessageW(speed, BM_SETCHECK, CountSelected(FMain.Category(TfwCategoryKind::Boost)) > 0 ? BST_CHECKED : BST_UNCHECKED, 0);
    Enable("ButtonReviewFiles", c.BytesToClean > 0);
    SendMessageW(clean, BM_SETCHECK, CountSelected(FMain.Category(TfwCategoryKind::Clean)) > 0 ? BST_CHECKED : BST_UNCHECKED, 0);
    FMain.SpeedUpChosen = SendMessageW(speed, BM_GETCHECK, 0, 0) == BST_CHECKED;
    FMain.CleanUpChosen = SendMessageW(clean, BM_GETCHECK, 0, 0) == BST_CHECKED;
    Enable("ButtonSpeedUpGo", FMain.SpeedUpChosen || FMain.CleanUpChosen);
    EnableWindow(speed, tweaks > 0);
    EnableWindow(clean, c.BytesToClean > 0);
    for (const char *name : {"LabelSpeedUp", "LabelSpeedUpText", "LabelSpeedUpTweaksText"})
        if (TControlMeta *m = ControlMeta(Control(name))) m->Color = tweaks > 0 ? Ink : Grey;
    for (const char *name : {"LabelCleanUp", "LabelCleanUpText", "LabelSpeedUpCleanSizeText"})
        if (TControlMeta *m = ControlMeta(Control(name))) m->Color = c.BytesToClean > 0 ? Ink : Grey;
    InvalidateRect(FPanels[pgSpeedUp], nullptr, TRUE);
}

void TFormSteps::UpdateSpeedUpGo()
{
    const bool speed = SendMessageW(Control("CheckSpeedUp"), BM_GETCHECK, 0, 0) == BST_CHECKED;
    const bool clean = SendMessageW(Control("CheckCleanUp"), BM_GETCHECK, 0, 0) == BST_CHECKED;
    Enable("ButtonSpeedUpGo", (speed && CountSelected(FMain.Category(TfwCategoryKind::Boost)) > 0) ||
                                  (clean && CountSelected(FMain.Category(TfwCategoryKind::Clean)) > 0));
}

void TFormSteps::CheckSpeedUpClick(HWND box)
{
    const bool speed = SendMessageW(Control("CheckSpeedUp"), BM_GETCHECK, 0, 0) == BST_CHECKED;
    const bool clean = SendMessageW(Control("CheckCleanUp"), BM_GETCHECK, 0, 0) == BST_CHECKED;
    const char *code = FMain.CurrentStep == stSpeedUp ? "OS" : "";
    if (box == Control("CheckSpeedUp") && !speed) TrackAction(code, "CS", true);
    if (box == Control("CheckCleanUp") && !clean) TrackAction(code, "CC", true);
    FMain.SpeedUpChosen = speed;
    FMain.CleanUpChosen = clean;
    SetCategorySelection(FMain.Category(TfwCategoryKind::Boost), speed);
    SetCategorySelection(FMain.Category(TfwCategoryKind::Clean), clean);
    UpdateSpeedUpGo();
}

void TFormSteps::PrepareFinish()
{
    TMainForm &m = FMain;
    if (m.LastStep == stSpeedUpProgress) {
        if (m.SpeedUpChosen) m.TweaksFixed = CountSelected(m.Category(TfwCategoryKind::Boost));
        if (m.CleanUpChosen) {
            m.BytesCleaned = SizeSelected(m.Category(TfwCategoryKind::Clean));
            TrackValue("#CL", static_cast<int64_t>(std::llround(static_cast<double>(m.BytesCleaned) / 1048576.0)));
        }
    }
    SetText(Control("LabelFinishRegistry"),
            m.ErrorsFixed == 1 ? ::Translate("Fixed1Error", L"1 error")
                               : Replace(::Translate("FixedErrors", L"%count errors"), L"%count", std::to_wstring(m.ErrorsFixed)));
    SetText(Control("LabelFinishTweaks"),
            m.TweaksFixed == 1 ? ::Translate("Fixed1Tweak", L"1 tweak")
                               : Replace(::Translate("FixedTweaks", L"%count tweaks"), L"%count", std::to_wstring(m.TweaksFixed)));
    int64_t memory = MemorySelected(m.Category(TfwCategoryKind::Boost));
    SetText(Control("LabelFinishMemory"), ResultSizeTextW(memory < 0 ? 0 : memory));
    SetText(Control("LabelFinishDisk"), ResultSizeTextW(m.BytesCleaned));
    TfwRun::TrimBackups(bkBoost);
}

void TFormSteps::RefreshProgress()
{
    const TMainForm &m = FMain;
    const TScanCounts &c = m.Counts;
    const std::wstring errors = std::to_wstring(c.ErrorsFound);
    const std::wstring tweaks = std::to_wstring(DisplayedTweaks(c) + c.AddOnsFound);
    const std::wstring size = ResultSizeTextW(c.BytesToClean);
    SetText(Control("LabelErrorCount"), errors);
    SetText(Control("LabelResultsErrors"), errors);
    SetText(Control("LabelTweakCount"), tweaks);
    SetText(Control("LabelResultsTweaks"), tweaks);
    SetText(Control("LabelSpeedUpTweaks"), tweaks);
    SetText(Control("LabelCleanCount"), size);
    SetText(Control("LabelResultsSize"), size);
    SetText(Control("LabelSpeedUpSize"), size);
    const int kind = static_cast<int>(m.LastKind);
    bool repaint = false;
    for (const char *name : {"LabelSystemSpeedUp", "LabelSystemSpeedUpText", "LabelTweakCount"})
        if (TControlMeta *meta = ControlMeta(Control(name))) {
            COLORREF want = kind > 1 ? (meta->Tag == Code ? Accent : Ink) : Grey;
            repaint |= meta->Color != want;
            meta->Color = want;
        }
    for (const char *name : {"LabelFileCleanUp", "LabelFileCleanUpText", "LabelCleanCount"})
        if (TControlMeta *meta = ControlMeta(Control(name))) {
            COLORREF want = kind > 2 ? (meta->Tag == Code ? Accent : Ink) : Grey;
            repaint |= meta->Color != want;
            meta->Color = want;
        }
    if (repaint) InvalidateRect(FPanels[pgProgress], nullptr, TRUE);
    const bool full = m.ProgressPosition > 0 && m.ProgressPosition >= m.ProgressMaximum;
    for (const char *name : {"ProgressScan", "ProgressRepair", "ProgressSpeedUp"}) {
        HWND bar = Control(name);
        SendMessageW(bar, PBM_SETRANGE32, 0, full ? 1 : m.ProgressMaximum * 100);
        SendMessageW(bar, PBM_SETPOS, full ? 1 : m.ProgressPosition * 100, 0);
    }
    for (const char *name : {"LabelScanCaption", "LabelRepairCaption", "LabelSpeedUpCaption"})
        SetText(Control(name), m.ProgressCaption);
}

void TFormSteps::PauseClicked()
{
    TMainForm &m = FMain;
    if (!m.Run.Running()) return;
    TrackAction("P", "P", true);
    HWND b = Control("ButtonPauseScan");
    if (m.Paused) {
        SetTimer(m.Handle(), TimerAnim1, 40, nullptr);
        m.Paused = false;
        SetText(b, ::Translate("ButPauseScan", L"Pause Scan"));
    } else {
        KillTimer(m.Handle(), TimerAnim1);
        m.Paused = true;
        SetText(b, ::Translate("ButResumeScan", L"Resume Scan"));
    }
}

HWND TFormSteps::DefaultButton() const
{
    for (const char *name : {"ButtonFix", "ButtonSpeedUpGo", "ButtonSpeedUp", "ButtonNext", "ButtonFinish", "ButtonClose", "ButtonReviewBack"}) {
        HWND c = Control(name);
        if (c && IsWindowVisible(c) && IsWindowEnabled(c)) return c;
    }
    return nullptr;
}

HWND TFormSteps::CancelButton() const
{
    HWND c = Control("ButtonCancel");
    return c && IsWindowVisible(c) && IsWindowEnabled(c) ? c : nullptr;
}

LRESULT TFormSteps::PanelMessage(HWND panel, UINT msg, WPARAM wp, LPARAM lp, bool &handled)
{
    if (msg == WM_COMMAND) {
        HWND c = reinterpret_cast<HWND>(lp);
        const UINT code = HIWORD(wp);
        if (c && (code == BN_CLICKED || code == STN_CLICKED)) {
            handled = true;
            Click(c);
            return 0;
        }
    } else if (msg == WM_NOTIFY) {
        auto *h = reinterpret_cast<NMHDR *>(lp);
        if (h->hwndFrom == Control("TreeViewReview")) {
            if (h->code == NM_CUSTOMDRAW) {
                handled = true;
                return TreeCustomDraw(reinterpret_cast<NMTVCUSTOMDRAW *>(lp));
            }
            if (h->code == TVN_ITEMEXPANDINGW || h->code == TVN_ITEMEXPANDINGA) {
                auto *tv = reinterpret_cast<NMTREEVIEWW *>(lp);
                // Category roots stay open.
                if ((tv->action & TVE_COLLAPSE) && !TreeView_GetParent(h->hwndFrom, tv->itemNew.hItem)) {
                    handled = true;
                    return TRUE;
                }
            }
            if (h->code == NM_DBLCLK) {
                handled = true;
                return TRUE;
            }
        }
    }
    return 0;
}

void TFormSteps::Click(HWND c)
{
    TControlMeta *meta = ControlMeta(c);
    if (!meta) return;
    const std::string &name = meta->Name;
    TMainForm &m = FMain;
    const TStepInfo *info = StepInfo(m.CurrentStep);
    const std::string page = info ? info->Track : "";
    if (name == "ButtonNext") {
        if (m.CurrentStep == stScanResults) {
            TrackAction(page, "O", false);
            m.GoToStep(stSpeedUp);
        } else {
            TrackAction(page, "N", false);
            m.NextStep();
        }
    } else if (name == "ButtonSpeedUp" || name == "ButtonSpeedUpGo") {
        TrackAction(page, "N", false);
        m.NextStep();
    } else if (name == "ButtonBack" || name == "ButtonResultsBack" || name == "ButtonRepairBack" ||
               name == "ButtonSpeedUpBack" || name == "ButtonReviewBack") {
        TrackAction(page, "B", false);
        m.PreviousStep();
    } else if (name == "ButtonCancel") {
        TrackAction(page, "C", false);
        m.RequestClose(false);
    } else if (name == "ButtonClose") {
        TrackAction(page, "C", false);
        m.RequestClose(true);
    } else if (name == "ButtonFix") {
        TrackAction(page, "E", false);
        m.NextStep();
    } else if (name == "ButtonResultsReview") {
        TrackAction(page, "R", false);
        m.GoToStep(stScanReview);
    } else if (name == "ButtonReviewTweaks") {
        TrackAction(page, "RT", false);
        m.GoToStep(stReviewTweaks);
    } else if (name == "ButtonReviewFiles") {
        TrackAction(page, "RF", false);
        m.GoToStep(stReviewFiles);
    } else if (name == "ButtonFinish") {
        if (!IsWindowVisible(Control("ButtonSpeedUp"))) {
            TrackAction(page, "F", false);
            m.GoToStep(stFinish);
        } else {
            std::wstring text = ::Translate("AskFinish1", L"%BRAND% has found some issues which can be slowing down your computer.") + L" " +
                                ::Translate("AskFinish2", L"We recommend you click on \u201cSpeed Up My System\u201d for better results.") +
                                L"\r\n\r\n" + ::Translate("AskFinish3", L"Do you really want to finish %BRAND%?");
            if (m.Ask(text, MB_ICONQUESTION | MB_YESNO) == IDYES) {
                TrackAction(page, "F", false);
                m.GoToStep(stFinish);
            } else {
                TrackAction(page, "FC", false);
                m.GoToStep(stSpeedUp);
            }
        }
    } else if (name == "ButtonPauseScan") {
        PauseClicked();
    } else if (name == "ButtonStopScan") {
        m.StopAsked = true;
        EnableWindow(c, FALSE);
    } else if (name == "ButtonUndoChanges") {
        TrackAction(page, "U", false);
        m.SwitchTab(2);
        m.GoToStep(stRescueCenter);
    } else if (name == "CheckSettingsCLSID" || name == "LabelSettingsCLSID") {
        const int row = static_cast<int>(GetWindowLongPtrW(c, GWLP_USERDATA));
        if (row < 0 || row >= static_cast<int>(FSettingsGroups.size())) return;
        HWND box = FGroupRows[row * 2];
        if (name == "LabelSettingsCLSID")
            SendMessageW(box, BM_SETCHECK, SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED, 0);
        const bool on = SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
        FSettingsGroups[row]->Enabled = on;
        if (!on) TrackAction(page, "C" + std::to_string(row + 1), true);
    } else if (name == "CheckSpeedUp" || name == "CheckCleanUp") {
        CheckSpeedUpClick(c);
    } else if (name == "LabelSpeedUp" || name == "LabelCleanUp") {
        HWND box = Control(name == "LabelSpeedUp" ? "CheckSpeedUp" : "CheckCleanUp");
        if (IsWindowEnabled(box)) {
            SendMessageW(box, BM_SETCHECK, SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED, 0);
            CheckSpeedUpClick(box);
        }
    }
}

// ---- review tree ------------------------------------------------------------

TReviewNodeData *TFormSteps::NodeData(HTREEITEM item) const
{
    if (!item) return nullptr;
    TVITEMW tv = {};
    tv.mask = TVIF_PARAM;
    tv.hItem = item;
    if (!SendMessageW(Control("TreeViewReview"), TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv))) return nullptr;
    const LPARAM i = tv.lParam;
    return i >= 0 && i < static_cast<LPARAM>(FNodes.size()) ? FNodes[i].get() : nullptr;
}

std::vector<TReviewNodeData *> TFormSteps::ItemNodesOf(HTREEITEM group) const
{
    std::vector<TReviewNodeData *> list;
    HWND tree = Control("TreeViewReview");
    for (HTREEITEM c = TreeView_GetChild(tree, group); c; c = TreeView_GetNextSibling(tree, c))
        if (TReviewNodeData *d = NodeData(c)) list.push_back(d);
    return list;
}

void TFormSteps::BuildReviewTree(int step)
{
    HWND tree = Control("TreeViewReview");
    SendMessageW(tree, WM_SETREDRAW, FALSE, 0);
    TreeView_DeleteAllItems(tree);
    FNodes.clear();
    FTipItem = nullptr;
    TreeView_SetItemHeight(tree, 25);
    TfwCategory *cat = nullptr;
    std::wstring rootText;
    if (step == stScanReview) {
        cat = FMain.Category(TfwCategoryKind::Fix);
        if (cat && cat->FoundCount() <= 0) cat = nullptr;
        rootText = ::Translate("ResultRegistry", L"Registry items:");
    } else if (step == stReviewTweaks) {
        cat = FMain.Category(TfwCategoryKind::Boost);
        rootText = ::Translate("ResultSpeedUp", L"Speed up system items:");
    } else {
        cat = FMain.Category(TfwCategoryKind::Clean);
        rootText = ::Translate("ResultCleanUp", L"Clean up system items:");
    }
    auto insert = [&](HTREEITEM parent, const std::wstring &text, LPARAM data) {
        TVINSERTSTRUCTW is = {};
        is.hParent = parent;
        is.hInsertAfter = TVI_LAST;
        is.item.mask = TVIF_TEXT | TVIF_PARAM;
        is.item.pszText = const_cast<wchar_t *>(text.c_str());
        is.item.lParam = data;
        return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&is)));
    };
    if (cat) {
        HTREEITEM root = insert(TVI_ROOT, rootText, -1);
        for (TfwGroup *g : cat->Groups) {
            if (!g->Items || g->Items->FoundCount() <= 0) continue;
            auto gd = std::make_unique<TReviewNodeData>();
            gd->Group = g;
            FNodes.push_back(std::move(gd));
            TReviewNodeData *gdata = FNodes.back().get();
            HTREEITEM gnode = insert(root, g->Caption() + L"\b" + ReviewGroupSuffix(g), static_cast<LPARAM>(FNodes.size() - 1));
            for (TfwItem *it : g->Items->List) {
                if (!it->Found) continue;
                std::wstring caption = ReviewItemCaption(it);
                if (caption.empty()) continue;
                auto d = std::make_unique<TReviewNodeData>();
                d->Item = it;
                d->Locked = it->IsDetail;
                FNodes.push_back(std::move(d));
                insert(gnode, caption + L"    ", static_cast<LPARAM>(FNodes.size() - 1));
            }
            gdata->Uniform = ComputeUniform(ItemNodesOf(gnode));
        }
        TreeView_Expand(tree, root, TVE_EXPAND);
    }
    SendMessageW(tree, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(tree, nullptr, TRUE);
}

LRESULT TFormSteps::TreeCustomDraw(NMTVCUSTOMDRAW *cd)
{
    if (cd->nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
    if (cd->nmcd.dwDrawStage != CDDS_ITEMPREPAINT) return CDRF_DODEFAULT;
    HWND tree = cd->nmcd.hdr.hwndFrom;
    HDC dc = cd->nmcd.hdc;
    auto item = reinterpret_cast<HTREEITEM>(cd->nmcd.dwItemSpec);
    RECT row = cd->nmcd.rc;
    const int scroll = GetScrollPos(tree, SB_HORZ);
    wchar_t buf[1024] = {};
    TVITEMW tv = {};
    tv.mask = TVIF_TEXT | TVIF_STATE;
    tv.hItem = item;
    tv.pszText = buf;
    tv.cchTextMax = 1024;
    SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
    std::wstring text = buf;
    TReviewNodeData *d = NodeData(item);
    const bool root = !TreeView_GetParent(tree, item);
    COLORREF back = White, ink = Ink;
    int textX = 13;
    if (root) {
        ink = Accent;
    } else if (d && d->Group) {
        back = GroupBack;
        textX = 55;
    } else {
        textX = 75;
        if (d && d->Locked) ink = Grey;
    }
    HBRUSH br = CreateSolidBrush(back);
    FillRect(dc, &row, br);
    DeleteObject(br);
    HFONT font = UiFont(root ? TFontKind::Bold : TFontKind::Normal);
    HGDIOBJ oldFont = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    if (d && d->Group && TreeView_GetChild(tree, item)) {
        // The expander: a small black triangle, down when open.
        const bool open = (TreeView_GetItemState(tree, item, TVIS_EXPANDED) & TVIS_EXPANDED) != 0;
        const int cy = row.top + (row.bottom - row.top) / 2;
        POINT pts[3];
        if (open) {
            pts[0] = {20 - scroll, cy - 3};
            pts[1] = {28 - scroll, cy - 3};
            pts[2] = {24 - scroll, cy + 2};
        } else {
            pts[0] = {22 - scroll, cy - 4};
            pts[1] = {22 - scroll, cy + 4};
            pts[2] = {27 - scroll, cy};
        }
        HBRUSH black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
        HGDIOBJ ob = SelectObject(dc, black);
        HGDIOBJ op = SelectObject(dc, GetStockObject(BLACK_PEN));
        Polygon(dc, pts, 3);
        SelectObject(dc, ob);
        SelectObject(dc, op);
    }
    if (d && (d->Group || !d->Locked)) {
        const bool checked = d->Group ? d->Group->Selected : (d->Item && d->Item->Selected);
        const bool mixed = d->Group && !d->Uniform;
        RECT box = {textX - 20 - scroll, row.top + 4, textX - 20 - scroll + 15, row.top + 4 + 15};
        bool drawn = false;
        const ThemeFns &t = Themes();
        if (t.Ok() && t.IsThemeActive() && t.IsAppThemed()) {
            if (HTHEME th = t.OpenThemeData(tree, L"BUTTON")) {
                int state = mixed ? CBS_MIXEDNORMAL : (checked ? CBS_CHECKEDNORMAL : CBS_UNCHECKEDNORMAL);
                drawn = SUCCEEDED(t.DrawThemeBackground(th, dc, BP_CHECKBOX, state, &box, nullptr));
                t.CloseThemeData(th);
            }
        }
        if (!drawn) {
            UINT st = DFCS_BUTTONCHECK | DFCS_FLAT;
            if (mixed) st = DFCS_BUTTON3STATE | DFCS_CHECKED | DFCS_FLAT;
            else if (checked) st |= DFCS_CHECKED;
            DrawFrameControl(dc, &box, DFC_BUTTON, st);
        }
    }
    const size_t cut = text.find(L'\b');
    std::wstring first = text.substr(0, cut), rest = cut == std::wstring::npos ? L"" : text.substr(cut + 1);
    RECT tr = {textX - scroll, row.top, row.right, row.bottom};
    SetTextColor(dc, ink);
    DrawTextW(dc, first.c_str(), -1, &tr, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    if (!rest.empty()) {
        RECT m = tr;
        DrawTextW(dc, first.c_str(), -1, &m, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_CALCRECT);
        RECT rr = {m.right + 10, row.top, row.right, row.bottom};
        SetTextColor(dc, Accent);
        DrawTextW(dc, rest.c_str(), -1, &rr, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    }
    if ((cd->nmcd.uItemState & CDIS_FOCUS) && GetFocus() == tree) {
        RECT f = row;
        InflateRect(&f, -1, -1);
        DrawFocusRect(dc, &f);
    }
    SelectObject(dc, oldFont);
    return CDRF_SKIPDEFAULT;
}

bool TFormSteps::TreeMouseDown(int x, int y)
{
    HWND tree = Control("TreeViewReview");
    TVHITTESTINFO hit = {};
    hit.pt = {x, y};
    HTREEITEM item = TreeView_HitTest(tree, &hit);
    if (!item) return false;
    TReviewNodeData *d = NodeData(item);
    const int tx = x + GetScrollPos(tree, SB_HORZ);
    if (!d) return false;
    if (d->Group) {
        if (tx >= 16 && tx <= 32 && TreeView_GetChild(tree, item)) {
            TreeView_Expand(tree, item, TVE_TOGGLE);
            return true;
        }
        if (tx < 35 || tx > 55) return false;
        ToggleGroupNode(*d, ItemNodesOf(item));
    } else {
        if (d->Locked || tx < 55 || tx > 75) return false;
        HTREEITEM parent = TreeView_GetParent(tree, item);
        TReviewNodeData *g = NodeData(parent);
        if (!g) return false;
        ToggleItemNode(*d, *g, ItemNodesOf(parent));
    }
    InvalidateRect(tree, nullptr, FALSE);
    return true;
}

void TFormSteps::TreeHover(int x, int y)
{
    if (!FTip) return;
    HWND tree = Control("TreeViewReview");
    TVHITTESTINFO hit = {};
    hit.pt = {x, y};
    HTREEITEM item = TreeView_HitTest(tree, &hit);
    TReviewNodeData *d = item ? NodeData(item) : nullptr;
    TTTOOLINFOW ti = {};
    ti.cbSize = sizeof(ti);
    ti.hwnd = tree;
    if (!d) {
        SendMessageW(FTip, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&ti));
        FTipItem = nullptr;
        return;
    }
    if (item == FTipItem) return;
    FTipItem = item;
    if (d->Item) {
        // What the item is, and why the scan found it.
        FTipText = d->Item->Caption.empty() ? ReviewItemCaption(d->Item) : d->Item->Caption;
        std::wstring why = d->Item->Evidence();
        if (!why.empty()) FTipText += L"\r\n" + why;
    } else {
        FTipText = d->Group->Hint();
        if (FTipText.empty()) FTipText = d->Group->Caption();
    }
    ti.lpszText = const_cast<wchar_t *>(FTipText.c_str());
    SendMessageW(FTip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
    POINT p = {x, y};
    ClientToScreen(tree, &p);
    SendMessageW(FTip, TTM_TRACKPOSITION, 0, MAKELPARAM(p.x + 12, p.y + 16));
    SendMessageW(FTip, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&ti));
}

LRESULT CALLBACK TFormSteps::TreeProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    auto *self = reinterpret_cast<TFormSteps *>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    try {
        if (self) {
            if (msg == WM_LBUTTONDOWN) {
                SetFocus(hwnd);
                if (self->TreeMouseDown(static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp)))) return 0;
            } else if (msg == WM_LBUTTONDBLCLK) {
                if (self->TreeMouseDown(static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp)))) return 0;
                return 0;
            } else if (msg == WM_KEYDOWN && wp == VK_SPACE) {
                // The keyboard's way to toggle the selected node.
                HTREEITEM sel = TreeView_GetSelection(hwnd);
                if (TReviewNodeData *d = self->NodeData(sel)) {
                    if (d->Group) ToggleGroupNode(*d, self->ItemNodesOf(sel));
                    else if (!d->Locked) {
                        HTREEITEM parent = TreeView_GetParent(hwnd, sel);
                        if (TReviewNodeData *g = self->NodeData(parent)) ToggleItemNode(*d, *g, self->ItemNodesOf(parent));
                    }
                    InvalidateRect(hwnd, nullptr, FALSE);
                }
                return 0;
            } else if (msg == WM_CHAR && wp == L' ') {
                return 0;
            } else if (msg == WM_MOUSEMOVE) {
                self->TreeHover(static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp)));
                TRACKMOUSEEVENT t = {sizeof(t), TME_LEAVE, hwnd, 0};
                TrackMouseEvent(&t);
            } else if (msg == WM_MOUSELEAVE) {
                TTTOOLINFOW ti = {};
                ti.cbSize = sizeof(ti);
                ti.hwnd = hwnd;
                if (self->FTip) SendMessageW(self->FTip, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&ti));
                self->FTipItem = nullptr;
            }
            return CallWindowProcW(self->FTreeOld, hwnd, msg, wp, lp);
        }
    } catch (...) {
    }
    return self && self->FTreeOld ? CallWindowProcW(self->FTreeOld, hwnd, msg, wp, lp) : DefWindowProcW(hwnd, msg, wp, lp);
}
