#include "ui/frmAllMain.h"

#include "app/fwAppBody.h"
#include "config/fwNames.h"
#include "config/fwSettings.h"
#include "config/fwTranslate.h"
#include "platform/SystemLibraryU.h"
#include "platform/ThreadU.h"
#include "ui/fwControls.h"
#include "ui/fwImages.h"
#include "ui/fwUiTrack.h"
#include "ui/frmAllSteps.h"

#include <commctrl.h>
#include <uxtheme.h>

#include <cmath>

namespace {

const wchar_t WindowClass[] = L"TMainForm";
constexpr int ContentW = 770, ContentH = 550;
constexpr int HeaderH = 96, LeftW = 170, PageTop = 176;
constexpr UINT_PTR TimerPoll = 1;
// Destroying the window is put off to the outer message loop: a close can
// arrive while the worker waits inside a progress call on the stack.
constexpr UINT WM_APP_DESTROY = WM_APP + 1;
constexpr int IdChrome = 100;
const COLORREF LeftBack = RGB(236, 243, 243);
const COLORREF Border = RGB(12, 58, 63);

TMainForm *TheForm = nullptr;
bool ScanNowRequested = false;
std::string Definitions;

// Desktop composition is asked of dwmapi only where the system has it.
struct TDwm {
    HRESULT(WINAPI *IsCompositionEnabled)(BOOL *) = nullptr;
    HRESULT(WINAPI *ExtendFrame)(HWND, const MARGINS *) = nullptr;
    TDwm()
    {
        if (HMODULE m = LoadSystemLibrary("dwmapi.dll")) {
            IsCompositionEnabled = reinterpret_cast<decltype(IsCompositionEnabled)>(GetProcAddress(m, "DwmIsCompositionEnabled"));
            ExtendFrame = reinterpret_cast<decltype(ExtendFrame)>(GetProcAddress(m, "DwmExtendFrameIntoClientArea"));
        }
    }
    bool Enabled() const
    {
        BOOL on = FALSE;
        return IsCompositionEnabled && SUCCEEDED(IsCompositionEnabled(&on)) && on;
    }
};
const TDwm &Dwm()
{
    static TDwm d;
    return d;
}

std::wstring StepText(const TStepInfo *info, const char *part)
{
    return info ? Translate(std::string("Step_") + info->Id + part, L"") : std::wstring();
}

}  // namespace

TMainForm *MainForm() { return TheForm; }
void SetScanNowRequested(bool on) { ScanNowRequested = on; }
void SetWizardDefinitions(const std::string &text) { Definitions = text; }

TMainForm::TMainForm() { TheForm = this; }

TMainForm::~TMainForm()
{
    if (FHandle) DestroyWindow(FHandle);
    if (TheForm == this) TheForm = nullptr;
}

TfwCategory *TMainForm::Category(TfwCategoryKind kind) const
{
    return HasEngine && Run.Tree() ? Run.Tree()->Category(kind) : nullptr;
}

RECT TMainForm::PageRect() const
{
    RECT r = {FOriginX + LeftW, FOriginY + PageTop, FOriginX + ContentW, FOriginY + ContentH};
    return r;
}

HWND TMainForm::Child(const char *name) const
{
    for (HWND c : FControls)
        if (TControlMeta *m = ControlMeta(c))
            if (m->Name == name) return c;
    return nullptr;
}

int TMainForm::Ask(const std::wstring &text, UINT flags)
{
    return MessageBoxW(FHandle, text.c_str(), L"Tovu", flags);
}

bool TMainForm::Create()
{
    HINSTANCE inst = GetModuleHandleW(nullptr);
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_TREEVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    if (!RegisterControlClasses(inst)) return false;
    WNDCLASSEXW wc = {sizeof(wc)};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = inst;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hIcon = LoadIconW(inst, L"MAINICON");
    wc.lpszClassName = WindowClass;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    FGlass = Dwm().Enabled();
    DWORD style = FGlass ? (WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX) : (WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX);
    style |= WS_CLIPCHILDREN;
    FHandle = CreateWindowExW(WS_EX_CONTROLPARENT, WindowClass, L"Tovu", style, CW_USEDEFAULT, CW_USEDEFAULT, 100, 100,
                              nullptr, nullptr, inst, this);
    if (!FHandle) return false;
    FShowEvent = std::make_unique<TGlobalEvent>(EventShowMain);
    FStopEvent = std::make_unique<TGlobalEvent>(EventStopMain);
    SetUpFrame();
    CreateChrome();
    FSteps = std::make_unique<TFormSteps>(*this);
    if (!FSteps->Create(FHandle, PageRect())) return false;
    RefreshStepList();
    RefreshHeader();
    TranslateWindow();
    FSteps->Translate();
    SetTimer(FHandle, TimerPoll, 200, nullptr);
    return true;
}

