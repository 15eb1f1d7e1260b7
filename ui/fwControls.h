// The window pieces the wizard is built from. Every piece that shows text is
// a child window whose window text is that text, so screen readers and UI
// automation read and press them like standard controls.
//   image button  "TovuButton": alpha-blended images in three slices, a
//                 caption, hover and pressed states; answers BM_CLICK, Space
//                 and Enter, and takes part in Tab navigation.
//   paint box     "TovuPaint": an image or an animation drawn by its owner.
//   panel         "TovuPanel": a page; forwards its children's notifications
//                 to the form that made it and paints a plain background.
// Labels are STATIC controls and check boxes BUTTON controls; their colours
// come from the panel they sit on.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Registers the window classes once; false when registration failed.
bool RegisterControlClasses(HINSTANCE instance);

enum class TFontKind { Normal, Bold, Big, Headline, Small };
// The fonts of the wizard, in a face that has the glyphs of the current
// language (Japanese needs a face with the Shift-JIS character set).
HFONT UiFont(TFontKind kind);
// Drops the fonts, so that a change of language picks its face again.
void ResetUiFonts();

// What the form knows about each of its controls: the name behind its
// translation key, and how it is drawn.
struct TControlMeta {
    std::string Name;
    int Tag = 0;              // 999: text set by code, left alone by TranslateForm
    COLORREF Color = RGB(40, 40, 40);
    COLORREF Back = RGB(255, 255, 255);
    std::wstring Hint;
};
TControlMeta *ControlMeta(HWND control);
void SetControlMeta(HWND control, const TControlMeta &meta);
void ForgetControlMeta(HWND control);

// Image button state; set through ButtonState after creation.
struct TButtonLook {
    std::string Normal = "BTN", Hot = "BTN_HOT", Down = "BTN_DOWN", Disabled = "BTN_DISABLED";
    std::string Icon;          // drawn left of the caption, scaled to IconSize
    int IconSize = 0;
    COLORREF TextColor = RGB(30, 50, 52);
    COLORREF DisabledText = RGB(150, 150, 150);
    int TextTop = 0;           // extra top margin of the caption
    bool LeftText = false;     // caption left-aligned (step list, support column)
    bool ShowDisabledPlain = false;  // disabled look keeps the normal image
    int Edge = 8;
};
TButtonLook *ButtonLook(HWND button);
HWND CreateImageButton(HWND parent, int id, const std::wstring &caption, int x, int y, int w, int h,
                       const TButtonLook &look);

// Paint box: the owner's painter runs on WM_PAINT with a memory DC whose
// background the parent already drew.
using TPainter = std::function<void(HDC dc, const RECT &client)>;
HWND CreatePaintBox(HWND parent, int id, int x, int y, int w, int h, TPainter painter, const std::wstring &text = L"");
void SetPainter(HWND box, TPainter painter);

// Panel: events of its children go to handler (WM_COMMAND, WM_NOTIFY, and
// WM_CTLCOLOR* answered with the child's colours). The background is the
// panel's colour, or drawn by painter when given.
using TPanelHandler = std::function<LRESULT(HWND panel, UINT msg, WPARAM wp, LPARAM lp, bool &handled)>;
HWND CreatePanel(HWND parent, int x, int y, int w, int h, COLORREF back, TPanelHandler handler);
void SetPanelPainter(HWND panel, TPainter painter);

// Draws the parent's background under a child (the child's own origin), so
// alpha-blended images sit on whatever is behind them.
void PaintParentBackground(HWND child, HDC dc);

// Resizes a button to its caption measured in its own font, keeping its
// right edge: width = caption width + extra, at least minimum, at most
// maximum when maximum > 0. Errors leave the button as it was.
void FitButtonWidth(HWND button, int extra, int minimum, int maximum);

// Translates the controls of a window in creation order under
// formName + "_" + control name; controls tagged 999 and controls without a
// name or text are left alone.
void TranslateForm(const std::string &formName, const std::vector<HWND> &controls);

// Sets the window text only when it differs (no flicker, no needless
// accessibility events).
void SetText(HWND window, const std::wstring &text);
std::wstring GetText(HWND window);
