// The wizard form: one panel per page with its controls laid out from a
// table, their handlers, the page preparation, the review trees and the
// animations. The main window hosts the panels and owns the step state.
#pragma once

#include "ui/fwSteps.h"

#include <windows.h>
#include <commctrl.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

class TMainForm;

class TFormSteps {
public:
    explicit TFormSteps(TMainForm &main);
    ~TFormSteps();
    TFormSteps(const TFormSteps &) = delete;
    TFormSteps &operator=(const TFormSteps &) = delete;

    // Builds every page inside host at rect (hidden).
    bool Create(HWND host, const RECT &rect);
    void ShowPage(int step);
    void BuildReviewTree(int step);
    void RefreshProgress();
    // The form translation and the button fits that follow it.
    void Translate();
    void PauseClicked();
    void TimerTick(UINT_PTR id);
    // The page's default and cancel buttons for Enter and Escape.
    HWND DefaultButton() const;
    HWND CancelButton() const;
    HWND Control(const std::string &name) const;
    HWND Panel(int page) const { return FPanels[page]; }

    static constexpr UINT_PTR TimerAnim1 = 11, TimerAnim2 = 12, TimerAnim3 = 13;

private:
    LRESULT PanelMessage(HWND panel, UINT msg, WPARAM wp, LPARAM lp, bool &handled);
    void Click(HWND control);
    void Show(const char *name, bool visible);
    void Enable(const char *name, bool enabled);
    void Place(const char *name, int x, int y);
    void PutShared(int page, bool back, bool next, bool cancel, bool close);
    void PrepareSettings();
    void PrepareResults();
    void PrepareRepairDone();
    void PrepareSpeedUp();
    void PrepareFinish();
    void CheckSpeedUpClick(HWND box);
    void UpdateSpeedUpGo();
    void StopAnimations();
    // Review tree
    LRESULT TreeCustomDraw(NMTVCUSTOMDRAW *cd);
    bool TreeMouseDown(int x, int y);
    void TreeHover(int x, int y);
    static LRESULT CALLBACK TreeProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    TReviewNodeData *NodeData(HTREEITEM item) const;
    std::vector<TReviewNodeData *> ItemNodesOf(HTREEITEM group) const;

    TMainForm &FMain;
    HWND FPanels[pgCount] = {};
    std::map<std::string, HWND> FByName;
    std::vector<HWND> FControls;  // creation order
    std::vector<HWND> FGroupRows; // settings page rows made at run time
    std::vector<std::unique_ptr<TReviewNodeData>> FNodes;
    WNDPROC FTreeOld = nullptr;
    HWND FTip = nullptr;
    HTREEITEM FTipItem = nullptr;
    std::wstring FTipText;
    int FFrame1 = 0, FFrame2 = 0, FFrame3 = 0;
    int FSettingsRows = 0;
    std::vector<TfwGroup *> FSettingsGroups;
};