void TMainForm::SetUpFrame()
{
    int w, h;
    if (FGlass) {
        const int frame = GetSystemMetrics(SM_CXDLGFRAME);
        w = ContentW + 2 * frame;
        h = 545 + frame;
        FOriginX = frame;
        FOriginY = -5;
        if (Dwm().ExtendFrame) {
            MARGINS m = {frame + 1, frame + 1, HeaderH - 5, frame + 1};
            Dwm().ExtendFrame(FHandle, &m);
        }
    } else {
        w = 776;
        h = 553;
        FOriginX = 3;
        FOriginY = 0;
    }
    RECT r = {0, 0, w, h};
    AdjustWindowRectEx(&r, GetWindowLongW(FHandle, GWL_STYLE), FALSE, GetWindowLongW(FHandle, GWL_EXSTYLE));
    const int ww = r.right - r.left, wh = r.bottom - r.top;
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    SetWindowPos(FHandle, nullptr, work.left + (work.right - work.left - ww) / 2, work.top + (work.bottom - work.top - wh) / 2,
                 ww, wh, SWP_NOZORDER | SWP_NOACTIVATE);
    if (!FGlass) {
        // Only the top corners are round: a rounded rectangle for the top
        // and a plain one from 16 pixels down.
        HRGN round = CreateRoundRectRgn(0, 0, ww + 1, wh + 1, 16, 16);
        HRGN plain = CreateRectRgn(0, 16, ww, wh);
        CombineRgn(round, round, plain, RGN_OR);
        DeleteObject(plain);
        SetWindowRgn(FHandle, round, FALSE);
    }
    FFrameSetUp = true;
}

