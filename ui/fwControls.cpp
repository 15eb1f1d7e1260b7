#include "ui/fwControls.h"

#include "config/fwTranslate.h"
#include "ui/fwImages.h"

#include <map>
#include <memory>

namespace {

const wchar_t ButtonClass[] = L"TovuButton";
const wchar_t PaintClass[] = L"TovuPaint";
const wchar_t PanelClass[] = L"TovuPanel";

// Everything here is touched on the user-interface thread only.
std::map<HWND, TControlMeta> &Metas()
{
    static std::map<HWND, TControlMeta> m;
    return m;
}

HBRUSH BrushOf(COLORREF c)
{
    static std::map<COLORREF, HBRUSH> brushes;
    auto it = brushes.find(c);
    if (it != brushes.end()) return it->second;
    return brushes.emplace(c, CreateSolidBrush(c)).first->second;
}

struct TButtonData {
    TButtonLook Look;
    HFONT Font = nullptr;
    bool Hover = false, Pressed = false, Tracking = false;
};

struct TPaintData {
    TPainter Painter;
};

struct TPanelData {
    COLORREF Back;
    TPanelHandler Handler;
    TPainter Painter;
};

// Paints into a memory bitmap first: the images are blended over the parent's
// background, which would flicker if drawn straight onto the screen.
template <class Fn> void BufferedPaint(HWND hwnd, Fn draw)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT rc;
    GetClientRect(hwnd, &rc);
    HDC mem = CreateCompatibleDC(dc);
    HBITMAP bmp = CreateCompatibleBitmap(dc, rc.right > 0 ? rc.right : 1, rc.bottom > 0 ? rc.bottom : 1);
    HGDIOBJ old = SelectObject(mem, bmp);
    draw(mem, rc);
    BitBlt(dc, 0, 0, rc.right, rc.bottom, mem, 0, 0, SRCCOPY);
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    EndPaint(hwnd, &ps);
}

void NotifyClick(HWND hwnd)
{
    if (!IsWindowEnabled(hwnd)) return;
    HWND parent = GetParent(hwnd);
    SendMessageW(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd), BN_CLICKED), reinterpret_cast<LPARAM>(hwnd));
}

void PaintButton(HWND hwnd, TButtonData *d, HDC dc, const RECT &rc)
{
    PaintParentBackground(hwnd, dc);
    const bool enabled = IsWindowEnabled(hwnd);
    const TButtonLook &l = d->Look;
    std::string name = l.Normal;
    if (!enabled) {
        if (!l.ShowDisabledPlain && !l.Disabled.empty()) name = l.Disabled;
    } else if (d->Pressed && d->Hover && !l.Down.empty()) {
        name = l.Down;
    } else if (d->Hover && !l.Hot.empty()) {
        name = l.Hot;
    }
    if (!name.empty()) DrawImageSliced(dc, Image(name), rc, l.Edge);
    RECT text = rc;
    if (!l.Icon.empty()) {
        const TImage &icon = Image(l.Icon);
        int s = l.IconSize > 0 ? l.IconSize : icon.Height;
        RECT ir = {rc.left + 6, (rc.bottom - s) / 2, rc.left + 6 + s, (rc.bottom - s) / 2 + s};
        DrawImagePart(dc, icon, ir, 0, 0, icon.Width, icon.Height);
        text.left = ir.right + 6;
    } else if (l.LeftText) {
        text.left += 6;
    }
    text.top += l.TextTop;
    std::wstring caption = GetText(hwnd);
    HGDIOBJ oldFont = SelectObject(dc, d->Font ? d->Font : UiFont(TFontKind::Normal));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, enabled ? l.TextColor : l.DisabledText);
    UINT flags = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | (l.LeftText ? DT_LEFT : DT_CENTER) | DT_END_ELLIPSIS;
    DrawTextW(dc, caption.c_str(), -1, &text, flags);
    if (GetFocus() == hwnd && !(SendMessageW(hwnd, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS)) {
        RECT f = rc;
        InflateRect(&f, -3, -3);
        DrawFocusRect(dc, &f);
    }
    SelectObject(dc, oldFont);
}

