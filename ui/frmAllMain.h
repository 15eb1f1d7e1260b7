// The program's main window: frame (glass or the own skin), header with the
// two tabs, the step list and the support column on the left, and the pages
// of the wizard form in the client area. It owns the step state, the engine
// tree of the current scan and the run of the worker thread.
#pragma once

#include "engine/fwRun.h"
#include "platform/EventU.h"
#include "ui/fwSteps.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

class TFormSteps;

// Creates the main window, runs the message loop until the window is gone
// and returns the loop's exit code. The interactive role calls it once.
int RunMainWindow();
// Started with "/SCAN": the wizard goes to the scan at once.
void SetScanNowRequested(bool on);
// The definitions every new scan loads: the program's own ("DATA") when
// empty; tests give a small document of their own.
void SetWizardDefinitions(const std::string &text);

class TMainForm {
public:
    TMainForm();
    ~TMainForm();
    TMainForm(const TMainForm &) = delete;
    TMainForm &operator=(const TMainForm &) = delete;

    bool Create();
    int MessageLoop();
    HWND Handle() const { return FHandle; }

    // ---- step state (the wizard form reads and changes it)
    int CurrentStep = stWelcome, LastStep = stWelcome;
    TfwRun Run;             // the engine tree of the current scan and its run
    bool HasEngine = false;
    bool Paused = false, StopAsked = false, Closing = false, ForceClose = false;
    TScanCounts Counts;
    int ErrorsFixed = 0, TweaksFixed = 0;
    int64_t BytesCleaned = 0;
    bool SpeedUpChosen = true, CleanUpChosen = true;
    std::wstring ProgressCaption;
    int ProgressPosition = 0, ProgressMaximum = 0;
    TfwPhase LastPhase = TfwPhase::Idle;
    TfwCategoryKind LastKind = TfwCategoryKind::None;
    DWORD PhaseStart = 0, PhaseBudget = 3000, LastRefresh = 0;
    int ActiveTab = 1, OtherTabStep = stRescueCenter;

    void GoToStep(int step, bool report = true);
    void NextStep();
    void PreviousStep();
    void StartRun(TfwRunKind kind);
    void StopRun();
    bool OnRunProgress(const TfwUIStatus &status);
    void OnRunFinished(const TfwRunResult &result);
    void RefreshProgress();
    void SwitchTab(int tab);
    // Close as the title bar's close box does (asking), or as the wizard's
    // Close button does (without asking).
    void RequestClose(bool force);
    // Runs pending window messages of this thread, with dialog navigation.
    void ProcessMessages();
    // A message box titled "Tovu" owned by the window.
    int Ask(const std::wstring &text, UINT flags);

    TfwCategory *Category(TfwCategoryKind kind) const;
    TFormSteps *Steps() const { return FSteps.get(); }

    // Page rectangle in client coordinates.
    RECT PageRect() const;
    // Hides the large action button of the header area (none in this window).
    void HideActionButton() {}

private:
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT WindowMessage(UINT msg, WPARAM wp, LPARAM lp);
    void SetUpFrame();
    void CreateChrome();
    void PaintBackground(HDC dc);
    void RefreshStepList();
    void RefreshHeader();
    void TranslateWindow();
    void PollEvents();
    bool CloseQuery();
    void Command(HWND control);
    void PressDefault(bool cancel);
    bool ConfirmSettingsChanges() { return true; }
    bool ConfirmAdministrator() { return true; }
    bool CloseBrowsersBeforeFix() { return true; }
    HWND Child(const char *name) const;

    HWND FHandle = nullptr;
    std::unique_ptr<TFormSteps> FSteps;
    std::unique_ptr<TGlobalEvent> FShowEvent, FStopEvent;
    bool FGlass = false, FFrameSetUp = false;
    int FOriginX = 3, FOriginY = 0;
    int FProgressDepth = 0;  // nesting of OnRunProgress: the worker waits on us
    std::vector<HWND> FControls;           // in creation order, for translation
    std::vector<HWND> FStepImages, FStepButtons;
    std::vector<int> FStepNumbers;
    std::vector<HWND> FSupportButtons;
    HWND FHeaderIcon = nullptr, FHeaderCaption = nullptr, FHeaderText = nullptr;
};

// The window, while it exists (one per process).
TMainForm *MainForm();