void TMainForm::CreateChrome()
{
    HINSTANCE inst = GetModuleHandleW(nullptr);
    int id = IdChrome;
    auto meta = [&](HWND c, const char *name, COLORREF color, COLORREF back, int tag = 0) {
        TControlMeta m;
        m.Name = name;
        m.Color = color;
        m.Back = back;
        m.Tag = tag;
        SetControlMeta(c, m);
        FControls.push_back(c);
        return c;
    };
    const int ox = FOriginX, oy = FOriginY;
    // Logo: a picture, not a control; presses on it drag the window.
    meta(CreatePaintBox(FHandle, id++, ox + 14, oy + 14, 170, 44, [this](HDC dc, const RECT &) {
             DrawImage(dc, Image(FGlass ? "LOGO_AERO" : "LOGO_XP"), 0, 0);
         }, L"Tovu"), "ImageLogo", 0, 0, 999);
    // Tabs.
    TButtonLook tab;
    tab.Normal = "TAB";
    tab.Hot = "";
    tab.Down = "";
    tab.Disabled = "TAB_INACTIVE";
    tab.ShowDisabledPlain = false;
    tab.TextColor = RGB(47, 47, 47);
    tab.Edge = 10;
    HWND scan = CreateImageButton(FHandle, id++, L"Scan & Repair", ox + 200, oy + HeaderH - 32, 129, 32, tab);
    SendMessageW(scan, WM_SETFONT, reinterpret_cast<WPARAM>(UiFont(TFontKind::Bold)), FALSE);
    meta(scan, "ScanTab", 0, 0);
    HWND support = CreateImageButton(FHandle, id++, L"Support", ox + 333, oy + HeaderH - 32, 129, 32, tab);
    SendMessageW(support, WM_SETFONT, reinterpret_cast<WPARAM>(UiFont(TFontKind::Bold)), FALSE);
    meta(support, "SupportTab", 0, 0);
    if (TButtonLook *l = ButtonLook(support)) {
        l->Normal = "TAB_INACTIVE";
        l->Hot = "TAB_INACTIVE_HOT";
        l->TextColor = RGB(255, 255, 255);
        l->TextTop = 4;
    }
    // Header help button and, with the own skin, the title bar's boxes.
    TButtonLook plain;
    plain.Normal = "HEADER_HELP";
    plain.Hot = plain.Down = plain.Disabled = "";
    plain.TextColor = RGB(255, 255, 255);
    plain.Edge = 0;
    HWND help = CreateImageButton(FHandle, id++, L"", ox + ContentW - 40, oy + HeaderH - 30, 26, 26, plain);
    TControlMeta hm;
    hm.Name = "ButtonHelp";
    hm.Hint = L"Help";
    SetControlMeta(help, hm);
    FControls.push_back(help);
    if (!FGlass) {
        plain.Normal = "SYS_MIN";
        meta(CreateImageButton(FHandle, id++, L"", ox + ContentW - 62, oy + 6, 26, 20, plain), "ButtonMinimize", 0, 0, 999);
        plain.Normal = "SYS_CLOSE";
        meta(CreateImageButton(FHandle, id++, L"", ox + ContentW - 32, oy + 6, 26, 20, plain), "ButtonCloseWindow", 0, 0, 999);
    }
    // Step list.
    HWND head = CreateWindowExW(0, L"STATIC", L"Wizard Steps", WS_CHILD | WS_VISIBLE | SS_NOPREFIX, ox + 16,
                                oy + HeaderH + 14, LeftW - 24, 18, FHandle, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id++)), inst, nullptr);
    SendMessageW(head, WM_SETFONT, reinterpret_cast<WPARAM>(UiFont(TFontKind::Bold)), FALSE);
    meta(head, "LabelStepsHeader", RGB(19, 124, 116), LeftBack);
    TButtonLook stepLook;
    stepLook.Normal = stepLook.Hot = stepLook.Down = stepLook.Disabled = "";
    stepLook.LeftText = true;
    stepLook.TextColor = RGB(30, 50, 52);
    stepLook.DisabledText = RGB(140, 150, 150);
    int y = oy + HeaderH + 44;
    for (int i = 0; i < StepCount(); ++i) {
        const TStepInfo &s = StepAt(i);
        if (s.Kind != TStepKind::Listed) continue;
        const int number = s.Step;
        HWND img = CreatePaintBox(FHandle, id++, ox + 16, y, 16, 16, [this, number](HDC dc, const RECT &) {
            DrawImage(dc, Image(CurrentListEntry(CurrentStep) == number ? "STEP_CURRENT" : "STEP"), 0, 0);
        });
        HWND b = CreateImageButton(FHandle, id++, L"", ox + 36, y - 4, LeftW - 40, 24, stepLook);
        SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(UiFont(TFontKind::Normal)), FALSE);
        // Entries show state only; they take no clicks and no focus.
        SetWindowLongW(b, GWL_STYLE, GetWindowLongW(b, GWL_STYLE) & ~WS_TABSTOP);
        TControlMeta m;
        m.Name = i == 0 ? "ButtonStep" : "ButtonStep" + std::to_string(number);
        m.Tag = i == 0 ? 0 : 999;
        SetControlMeta(b, m);
        FControls.push_back(b);
        FStepImages.push_back(img);
        FStepButtons.push_back(b);
        FStepNumbers.push_back(number);
        y += 16 + 12;
    }
    // Support column (second tab), hidden at first.
    const struct { const char *Name; const wchar_t *Text; const char *Icon; int Step; } support_[] = {
        {"ButtonSupportRescue", L"Rescue Center", "RESCUE_ICO", stRescueCenter},
        {"ButtonSupportSettings", L"Settings", "SETTINGS_ICO", stSettings},
        {"ButtonSupportHelp", L"Help", "HELP_ICO", stHelp},
        {"ButtonSupportAbout", L"About", "ABOUT_ICO", stAbout},
    };
    for (int i = 0; i < 4; ++i) {
        TButtonLook l;
        l.Normal = "";
        l.Hot = "SUPPORT_HOT";
        l.Down = "SUPPORT_ACTIVE";
        l.Disabled = "";
        l.Icon = support_[i].Icon;
        l.IconSize = 22;
        l.LeftText = true;
        HWND b = CreateImageButton(FHandle, id++, support_[i].Text, ox + 10, oy + HeaderH + 14 + i * 30, LeftW - 20, 30, l);
        SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(UiFont(TFontKind::Normal)), FALSE);
        ShowWindow(b, SW_HIDE);
        meta(b, support_[i].Name, 0, 0);
        SetWindowLongPtrW(b, GWLP_USERDATA + 0, GetWindowLongPtrW(b, GWLP_USERDATA));
        FSupportButtons.push_back(b);
    }
    // Page header.
    FHeaderIcon = CreatePaintBox(FHandle, id++, ox + LeftW + 16, oy + HeaderH + 14, 48, 48, [this](HDC dc, const RECT &) {
        if (const TStepInfo *s = StepInfo(CurrentStep)) DrawImage(dc, Image(s->Icon), 0, 0);
    });
    FHeaderCaption = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_NOPREFIX, ox + LeftW + 76, oy + HeaderH + 26,
                                     ContentW - LeftW - 92, 24, FHandle, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id++)), inst, nullptr);
    SendMessageW(FHeaderCaption, WM_SETFONT, reinterpret_cast<WPARAM>(UiFont(TFontKind::Big)), FALSE);
    meta(FHeaderCaption, "LabelHeaderCaption", RGB(14, 63, 69), RGB(255, 255, 255), 999);
    FHeaderText = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_NOPREFIX, ox + LeftW + 76, oy + HeaderH + 52,
                                  ContentW - LeftW - 92, 28, FHandle, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id++)), inst, nullptr);
    SendMessageW(FHeaderText, WM_SETFONT, reinterpret_cast<WPARAM>(UiFont(TFontKind::Normal)), FALSE);
    meta(FHeaderText, "LabelHeaderText", RGB(60, 70, 72), RGB(255, 255, 255), 999);
}