LRESULT CALLBACK ButtonProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    try {
        auto *d = reinterpret_cast<TButtonData *>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        switch (msg) {
        case WM_NCCREATE:
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new TButtonData));
            break;
        case WM_NCDESTROY:
            delete d;
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            ForgetControlMeta(hwnd);
            break;
        case WM_SETFONT:
            if (d) d->Font = reinterpret_cast<HFONT>(wp);
            if (LOWORD(lp)) InvalidateRect(hwnd, nullptr, FALSE);
            return 0;
        case WM_GETFONT:
            return reinterpret_cast<LRESULT>(d ? d->Font : nullptr);
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT:
            if (d) {
                BufferedPaint(hwnd, [&](HDC dc, const RECT &rc) { PaintButton(hwnd, d, dc, rc); });
                return 0;
            }
            break;
        case WM_SETTEXT:
        case WM_ENABLE:
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
        case WM_UPDATEUISTATE: {
            LRESULT r = DefWindowProcW(hwnd, msg, wp, lp);
            InvalidateRect(hwnd, nullptr, FALSE);
            return r;
        }
        case WM_GETDLGCODE:
            return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
        case WM_MOUSEMOVE:
            if (d) {
                POINT p = {static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
                RECT rc;
                GetClientRect(hwnd, &rc);
                bool inside = PtInRect(&rc, p) != 0;
                if (inside != d->Hover) {
                    d->Hover = inside;
                    InvalidateRect(hwnd, nullptr, FALSE);
                }
                if (!d->Tracking) {
                    TRACKMOUSEEVENT t = {sizeof(t), TME_LEAVE, hwnd, 0};
                    d->Tracking = TrackMouseEvent(&t) != 0;
                }
            }
            return 0;
        case WM_MOUSELEAVE:
            if (d) {
                d->Tracking = false;
                d->Hover = false;
                InvalidateRect(hwnd, nullptr, FALSE);
            }
            return 0;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
            if (d) {
                d->Pressed = true;
                d->Hover = true;
                SetCapture(hwnd);
                InvalidateRect(hwnd, nullptr, FALSE);
            }
            return 0;
        case WM_LBUTTONUP:
            if (d && d->Pressed) {
                d->Pressed = false;
                ReleaseCapture();
                POINT p = {static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
                RECT rc;
                GetClientRect(hwnd, &rc);
                InvalidateRect(hwnd, nullptr, FALSE);
                if (PtInRect(&rc, p)) NotifyClick(hwnd);
            }
            return 0;
        case WM_CAPTURECHANGED:
            if (d && d->Pressed) {
                d->Pressed = false;
                InvalidateRect(hwnd, nullptr, FALSE);
            }
            return 0;
        case WM_KEYDOWN:
            if (wp == VK_SPACE || wp == VK_RETURN) {
                NotifyClick(hwnd);
                return 0;
            }
            break;
        case BM_CLICK:
            NotifyClick(hwnd);
            return 0;
        }
    } catch (...) {
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CALLBACK PaintProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    try {
        auto *d = reinterpret_cast<TPaintData *>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        switch (msg) {
        case WM_NCCREATE:
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new TPaintData));
            break;
        case WM_NCDESTROY:
            delete d;
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            ForgetControlMeta(hwnd);
            break;
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT:
            BufferedPaint(hwnd, [&](HDC dc, const RECT &rc) {
                PaintParentBackground(hwnd, dc);
                if (d && d->Painter) d->Painter(dc, rc);
            });
            return 0;
        case WM_NCHITTEST:
            // Presses on a picture belong to what lies beneath (the window's
            // drag area, a panel).
            return HTTRANSPARENT;
        }
    } catch (...) {
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CALLBACK PanelProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    try {
        auto *d = reinterpret_cast<TPanelData *>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (d && d->Handler && msg != WM_NCDESTROY) {
            bool handled = false;
            LRESULT r = d->Handler(hwnd, msg, wp, lp, handled);
            if (handled) return r;
        }
        switch (msg) {
        case WM_NCCREATE: {
            auto *cs = reinterpret_cast<CREATESTRUCTW *>(lp);
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
            break;
        }
        case WM_NCDESTROY:
            delete d;
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            break;
        case WM_ERASEBKGND:
            if (d) {
                RECT rc;
                GetClientRect(hwnd, &rc);
                HDC dc = reinterpret_cast<HDC>(wp);
                FillRect(dc, &rc, BrushOf(d->Back));
                if (d->Painter) d->Painter(dc, rc);
                return 1;
            }
            break;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN: {
            HDC dc = reinterpret_cast<HDC>(wp);
            TControlMeta *m = ControlMeta(reinterpret_cast<HWND>(lp));
            COLORREF back = m ? m->Back : (d ? d->Back : RGB(255, 255, 255));
            SetTextColor(dc, m ? m->Color : RGB(40, 40, 40));
            SetBkColor(dc, back);
            return reinterpret_cast<LRESULT>(BrushOf(back));
        }
        case WM_COMMAND:
        case WM_NOTIFY:
            // Unhandled: up to the window, which may know what to do.
            return SendMessageW(GetParent(hwnd), msg, wp, lp);
        }
    } catch (...) {
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

int CALLBACK CollectFace(const LOGFONTW *lf, const TEXTMETRICW *, DWORD, LPARAM lp)
{
    auto *faces = reinterpret_cast<std::vector<std::wstring> *>(lp);
    if (lf->lfFaceName[0] != L'@') faces->push_back(lf->lfFaceName);
    return 1;
}

std::wstring FaceFor(const std::string &language)
{
    if (language != "ja") return L"Tahoma";
    std::vector<std::wstring> faces;
    LOGFONTW lf = {};
    lf.lfCharSet = SHIFTJIS_CHARSET;
    HDC dc = GetDC(nullptr);
    EnumFontFamiliesExW(dc, &lf, CollectFace, reinterpret_cast<LPARAM>(&faces), 0);
    ReleaseDC(nullptr, dc);
    for (const wchar_t *want : {L"Meiryo UI", L"MS UI Gothic", L"Meiryo", L"MS PGothic", L"IPAPGothic", L"IPAGothic"})
        for (const std::wstring &f : faces)
            if (_wcsicmp(f.c_str(), want) == 0) return f;
    return faces.empty() ? L"Tahoma" : faces.front();
}

HFONT Fonts[5];

}  // namespace

bool RegisterControlClasses(HINSTANCE instance)
{
    static bool done = false;
    if (done) return true;
    WNDCLASSEXW wc = {sizeof(wc)};
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = ButtonProc;
    wc.lpszClassName = ButtonClass;
    if (!RegisterClassExW(&wc)) return false;
    wc.style = 0;
    wc.lpfnWndProc = PaintProc;
    wc.lpszClassName = PaintClass;
    if (!RegisterClassExW(&wc)) return false;
    wc.lpfnWndProc = PanelProc;
    wc.lpszClassName = PanelClass;
    if (!RegisterClassExW(&wc)) return false;
    done = true;
    return true;
}

HFONT UiFont(TFontKind kind)
{
    // A new language may need another face. Fonts of the old one stay alive:
    // windows made before the change may still be drawing with them.
    static std::string language = CurrentLanguage();
    if (language != CurrentLanguage()) {
        language = CurrentLanguage();
        for (HFONT &f : Fonts) f = nullptr;
    }
    int i = static_cast<int>(kind);
    if (Fonts[i]) return Fonts[i];
    static const struct { int Height, Weight; } looks[] = {{-12, FW_NORMAL}, {-12, FW_BOLD}, {-19, FW_BOLD}, {-16, FW_BOLD}, {-11, FW_NORMAL}};
    std::wstring face = FaceFor(CurrentLanguage());
    Fonts[i] = CreateFontW(looks[i].Height, 0, 0, 0, looks[i].Weight, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS, face.c_str());
    return Fonts[i];
}

void ResetUiFonts()
{
    for (HFONT &f : Fonts) {
        if (f) DeleteObject(f);
        f = nullptr;
    }
}

TControlMeta *ControlMeta(HWND control)
{
    auto it = Metas().find(control);
    return it == Metas().end() ? nullptr : &it->second;
}

void SetControlMeta(HWND control, const TControlMeta &meta) { Metas()[control] = meta; }
void ForgetControlMeta(HWND control) { Metas().erase(control); }

TButtonLook *ButtonLook(HWND button)
{
    wchar_t cls[32] = {};
    GetClassNameW(button, cls, 32);
    if (wcscmp(cls, ButtonClass) != 0) return nullptr;
    auto *d = reinterpret_cast<TButtonData *>(GetWindowLongPtrW(button, GWLP_USERDATA));
    return d ? &d->Look : nullptr;
}

HWND CreateImageButton(HWND parent, int id, const std::wstring &caption, int x, int y, int w, int h,
                       const TButtonLook &look)
{
    HWND b = CreateWindowExW(0, ButtonClass, caption.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP, x, y, w, h, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    if (TButtonLook *l = b ? ButtonLook(b) : nullptr) *l = look;
    return b;
}

HWND CreatePaintBox(HWND parent, int id, int x, int y, int w, int h, TPainter painter, const std::wstring &text)
{
    HWND b = CreateWindowExW(0, PaintClass, text.c_str(), WS_CHILD | WS_VISIBLE, x, y, w, h, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    if (b) SetPainter(b, std::move(painter));
    return b;
}

void SetPainter(HWND box, TPainter painter)
{
    auto *d = reinterpret_cast<TPaintData *>(GetWindowLongPtrW(box, GWLP_USERDATA));
    if (d) d->Painter = std::move(painter);
    InvalidateRect(box, nullptr, FALSE);
}

HWND CreatePanel(HWND parent, int x, int y, int w, int h, COLORREF back, TPanelHandler handler)
{
    auto *d = new TPanelData{back, std::move(handler), nullptr};
    HWND p = CreateWindowExW(WS_EX_CONTROLPARENT, PanelClass, L"", WS_CHILD | WS_CLIPCHILDREN, x, y, w, h, parent,
                             nullptr, GetModuleHandleW(nullptr), d);
    if (!p) delete d;
    return p;
}

void SetPanelPainter(HWND panel, TPainter painter)
{
    auto *d = reinterpret_cast<TPanelData *>(GetWindowLongPtrW(panel, GWLP_USERDATA));
    if (d) d->Painter = std::move(painter);
}

void PaintParentBackground(HWND child, HDC dc)
{
    HWND parent = GetParent(child);
    if (!parent) return;
    POINT origin = {0, 0};
    MapWindowPoints(child, parent, &origin, 1);
    POINT old;
    SetViewportOrgEx(dc, -origin.x, -origin.y, &old);
    SendMessageW(parent, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    SetViewportOrgEx(dc, old.x, old.y, nullptr);
}

void FitButtonWidth(HWND button, int extra, int minimum, int maximum)
{
    if (!button) return;
    std::wstring caption = GetText(button);
    HDC dc = GetDC(button);
    if (!dc) return;
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(button, WM_GETFONT, 0, 0));
    HGDIOBJ old = SelectObject(dc, font ? font : UiFont(TFontKind::Normal));
    RECT r = {0, 0, 2000, 2000};
    int ok = DrawTextW(dc, caption.c_str(), -1, &r, 0x0C25);
    SelectObject(dc, old);
    ReleaseDC(button, dc);
    if (!ok) return;
    int w = (r.right - r.left) + extra;
    if (w < minimum) w = minimum;
    if (maximum > 0 && w > maximum) w = maximum;
    RECT wr;
    GetWindowRect(button, &wr);
    MapWindowPoints(nullptr, GetParent(button), reinterpret_cast<POINT *>(&wr), 2);
    SetWindowPos(button, nullptr, wr.right - w, wr.top, w, wr.bottom - wr.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TranslateForm(const std::string &formName, const std::vector<HWND> &controls)
{
    try {
        for (HWND c : controls) {
            TControlMeta *m = ControlMeta(c);
            if (!m || m->Name.empty() || m->Tag == 999) continue;
            std::string key = formName + "_" + m->Name;
            // The design-time text stays the default, also after a change of
            // language (a "Key=Default" text keeps naming its key).
            static std::map<HWND, std::wstring> design;
            auto it = design.find(c);
            if (it == design.end()) it = design.emplace(c, GetText(c)).first;
            if (!it->second.empty()) SetText(c, TranslateText(key, it->second));
            if (!m->Hint.empty()) m->Hint = TranslateText(key + "_Hint", m->Hint);
        }
    } catch (...) {
    }
}

void SetText(HWND window, const std::wstring &text)
{
    if (!window) return;
    if (GetText(window) != text) SetWindowTextW(window, text.c_str());
}

std::wstring GetText(HWND window)
{
    int n = GetWindowTextLengthW(window);
    std::wstring s(n + 1, L'\0');
    n = GetWindowTextW(window, s.data(), n + 1);
    s.resize(n > 0 ? n : 0);
    return s;
}