void TMainForm::TranslateWindow()
{
    ::TranslateForm("MainForm", FControls);
    for (size_t i = 0; i < FStepButtons.size(); ++i)
        SetText(FStepButtons[i], StepText(StepInfo(FStepNumbers[i]), "_Caption"));
    HWND scan = Child("ScanTab"), support = Child("SupportTab");
    FitButtonWidth(scan, 30, 129, 0);
    // The support tab follows the scan tab's width rule and sits beside it.
    RECT r;
    GetWindowRect(scan, &r);
    MapWindowPoints(nullptr, FHandle, reinterpret_cast<POINT *>(&r), 2);
    SetWindowPos(support, nullptr, r.right + 4, r.top, 129, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
    FitButtonWidth(support, 30, 129, 0);
    RECT s;
    GetWindowRect(support, &s);
    MapWindowPoints(nullptr, FHandle, reinterpret_cast<POINT *>(&s), 2);
    SetWindowPos(support, nullptr, r.right + 4, s.top, s.right - s.left, s.bottom - s.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TMainForm::RefreshStepList()
{
    for (size_t i = 0; i < FStepButtons.size(); ++i) {
        EnableWindow(FStepButtons[i], StepEntryEnabled(FStepNumbers[i], CurrentStep, Counts));
        InvalidateRect(FStepImages[i], nullptr, FALSE);
    }
    const int supportSteps[] = {stRescueCenter, stSettings, stHelp, stAbout};
    for (size_t i = 0; i < FSupportButtons.size(); ++i) {
        HWND b = FSupportButtons[i];
        TButtonLook *l = ButtonLook(b);
        const bool active = CurrentStep == supportSteps[i];
        if (l) {
            l->Normal = active ? "SUPPORT_ACTIVE" : "";
            l->Hot = active ? "SUPPORT_ACTIVE" : "SUPPORT_HOT";
        }
        const int y = FOriginY + HeaderH + 14 + static_cast<int>(i) * 30;
        SetWindowPos(b, active ? HWND_TOP : nullptr, FOriginX + 10, active ? y - 1 : y, LeftW - 20, active ? 32 : 30,
                     SWP_NOACTIVATE | (active ? 0 : SWP_NOZORDER));
        InvalidateRect(b, nullptr, FALSE);
    }
    InvalidateRect(FHeaderIcon, nullptr, FALSE);
}

void TMainForm::RefreshHeader()
{
    EnableWindow(Child("SupportTab"), !(CurrentStep == stScanProgress || CurrentStep == stRepair || CurrentStep == stSpeedUpProgress));
    const TStepInfo *info = StepInfo(CurrentStep);
    SetText(FHeaderCaption, StepText(info, "_Header"));
    const std::wstring text = StepText(info, "_Text");
    SetText(FHeaderText, text);
    ShowWindow(FHeaderText, text.empty() ? SW_HIDE : SW_SHOWNA);
    SetWindowPos(FHeaderCaption, nullptr, FOriginX + LeftW + 76, FOriginY + HeaderH + (text.empty() ? 35 : 26), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(FHeaderIcon, nullptr, FALSE);
}

void TMainForm::PaintBackground(HDC dc)
{
    RECT rc;
    GetClientRect(FHandle, &rc);
    HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
    FillRect(dc, &rc, white);
    DeleteObject(white);
    const int ox = FOriginX, oy = FOriginY;
    RECT left = {ox, oy + HeaderH, ox + LeftW, oy + ContentH};
    HBRUSH lb = CreateSolidBrush(LeftBack);
    FillRect(dc, &left, lb);
    DeleteObject(lb);
    RECT line = {ox + LeftW - 1, oy + HeaderH, ox + LeftW, oy + ContentH};
    HBRUSH lineBrush = CreateSolidBrush(RGB(207, 225, 223));
    FillRect(dc, &line, lineBrush);
    DeleteObject(lineBrush);
    const TImage &header = Image("HEADER");
    RECT hr = {0, oy, rc.right, oy + HeaderH};
    DrawImagePart(dc, header, hr, 0, 0, header.Width, header.Height);
    if (!FGlass) {
        HBRUSH b = CreateSolidBrush(Border);
        RECT l = {0, 0, ox, rc.bottom}, r = {rc.right - 3, 0, rc.right, rc.bottom}, bt = {0, rc.bottom - 3, rc.right, rc.bottom};
        FillRect(dc, &l, b);
        FillRect(dc, &r, b);
        FillRect(dc, &bt, b);
        DeleteObject(b);
    }
}

// ---- steps ------------------------------------------------------------------

void TMainForm::GoToStep(int step, bool report)
{
    if (step == CurrentStep) return;
    const TStepInfo *info = StepInfo(step);
    if (!info) return;
    if (!ConfirmSettingsChanges()) return;
    if ((step == stRepair || step == stSpeedUpProgress) && !ConfirmAdministrator()) return;
    if (step == stSpeedUpProgress && !CloseBrowsersBeforeFix()) return;
    LastStep = CurrentStep;
    CurrentStep = step;
    if (report && (IsWindowVisible(FHandle) || !Closing)) TrackStep(info->Track);
    RefreshStepList();
    RefreshHeader();
    if (step == stScanSettings || (step == stScanProgress && !HasEngine)) {
        StopRun();
        HasEngine = Definitions.empty() ? Run.Load() : Run.LoadFromText(Definitions);
    }
    if (step == stScanProgress) StartRun(TfwRunKind::Scan);
    else if (step == stRepair) StartRun(TfwRunKind::Repair);
    else if (step == stSpeedUpProgress && (SpeedUpChosen || CleanUpChosen)) StartRun(TfwRunKind::SpeedUp);
    FSteps->ShowPage(step);
    RefreshProgress();
}

void TMainForm::NextStep()
{
    int to = NextStepOf(CurrentStep, Counts);
    if (to >= 0) GoToStep(to);
}

void TMainForm::PreviousStep()
{
    int to = PreviousStepOf(CurrentStep);
    if (to >= 0) GoToStep(to);
}

void TMainForm::StartRun(TfwRunKind kind)
{
    StopRun();
    if (!HasEngine) return;
    ProgressPosition = 0;
    ProgressMaximum = 0;
    ProgressCaption = Translate("Scanning", L"Scanning...");
    LastPhase = TfwPhase::Idle;
    LastKind = TfwCategoryKind::None;
    if (kind == TfwRunKind::Scan) {
        ErrorsFixed = TweaksFixed = 0;
        BytesCleaned = 0;
    }
    LastRefresh = GetTickCount() - 1000;
    bool restorePoint = false;
    if (kind != TfwRunKind::Scan) {
        DWORD disabled = 0;
        HKEY key;
        restorePoint = Settings().CreateRestorePoint;
        if (restorePoint && RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion\\SystemRestore", 0,
                                          KEY_READ, &key) == ERROR_SUCCESS) {
            DWORD size = sizeof(disabled), type = 0;
            if (RegQueryValueExA(key, "DisableSR", nullptr, &type, reinterpret_cast<BYTE *>(&disabled), &size) == ERROR_SUCCESS &&
                type == REG_DWORD && disabled == 1)
                restorePoint = false;
            RegCloseKey(key);
        }
    }
    auto progress = [this](const TfwUIStatus &s) { return OnRunProgress(s); };
    auto finished = [this](const TfwRunResult &r) { OnRunFinished(r); };
    switch (kind) {
    case TfwRunKind::Scan: Run.StartScan(progress, finished); break;
    case TfwRunKind::Repair: Run.StartRepair(restorePoint, progress, finished); break;
    case TfwRunKind::SpeedUp: Run.StartSpeedUp(restorePoint, progress, finished); break;
    }
    if (HWND b = FSteps ? FSteps->Control("ButtonPauseScan") : nullptr) SetText(b, Translate("ButPauseScan", L"Pause Scan"));
}

void TMainForm::StopRun()
{
    if (!Run.Running()) return;
    Run.Stop();
    // Inside a progress call the worker waits for us: it can only end after
    // we return, so waiting here would only freeze the window.
    if (FProgressDepth == 0) Run.WaitForEnd(1500);
    Paused = false;
    StopAsked = false;
}

bool TMainForm::OnRunProgress(const TfwUIStatus &status)
{
    struct TDepth {
        int &D;
        explicit TDepth(int &d) : D(d) { ++D; }
        ~TDepth() { --D; }
    } depth(FProgressDepth);
    try {
        if (!Run.Running() || Closing) return false;
        auto keepResponsive = [this](DWORD ms) {
            DWORD start = GetTickCount();
            while (GetTickCount() - start < ms) {
                if (Closing || !Run.Running()) return;
                ProcessMessages();
                Sleep(10);
            }
        };
        if (StopAsked) {
            StopAsked = false;
            std::wstring text = Translate("AskStop1", L"Do you really want to STOP this scan?") + L"\r\n\r\n" +
                                Translate("AskStop2", L"Your computer is not optimized and may contain errors!") + L" " +
                                Translate("AskStop3", L"It is not recommended to stop this scan.") + L"\r\n\r\n" +
                                Translate("AskStop4", L"If you really want to stop it, click \u201cYes\u201d.") + L"\r\n" +
                                Translate("AskStop5", L"To complete this scan click \u201cNo\u201d.");
            if (Ask(text, MB_ICONWARNING | MB_YESNO) == IDYES) {
                TrackAction("P", "S", false);
                StopRun();
                return false;
            }
            TrackAction("P", "SC", true);
            EnableWindow(FSteps->Control("ButtonStopScan"), TRUE);
        }
        while (Paused) {
            if (Closing || !Run.Running()) return false;
            ProcessMessages();
            Sleep(10);
        }
        if (Closing) return false;
        EnableWindow(FSteps->Control("ButtonPauseScan"), TRUE);
        if (!StopAsked) EnableWindow(FSteps->Control("ButtonStopScan"), TRUE);
        bool changed = status.Position != ProgressPosition || status.GroupCaption != ProgressCaption;
        if (status.Phase != LastPhase || status.Kind != LastKind) {
            keepResponsive(400);
            if (!Run.Running()) return false;
            changed = true;
            PhaseBudget = 3000;
            PhaseStart = GetTickCount();
            if (status.Kind == TfwCategoryKind::Fix) {
                int shown = 0, enabled = 0;
                if (TfwCategory *fix = Category(TfwCategoryKind::Fix))
                    for (TfwGroup *g : fix->Groups)
                        if (g->InSettings) {
                            ++shown;
                            if (g->Enabled) ++enabled;
                        }
                // No group on the settings page: keep the whole budget.
                if (shown > 0) PhaseBudget = static_cast<DWORD>(std::lround(3000.0 * enabled / shown));
            }
        }
        LastPhase = status.Phase;
        LastKind = status.Kind;
        ProgressCaption = status.GroupCaption;
        if (status.Phase == TfwPhase::BackingUp) ProgressCaption = L"Backing up: " + ProgressCaption;
        ProgressPosition = status.Position;
        ProgressMaximum = status.Maximum;
        if (ProgressPosition > ProgressMaximum) ProgressPosition = ProgressMaximum;
        if (ProgressPosition > 0 && ProgressMaximum > 0) {
            const double elapsed = static_cast<double>(GetTickCount() - PhaseStart);
            const double projected = std::round(elapsed / ProgressPosition * ProgressMaximum);
            const double slack = std::round((static_cast<double>(PhaseBudget) - projected) / ProgressMaximum * ProgressPosition);
            if (slack > 0) keepResponsive(static_cast<DWORD>(slack < 2000 ? slack : 2000));
            if (Closing) return false;
        }
        if (status.Phase == TfwPhase::Scanning) {
            Counts.ErrorsFound = status.FixCount;
            Counts.TweaksFound = status.BoostCount - status.AddOnCount;
            Counts.BytesToClean = status.CleanSize;
            Counts.AddOnsFound = status.AddOnCount;
            Counts.MemoryFigure = status.MemoryFree;
        }
        if (!changed && GetTickCount() - LastRefresh <= 10) return true;
        RefreshProgress();
        LastRefresh = GetTickCount();
        ProcessMessages();
        return !Closing;
    } catch (...) {
        return false;
    }
}

void TMainForm::OnRunFinished(const TfwRunResult &)
{
    try {
        Paused = false;
        StopAsked = false;
        if (Closing) return;
        if (CurrentStep == stScanProgress) GoToStep(stScanResults);
        else if (CurrentStep == stRepair) GoToStep(stRepairDone);
        else if (CurrentStep == stSpeedUpProgress) GoToStep(stFinish);
        if (GetForegroundWindow() != FHandle) {
            FLASHWINFO fi = {sizeof(fi), FHandle, FLASHW_TRAY, 3, 0};
            FlashWindowEx(&fi);
        }
        if (IsWindowVisible(FHandle)) {
            SetWindowPos(FHandle, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
            SetWindowPos(FHandle, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        }
    } catch (...) {
    }
}

void TMainForm::RefreshProgress()
{
    RefreshHeader();
    if (FSteps) FSteps->RefreshProgress();
}

void TMainForm::SwitchTab(int tab)
{
    if (tab == ActiveTab || !ConfirmSettingsChanges()) return;
    ActiveTab = tab;
    HWND scan = Child("ScanTab"), support = Child("SupportTab");
    for (HWND t : {scan, support}) {
        TButtonLook *l = ButtonLook(t);
        if (!l) continue;
        const bool active = (t == scan) == (tab == 1);
        l->Normal = active ? "TAB" : "TAB_INACTIVE";
        l->Hot = active ? "" : "TAB_INACTIVE_HOT";
        l->TextColor = active ? RGB(47, 47, 47) : RGB(255, 255, 255);
        l->TextTop = active ? 0 : 4;
        InvalidateRect(t, nullptr, FALSE);
    }
    for (size_t i = 0; i < FStepButtons.size(); ++i) {
        ShowWindow(FStepButtons[i], tab == 1 ? SW_SHOWNA : SW_HIDE);
        ShowWindow(FStepImages[i], tab == 1 ? SW_SHOWNA : SW_HIDE);
    }
    ShowWindow(Child("LabelStepsHeader"), tab == 1 ? SW_SHOWNA : SW_HIDE);
    for (HWND b : FSupportButtons) ShowWindow(b, tab == 2 ? SW_SHOWNA : SW_HIDE);
    const int s = OtherTabStep;
    OtherTabStep = CurrentStep;
    GoToStep(s);
}

// ---- window -----------------------------------------------------------------

void TMainForm::ProcessMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Leave the quit to the outer loop.
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        if (!IsDialogMessageW(FHandle, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

int TMainForm::MessageLoop()
{
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (FHandle && IsDialogMessageW(FHandle, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

void TMainForm::RequestClose(bool force)
{
    if (force) ForceClose = true;
    PostMessageW(FHandle, WM_CLOSE, 0, 0);
}

bool TMainForm::CloseQuery()
{
    if (!ConfirmSettingsChanges()) return false;
    const TStepInfo *info = StepInfo(CurrentStep);
    const std::string page = info ? info->Track : "";
    if (CurrentStep == stFinish || OtherTabStep == stFinish || ForceClose) {
        TrackAction(page, "X", false);
        return true;
    }
    std::wstring text = Translate("AskClose1", L"Do you really want to cancel %BRAND% Wizard?") + L"\r\n\r\n" +
                        Translate("AskClose2", L"Your computer is not optimized and may contain errors!") + L" " +
                        Translate("AskClose3", L"It is not recommended to cancel this wizard.") + L"\r\n\r\n" +
                        Translate("AskClose4", L"If you really want to cancel it, click \u201cYes\u201d.") + L"\r\n" +
                        Translate("AskClose5", L"To continue with the wizard click \u201cNo\u201d.");
    if (Ask(text, MB_ICONWARNING | MB_YESNO) == IDYES) {
        TrackAction(page, "X", false);
        return true;
    }
    TrackAction(page, "XC", true);
    return false;
}

void TMainForm::PollEvents()
{
    if (FShowEvent && FShowEvent->WaitFor(0)) {
        FShowEvent->Unsignal();
        if (IsIconic(FHandle)) ShowWindow(FHandle, SW_RESTORE);
        ShowWindow(FHandle, SW_SHOW);
        if (IsWindowEnabled(FHandle)) {
            SetWindowPos(FHandle, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
            SetWindowPos(FHandle, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        }
        SetForegroundWindow(FHandle);
    }
    if (FStopEvent && FStopEvent->WaitFor(0)) {
        Closing = true;
        ShowWindow(FHandle, SW_HIDE);
        PostMessageW(FHandle, WM_APP_DESTROY, 0, 0);
    }
}

void TMainForm::PressDefault(bool cancel)
{
    if (!FSteps) return;
    HWND b = cancel ? FSteps->CancelButton() : FSteps->DefaultButton();
    if (!cancel) {
        // A focused push button is what Enter presses, as in a dialog.
        HWND focus = GetFocus();
        wchar_t cls[32] = {};
        if (focus) GetClassNameW(focus, cls, 32);
        if (focus && wcscmp(cls, L"TovuButton") == 0 && IsWindowVisible(focus)) b = focus;
    }
    if (b) SendMessageW(b, BM_CLICK, 0, 0);
}

void TMainForm::Command(HWND control)
{
    TControlMeta *m = ControlMeta(control);
    if (!m) return;
    const std::string &name = m->Name;
    if (name == "ScanTab") {
        if (ActiveTab != 1) TrackAction(StepInfo(CurrentStep) ? StepInfo(CurrentStep)->Track : "", "SR", false);
        SwitchTab(1);
    } else if (name == "SupportTab") {
        if (ActiveTab != 2) TrackAction(StepInfo(CurrentStep) ? StepInfo(CurrentStep)->Track : "", "SP", false);
        SwitchTab(2);
    } else if (name == "ButtonSupportRescue") {
        GoToStep(stRescueCenter);
    } else if (name == "ButtonSupportSettings") {
        GoToStep(stSettings);
    } else if (name == "ButtonSupportHelp") {
        GoToStep(stHelp);
    } else if (name == "ButtonSupportAbout") {
        GoToStep(stAbout);
    } else if (name == "ButtonHelp") {
        TrackAction(StepInfo(CurrentStep) ? StepInfo(CurrentStep)->Track : "", "H", true);
        OpenUrl(ConfigValue("HELPPAID_URL"));
    } else if (name == "ButtonCloseWindow") {
        RequestClose(false);
    } else if (name == "ButtonMinimize") {
        ShowWindow(FHandle, SW_MINIMIZE);
    }
}

LRESULT CALLBACK TMainForm::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    try {
        TMainForm *self = reinterpret_cast<TMainForm *>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (msg == WM_NCCREATE) {
            self = static_cast<TMainForm *>(reinterpret_cast<CREATESTRUCTW *>(lp)->lpCreateParams);
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
            self->FHandle = hwnd;
        }
        if (self) return self->WindowMessage(msg, wp, lp);
    } catch (...) {
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT TMainForm::WindowMessage(UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_ERASEBKGND:
        PaintBackground(reinterpret_cast<HDC>(wp));
        return 1;
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wp);
        TControlMeta *m = ControlMeta(reinterpret_cast<HWND>(lp));
        COLORREF back = m ? m->Back : RGB(255, 255, 255);
        SetTextColor(dc, m ? m->Color : RGB(40, 40, 40));
        SetBkColor(dc, back);
        static std::pair<COLORREF, HBRUSH> cache[4];
        for (auto &c : cache) {
            if (c.second && c.first == back) return reinterpret_cast<LRESULT>(c.second);
            if (!c.second) {
                c = {back, CreateSolidBrush(back)};
                return reinterpret_cast<LRESULT>(c.second);
            }
        }
        return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    }
    case WM_COMMAND:
        if (lp && HIWORD(wp) == BN_CLICKED) {
            Command(reinterpret_cast<HWND>(lp));
            return 0;
        }
        if (!lp && (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)) {
            PressDefault(LOWORD(wp) == IDCANCEL);
            return 0;
        }
        break;
    case WM_TIMER:
        try {
            if (wp == TimerPoll) PollEvents();
            else if (FSteps) FSteps->TimerTick(wp);
        } catch (...) {
        }
        return 0;
    case WM_LBUTTONDOWN: {
        // Presses on the logo, the header or the background within the logo's
        // height from the top drag the window, as its caption would.
        const int y = static_cast<short>(HIWORD(lp));
        if (!FGlass && y < FOriginY + 14 + 44) {
            ReleaseCapture();
            SendMessageW(FHandle, WM_NCLBUTTONDOWN, HTCAPTION, 0);
            return 0;
        }
        break;
    }
    case WM_CLOSE:
        if (Closing) return 0;
        if (CloseQuery()) {
            ShowWindow(FHandle, SW_HIDE);
            Closing = true;
            PostMessageW(FHandle, WM_APP_DESTROY, 0, 0);
        }
        ForceClose = false;
        return 0;
    case WM_APP_DESTROY:
        if (FProgressDepth > 0) {
            // Still inside a progress call; it returns at once now that
            // Closing is set, so try again from the outer loop.
            PostMessageW(FHandle, WM_APP_DESTROY, 0, 0);
            return 0;
        }
        DestroyWindow(FHandle);
        return 0;
    case WM_DESTROY:
        KillTimer(FHandle, TimerPoll);
        StopRun();
        FShowEvent.reset();
        FStopEvent.reset();
        PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY:
        FHandle = nullptr;
        break;
    case 0x031E:  // WM_DWMCOMPOSITIONCHANGED
        if (FFrameSetUp) {
            LRESULT r = DefWindowProcW(FHandle, msg, wp, lp);
            RestartWaiting();
            Closing = true;
            PostMessageW(FHandle, WM_APP_DESTROY, 0, 0);
            return r;
        }
        break;
    }
    return DefWindowProcW(FHandle, msg, wp, lp);
}

int RunMainWindow()
{
    InitSynchronize();
    TMainForm form;
    if (!form.Create()) return 1;
    HWND h = form.Handle();
    // Shown top-most once so that it comes up in front of the starting
    // program's windows, then back to normal stacking.
    SetWindowPos(h, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    SetWindowPos(h, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    UpdateWindow(h);
    if (ScanNowRequested) {
        form.GoToStep(stScanProgress, false);
    } else {
        form.Steps()->ShowPage(stWelcome);
        form.RefreshProgress();
        TrackStep("W");
    }
    return form.MessageLoop();
}
