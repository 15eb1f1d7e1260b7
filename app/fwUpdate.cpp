#include "app/fwUpdate.h"

#include "app/fwAppBody.h"
#include "backup/ArchiveU.h"
#include "config/fwCommon.h"
#include "config/fwNames.h"
#include "config/fwSettings.h"
#include "config/fwTranslate.h"
#include "engine/fwTools.h"
#include "platform/DayNumberU.h"
#include "platform/DirectoryU.h"
#include "platform/EventU.h"
#include "platform/FileResourceU.h"
#include "platform/FileU.h"
#include "platform/InetU.h"
#include "platform/ProcessU.h"
#include "platform/Sha256U.h"
#include "platform/StreamU.h"
#include "platform/TextU.h"
#include "online/HTTPU.h"
#include "platform/XMLU.h"
#include "tovu_version.h"

#include <commctrl.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>

namespace {

std::mutex PlacesLock;
std::string TestProgramFolder, TestUpdateFolder;
std::atomic<HWND> OwnerWindow{nullptr};
// One update at a time. The window alone cannot tell: a silent update runs
// with it hidden.
std::atomic<bool> UpdateRunning{false};

std::string ProgramPlace()
{
    std::lock_guard<std::mutex> hold(PlacesLock);
    return TestProgramFolder.empty() ? ProgramFolder() : TestProgramFolder;
}

std::string UpdatePlace()
{
    std::lock_guard<std::mutex> hold(PlacesLock);
    return TestUpdateFolder.empty() ? UpdateFolder() : TestUpdateFolder;
}

// Delphi's ChangeFileExt: "Tovu.exe" becomes "Tovu.old", as the complete-update
// role and the start-up clean-up expect.
std::string ChangeExt(const std::string &path, const std::string &ext)
{
    size_t dot = path.find_last_of(".\\:");
    if (dot == std::string::npos || path[dot] != '.') return path + ext;
    return path.substr(0, dot) + ext;
}

std::string BaseName(const std::string &path)
{
    size_t slash = path.find_last_of("\\/:");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsHex64(const std::string &text)
{
    if (text.size() != 64) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

bool StartsWithNoCase(const std::string &text, const std::string &prefix)
{
    return text.size() > prefix.size() && AsciiLower(text.substr(0, prefix.size())) == prefix;
}

std::wstring Wide(const std::string &text)
{
    if (text.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring out(size_t(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), out.data(), n);
    return out;
}

// ---- the transfer ----------------------------------------------------------

struct TTransfer {
    std::string Address;
    TStreamWriter *Output = nullptr;
    // Called as the body arrives; false asks to stop.
    std::function<bool(int64_t received, int64_t total)> Progress;
    // Bytes accepted at most; 0 is no limit.
    int64_t MaxSize = 0;
    int Status = 0;
    int ErrorCode = 0;
    int64_t Total = 0;
};

// One GET through the HTTP client. The check is a GET as well: the client's
// FetchText would turn the query into a form POST.
bool RunTransfer(TTransfer &transfer)
{
    THTTPGet request;
    request.SetURL(transfer.Address);
    request.Output = transfer.Output;
    request.Settings.MaxBodySize = transfer.MaxSize;
    request.OnProgress = [&transfer](THTTPGet &sender, int32_t position, int32_t total) {
        transfer.Total = total;
        if (transfer.Progress && !transfer.Progress(position, total)) sender.Abort(0);
    };
    const bool ok = request.Execute();
    transfer.Status = request.StatusCode;
    transfer.ErrorCode = request.ErrorCode;
    return ok && !request.Aborted;
}

bool FetchAnswer(const std::string &address, std::string &answer)
{
    TMemoryStreamWriter body;
    TTransfer transfer;
    transfer.Address = address;
    transfer.Output = &body;
    transfer.MaxSize = 1024 * 1024;
    const bool ok = RunTransfer(transfer) && transfer.Status == 200;
    answer = ok ? body.Data() : std::string();
    return ok;
}

// ---- user interface calls from the threads ---------------------------------

int AskOrTell(const std::wstring &text, UINT flags, HWND owner)
{
    int answer = 0;
    Synchronize([&] { answer = MessageBoxW(owner, text.c_str(), L"Tovu", flags); });
    return answer;
}

void OnForm(const std::function<void(TFormUpdate &)> &fn)
{
    Synchronize([&] { fn(UpdateForm()); });
}

void RestartTrayProgram()
{
    if (!FindWindowA(TrayWindowClass, nullptr)) return;
    {
        TGlobalEvent stop(EventStopTray);
        stop.Signal();
        Sleep(100);
    }
    Sleep(1000);
    const std::string place = ProgramPlace();
    if (place == ProgramFolder()) {
        StartTrayProgram();
    } else {
        const std::wstring tray = Wide(place + TrayExeName);
        if (FileExists(place + TrayExeName)) RunAsDesktopUser(tray, L"\"" + tray + L"\"");
    }
}

// ---- the check --------------------------------------------------------------

class TFWCheckThread : public TThread {
public:
    explicit TFWCheckThread(bool manual) : FManual(manual) {}

protected:
    void Execute() override
    {
        TUpdateOffer offer;
        if (RunUpdateCheck(FManual, offer)) new TFWUpdateThread(offer, true, offer.Silent, FManual);
    }

private:
    bool FManual;
};

}  // namespace

// ---- rules ------------------------------------------------------------------

std::string UpdateCheckAddress()
{
    std::string address;
    std::vector<std::string> lines;
    if (!ReadSettingText(HKEY_LOCAL_MACHINE, "UPDATE_URL", address)) {
        address.clear();
        if (LoadTextResource("CONFIG", lines))
            for (const std::string &line : lines)
                if (AsciiUpper(line.substr(0, 11)) == "UPDATE_URL=") {
                    address = line.substr(11);
                    break;
                }
    }
    address = TrimA(address);
    if (address.empty()) return std::string();
    return ExpandUrl(address) + "&ver=" + TOVU_VERSION_TEXT;
}

std::string UpdateFileName(const std::string &address)
{
    std::string name = URLFileName(TrimA(address));
    if (name.find_first_of("\\/%") != std::string::npos || !IsSafeArchiveName(name)) return std::string();
    return name;
}

bool ParseUpdateAnswer(const std::string &answer, bool manual, bool checkSetting, TUpdateOffer &offer)
{
    offer = TUpdateOffer();
    TXML xml;
    xml.LoadFromString(answer);
    TXMLTag *result = xml.Root()->FindFirst("Result");
    if (!result || result->GetAttr("Status") != "OK" || !(manual || checkSetting)) return false;
    TXMLTag *vers = result->FindFirst("Vers");
    std::vector<std::string> names;
    for (TXMLTag *ver = vers ? vers->FindFirst("Ver") : nullptr; ver; ver = vers->FindNext()) {
        TUpdateFile file;
        file.Entry = ver->GetAttr("ENT");
        file.Address = TrimA(ver->GetAttr("URL"));
        file.Sha256 = AsciiLower(TrimA(ver->GetAttr("SHA256")));
        const std::string size = TrimA(ver->GetAttr("Size"));
        bool sizeOk = true;
        if (ver->AttrIndex("Size") >= 0) {
            sizeOk = !size.empty() && size.size() < 16 && size.find_first_not_of("0123456789") == std::string::npos;
            if (sizeOk) file.Size = std::stoll(size);
        }
        const std::string name = AsciiUpper(UpdateFileName(file.Address));
        const bool absolute = StartsWithNoCase(file.Address, "http://") || StartsWithNoCase(file.Address, "https://");
        bool duplicate = false;
        for (const std::string &n : names) duplicate = duplicate || n == name;
        if (!IsHex64(file.Sha256) || !sizeOk || !absolute || name.empty() || duplicate) {
            offer = TUpdateOffer();
            return false;
        }
        names.push_back(name);
        offer.Files.push_back(file);
    }
    if (!offer.Files.empty())
        if (TXMLTag *silent = result->FindFirst("Silent")) offer.Silent = TrimA(silent->GetValue()) == "1";
    return true;
}

bool DailyCheckDue(bool known, double last, double now) { return !known || std::fabs(now - last) >= 1.0; }

bool AutomaticUpdateDue(bool known, double last, double now) { return !known || std::fabs(now - last) >= 3.0; }

std::wstring UpdateTimeText(int64_t seconds)
{
    if (seconds < 0) seconds = 0;
    const int64_t h = seconds / 3600, m = (seconds % 3600) / 60;
    std::wstring text;
    if (h > 0) text += std::to_wstring(h) + L" h ";
    if (m > 0) text += std::to_wstring(m) + L" min ";
    if (h == 0) text += std::to_wstring(seconds % 60) + L" sec";
    return text;
}

bool DownloadMatches(const std::string &path, const TUpdateFile &file)
{
    if (!FileExists(path)) return false;
    if (file.Size >= 0 && FileSize(path) != file.Size) return false;
    std::string digest;
    return FileSha256Hex(path, digest) && !file.Sha256.empty() && digest == file.Sha256;
}

void SetUpdateOwnerWindow(HWND owner) { OwnerWindow = owner; }

void SetUpdatePlacesForTest(const std::string &programFolder, const std::string &updateFolder)
{
    std::lock_guard<std::mutex> hold(PlacesLock);
    TestProgramFolder = programFolder;
    TestUpdateFolder = updateFolder;
}

// ---- installing -------------------------------------------------------------

namespace {

struct TPlaced {
    std::string Target;  // the file now in the program folder (or its ".new")
    std::string Old;     // what was there before, renamed; empty when nothing was
    bool AsNew = false;
};

// Copy of the source onto target; true when target exists afterwards. No
// Everyone grant: the program folder's own access list decides who may
// replace what an elevated program runs.
bool CopyInPlace(const std::string &source, const std::string &target)
{
    CopyFileEx(source, target, false, true);
    if (!FileExists(target)) CopyFileEx(source, target, false, true);
    return FileExists(target);
}

void PutBack(std::vector<TPlaced> &placed)
{
    for (auto it = placed.rbegin(); it != placed.rend(); ++it) {
        DeleteFileForce(it->Target);
        if (!it->Old.empty() && !it->AsNew && FileExists(it->Old))
            if (!MoveFileA(it->Old.c_str(), it->Target.c_str())) CopyFileA(it->Old.c_str(), it->Target.c_str(), TRUE);
    }
}

}  // namespace

bool InstallDownloads(const std::vector<std::string> &downloads, const std::string &updateFolder,
                      const std::string &programFolder, bool &updateReady, const std::function<void()> &nextFile)
{
    std::vector<std::string> sources;   // files to move, full paths
    std::vector<std::string> unpacked;  // cabinet entries written to the update folder
    bool ok = true;

    // Everything is unpacked before the first file is moved, so that a
    // cabinet that does not unpack leaves the program folder untouched.
    for (const std::string &path : downloads) {
        if (!FileExists(path)) continue;
        if (AsciiLower(path.substr(ChangeExt(path, "").size())) != ".cab") {
            sources.push_back(path);
            continue;
        }
        TArchive archive(path);
        std::vector<std::string> names;
        if (!archive.SetArchiveType(ArchiveTypeCAB) || !archive.LoadArchiveContents(&names) ||
            !archive.DecompressToDir(updateFolder, "", false)) {
            for (const std::string &name : names) unpacked.push_back(updateFolder + name);
            ok = false;
            break;
        }
        for (const std::string &name : names) {
            const std::string trimmed = TrimA(name);
            if (trimmed.empty()) continue;
            const std::string full = trimmed.find(":\\") == std::string::npos ? updateFolder + trimmed : trimmed;
            unpacked.push_back(full);
            sources.push_back(full);
        }
    }

    std::vector<TPlaced> placed;
    bool anyNew = false;
    for (size_t i = 0; ok && i < sources.size(); ++i) {
        const std::string &source = sources[i];
        if (!FileExists(source)) continue;
        TPlaced p;
        p.Target = programFolder + BaseName(source);
        const std::string old = ChangeExt(p.Target, ".old");
        if (FileExists(p.Target)) {
            DeleteFileForce(old);
            if (MoveFileA(p.Target.c_str(), old.c_str())) p.Old = old;
            Sleep(200);
        }
        if (FileExists(p.Target)) {
            // In use and not movable: the complete-update role swaps it in.
            p.Target = ChangeExt(p.Target, ".new");
            p.AsNew = true;
            DeleteFileForce(p.Target);
        }
        if (!CopyInPlace(source, p.Target)) {
            // Nothing half-done stays: this file and every earlier one go
            // back to what they were.
            if (!p.Old.empty() && !p.AsNew) CopyFileA(p.Old.c_str(), p.Target.c_str(), TRUE);
            PutBack(placed);
            ok = false;
            break;
        }
        anyNew = anyNew || p.AsNew;
        placed.push_back(p);
        DeleteFileForce(source);
        if (nextFile && i + 1 < sources.size()) nextFile();
    }
    if (ok) {
        // The running program's old file cannot go yet; the next start
        // removes it.
        for (const TPlaced &p : placed)
            if (!p.Old.empty()) DeleteFileForce(p.Old);
        if (anyNew) updateReady = true;
    }
    for (const std::string &path : unpacked) DeleteFileForce(path);
    for (const std::string &path : downloads) DeleteFileForce(path);
    return ok;
}

// ---- the threads ------------------------------------------------------------

TFWDownload::TFWDownload(const std::string &address, TFormUpdate *window, const std::string &target,
                         int64_t maxSize)
    : Address(address), Target(target), Window(window), MaxSize(maxSize)
{
    Start();
}

TFWDownload::~TFWDownload()
{
    Terminate();
    WaitFor();
}

void TFWDownload::Execute()
{
    bool success = false;
    try {
        if (FileExists(Target)) DeleteFileForce(Target);
        TFileWriter writer;
        if (writer.Open(Target)) {
            TTransfer transfer;
            transfer.Address = Address;
            transfer.Output = &writer;
            transfer.MaxSize = MaxSize;
            transfer.Progress = [this](int64_t received, int64_t total) {
                if (Window) {
                    Window->Received = received;
                    Window->Total = total;
                    Synchronize([this] { Window->ShowProgress(); });
                }
                return !(Terminated() || (Window && Window->Cancelled));
            };
            const bool transferred = RunTransfer(transfer);
            writer.Close();
            if (!transferred) DeleteFileForce(Target);
            if (Terminated() || (Window && Window->Cancelled)) {
                WasCancelled = true;
                DeleteFileForce(Target);
            } else {
                if (Window) {
                    Window->Received = Window->Total.load();
                    Synchronize([this] { Window->ShowProgress(); });
                }
                const int64_t total = Window ? Window->Total.load() : transfer.Total;
                success = transferred && transfer.ErrorCode == 0 && transfer.Status == 200 &&
                          FileSize(Target) == total;
            }
        }
        if (!success && !WasCancelled) {
            DeleteFileForce(Target);
            if (Window)
                Synchronize([this] {
                    const bool visible = Window->Visible();
                    Window->Hide();
                    if (visible)
                        MessageBoxW(nullptr, Translate("UpdateFailed", L"Download failed!").c_str(), L"Tovu",
                                    MB_OK | MB_ICONERROR);
                });
        } else if (success && Window) {
            Synchronize([this] { Window->ShowDownloaded(); });
        }
    } catch (...) {
        success = false;
    }
    Succeeded = success;
    Done = true;
}

TFWUpdateThread::TFWUpdateThread(const TUpdateOffer &offer, bool freeOnTerminate, bool silent, bool manual)
    : Files(offer.Files), Manual(manual), Silent(silent)
{
    SetFreeOnTerminate(freeOnTerminate);
    if (!Start() && freeOnTerminate) {
        // Not running, so nobody else will free it.
        SetFreeOnTerminate(false);
    }
}

TFWUpdateThread::~TFWUpdateThread()
{
    if (!FreeOnTerminate()) {
        Terminate();
        WaitFor();
    }
}

void TFWUpdateThread::Execute()
{
    const double now = DayNumberNow();
    if (!Manual) {
        double last = 0;
        const bool known = ReadSettingDate(HKEY_CURRENT_USER, "LAST_UPDATE", last);
        if (!AutomaticUpdateDue(known, last, now)) return;
    }
    // Without a user-interface thread to ask and show on (it has not started
    // its loop yet, or has ended) the update waits for the next check rather
    // than spending the three-day allowance on nothing.
    bool visible = false;
    if (!Synchronize([&] { visible = UpdateForm().Visible(); }) || visible) return;
    bool expected = false;
    if (!UpdateRunning.compare_exchange_strong(expected, true)) return;
    struct TRelease {
        ~TRelease() { UpdateRunning = false; }
    } release;

    const HWND owner = OwnerWindow;
    if (Files.empty()) {
        if (Manual)
            AskOrTell(Translate("UpdateNoVersion", L"There is no new version available."),
                      MB_OK | MB_ICONINFORMATION, owner);
        return;
    }
    WriteSettingDate(HKEY_CURRENT_USER, "LAST_UPDATE", now);
    const bool ask = Manual || !Silent;
    if (ask) {
        const std::wstring text =
            Translate("UpdateNewVersion1", L"A new version of %BRAND% has been released.") + L" " +
            Translate("UpdateNewVersion2", L"Click \x201CYes\x201D to download a free upgrade.");
        if (AskOrTell(text, MB_YESNO | MB_ICONQUESTION, owner) != IDYES) return;
    }
    const int count = int(Files.size());
    OnForm([&](TFormUpdate &form) {
        form.Prepare(count);
        if (ask) form.Show();
    });
    std::vector<std::string> downloads;
    bool ok = true;
    const std::string updateFolder = UpdatePlace();
    ForceDirectories(updateFolder, true, true);
    TFormUpdate *form = nullptr;
    Synchronize([&] { form = &UpdateForm(); });
    for (int i = 0; i < count && ok && !Terminated(); ++i) {
        TUpdateFile &file = Files[size_t(i)];
        const std::string address = TrimA(file.Address);
        if (address.empty()) continue;
        const std::string name = UpdateFileName(address);
        const std::string target = updateFolder + name;
        if (name.empty()) {
            ok = false;
            break;
        }
        auto download = std::make_unique<TFWDownload>(address, form, target, file.Size > 0 ? file.Size : 0);
        while (!download->Done && !Terminated()) Sleep(50);
        if (!download->Done) download->Terminate();
        download->WaitFor();
        if (!download->Succeeded) {
            ok = false;
            break;
        }
        downloads.push_back(target);
        if (!DownloadMatches(target, file)) {
            // A file that is not the one announced is never installed; it is
            // reported like a failed download.
            Synchronize([&] {
                const bool shown = form->Visible();
                form->Hide();
                if (shown)
                    MessageBoxW(nullptr, Translate("UpdateFailed", L"Download failed!").c_str(), L"Tovu",
                                MB_OK | MB_ICONERROR);
            });
            ok = false;
            break;
        }
        file.LocalPath = target;
        if (i + 1 < count) OnForm([](TFormUpdate &f) { f.NextFile(); });
    }
    if (ok && !Terminated()) {
        OnForm([](TFormUpdate &f) { f.ShowInstalling(); });
        bool ready = false;
        const bool installed = InstallDownloads(downloads, updateFolder, ProgramPlace(), ready,
                                                [] { OnForm([](TFormUpdate &f) { f.NextFile(); }); });
        if (ready) SetUpdateReady();
        if (installed) RestartTrayProgram();
    } else {
        // A failed, cancelled or refused update leaves nothing behind.
        for (const std::string &path : downloads) DeleteFileForce(path);
    }
    OnForm([](TFormUpdate &f) { f.Hide(); });
}

bool RunUpdateCheck(bool manual, TUpdateOffer &offer)
{
    offer = TUpdateOffer();
    if (!manual) {
        double last = 0;
        const bool known = ReadSettingDate(HKEY_CURRENT_USER, "LAST_CHECK", last);
        const double now = DayNumberNow();
        if (!DailyCheckDue(known, last, now)) return false;
        WriteSettingDate(HKEY_CURRENT_USER, "LAST_CHECK", now);
    }
    std::string answer;
    FetchAnswer(UpdateCheckAddress(), answer);
    ParseUpdateAnswer(answer, manual, Settings().CheckForUpdates, offer);
    return manual || !offer.Files.empty();
}

void CheckForUpdates(bool manual)
{
    auto *thread = new TFWCheckThread(manual);
    thread->SetFreeOnTerminate(true);
    if (!thread->Start()) delete thread;
}

// ---- the progress window ----------------------------------------------------

namespace {

enum {
    IdAction = 101,
    IdBar = 102,
    IdTimeCaption = 103,
    IdTime = 104,
    IdRateCaption = 105,
    IdRate = 106,
    IdIndex = 107,
    IdIcon = 108,
};

const wchar_t FormClass[] = L"TFormUpdate";
const int ClientWidth = 464, ClientHeight = 186;

struct TControlRow {
    int Id;
    const wchar_t *Class;
    const char *Name;  // translation key: window name + control name
    const wchar_t *Text;
    DWORD Style;
    int X, Y, W, H;
};

// Room for the longer German and Japanese texts: the estimate gets two lines,
// captions a third of the width and values the rest.
const TControlRow Layout[] = {
    {IdIcon, L"STATIC", nullptr, L"", SS_ICON, 16, 16, 32, 32},
    {IdAction, L"STATIC", "UpdateDownloading", L"Downloading updates...", SS_LEFT | SS_NOPREFIX, 64, 16, 384, 20},
    {IdBar, PROGRESS_CLASSW, nullptr, L"", 0, 64, 42, 384, 18},
    {IdTimeCaption, L"STATIC", "FormUpdate_LabelTimeLeft", L"Estimated time left:", SS_LEFT, 64, 72, 136, 18},
    {IdTime, L"STATIC", nullptr, L"-", SS_LEFT | SS_NOPREFIX, 204, 72, 244, 34},
    {IdRateCaption, L"STATIC", "FormUpdate_LabelRate", L"Transfer rate:", SS_LEFT, 64, 110, 136, 18},
    {IdRate, L"STATIC", nullptr, L"-", SS_LEFT | SS_NOPREFIX, 204, 110, 244, 18},
    {IdIndex, L"STATIC", nullptr, L"0/0", SS_LEFT | SS_NOPREFIX, 64, 152, 120, 18},
    {IDCANCEL, L"BUTTON", "FormUpdate_ButtonCancel", L"Cancel", BS_PUSHBUTTON | WS_TABSTOP, 348, 146, 100, 28},
};

WNDPROC ButtonProc = nullptr;

// The window has no dialog manager of its own in the program's loop: Escape
// and Enter on the focused button are handled here.
LRESULT CALLBACK CancelButtonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_GETDLGCODE) return DLGC_WANTALLKEYS;
    if (message == WM_KEYDOWN && (wParam == VK_ESCAPE || wParam == VK_RETURN)) {
        SendMessageW(button, BM_CLICK, 0, 0);
        return 0;
    }
    return CallWindowProcW(ButtonProc, button, message, wParam, lParam);
}

BOOL CALLBACK FirstIcon(HMODULE module, LPCWSTR, LPWSTR name, LONG_PTR found)
{
    *reinterpret_cast<HICON *>(found) =
        static_cast<HICON>(LoadImageW(module, name, IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
    return FALSE;
}

std::wstring Format1(const wchar_t *pattern, double value)
{
    wchar_t buffer[64];
    swprintf(buffer, 64, pattern, value);
    return buffer;
}

}  // namespace

TFormUpdate::TFormUpdate() { Create(); }

TFormUpdate::~TFormUpdate()
{
    if (FWindow) DestroyWindow(FWindow);
    if (FFont) DeleteObject(FFont);
    if (FIcon) DestroyIcon(FIcon);
}

void TFormUpdate::Create()
{
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = FormClass;
    RegisterClassExW(&wc);

    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    RECT r{0, 0, ClientWidth, ClientHeight};
    AdjustWindowRectEx(&r, style, FALSE, WS_EX_DLGMODALFRAME);
    const int w = r.right - r.left, h = r.bottom - r.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    const std::wstring caption = Translate("UpdateFormCaption", L"%BRAND% Update Progress");
    FWindow = CreateWindowExW(WS_EX_DLGMODALFRAME, FormClass, caption.c_str(), style, x, y, w, h, nullptr, nullptr,
                              instance, this);
    if (!FWindow) return;

    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        FFont = CreateFontIndirectW(&metrics.lfMessageFont);
    EnumResourceNamesW(instance, reinterpret_cast<LPCWSTR>(RT_GROUP_ICON), FirstIcon,
                       reinterpret_cast<LONG_PTR>(&FIcon));
    for (const TControlRow &row : Layout) {
        const std::wstring text = row.Name ? Translate(row.Name, row.Text) : std::wstring(row.Text);
        HWND control = CreateWindowExW(0, row.Class, text.c_str(), WS_CHILD | WS_VISIBLE | row.Style, row.X, row.Y,
                                       row.W, row.H, FWindow, reinterpret_cast<HMENU>(INT_PTR(row.Id)), instance,
                                       nullptr);
        if (control && FFont) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);
    }
    if (FIcon) SendMessageW(Control(IdIcon), STM_SETICON, reinterpret_cast<WPARAM>(FIcon), 0);
    if (HWND cancel = Control(IDCANCEL))
        ButtonProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(cancel, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CancelButtonProc)));
}

HWND TFormUpdate::Control(int id) const { return FWindow ? GetDlgItem(FWindow, id) : nullptr; }

void TFormUpdate::SetText(int id, const std::wstring &text)
{
    if (HWND c = Control(id)) SetWindowTextW(c, text.c_str());
}

LRESULT CALLBACK TFormUpdate::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    try {
        if (message == WM_NCCREATE)
            SetWindowLongPtrW(window, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW *>(lParam)->lpCreateParams));
        auto *form = reinterpret_cast<TFormUpdate *>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (form && form->FWindow == window) return form->Handle(message, wParam, lParam);
    } catch (...) {
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT TFormUpdate::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            PostMessageW(FWindow, WM_CLOSE, 0, 0);
            return 0;
        }
        break;
    case WM_CLOSE:
        // Closing only hides: the download sees Cancelled at its next report.
        Cancelled = true;
        Hide();
        return 0;
    }
    return DefWindowProcW(FWindow, message, wParam, lParam);
}

void TFormUpdate::Prepare(int fileCount)
{
    SetText(IdAction, Translate("UpdateDownloading", L"Downloading updates..."));
    if (HWND bar = Control(IdBar)) {
        SetWindowLongPtrW(bar, GWL_STYLE, GetWindowLongPtrW(bar, GWL_STYLE) & ~LONG_PTR(PBS_MARQUEE));
        SendMessageW(bar, PBM_SETMARQUEE, FALSE, 0);
    }
    FileIndex = 0;
    FileCount = fileCount;
    Received = 0;
    Total = 0;
    FileStart = GetTickCount();
    LastRate = 0;
    Rate = 0;
    Cancelled = false;
    ShowProgress();
}

void TFormUpdate::NextFile()
{
    ++FileIndex;
    Received = 0;
    Total = 0;
    Rate = 0;
    FileStart = GetTickCount();
    Cancelled = false;
    ShowProgress();
}

void TFormUpdate::ShowProgress()
{
    Sleep(100);
    SetText(IdIndex, std::to_wstring(FileIndex + 1) + L"/" + std::to_wstring(FileCount));
    const int64_t total = Total, received = Received;
    const DWORD now = GetTickCount();
    HWND bar = Control(IdBar);
    if (total != 0) {
        if (now - LastRate > 1000 || Rate == 0) {
            const double seconds = (now - FileStart) / 1000.0;
            Rate = seconds > 0 ? received / seconds : 0;
            SecondsLeft = Rate > 0 ? int64_t(std::llround((total - received) / Rate)) : 0;
            LastRate = now;
        }
        if (Rate != 0) {
            std::wstring text = Translate("UpdateProgress", L"%s (%s of %s downloaded)");
            const std::wstring parts[] = {UpdateTimeText(SecondsLeft), Wide(SizeText(received)), Wide(SizeText(total))};
            // Each marker is looked for after the last filled one: a filled
            // part may itself hold "%s".
            size_t from = 0;
            for (const std::wstring &part : parts) {
                size_t at = text.find(L"%s", from);
                if (at == std::wstring::npos) break;
                text.replace(at, 2, part);
                from = at + part.size();
            }
            SetText(IdTime, text);
        } else {
            SetText(IdTime, L"-");
        }
        SetText(IdRate, Format1(L"%.1f kB/s", Rate / 1024));
        // The bar counts in kilobytes: its range is a 32-bit number.
        SendMessageW(bar, PBM_SETRANGE32, 0, LPARAM(total / 1024 + 1));
        SendMessageW(bar, PBM_SETPOS, WPARAM(received / 1024), 0);
    } else {
        FileStart = now;
        LastRate = 0;
        SetText(IdTime, L"-");
        SetText(IdRate, L"-");
        SendMessageW(bar, PBM_SETPOS, 0, 0);
    }
    if (FWindow) UpdateWindow(FWindow);
}

void TFormUpdate::ShowDownloaded()
{
    SetText(IdTime, L"-");
    SetText(IdRate, L"-");
}

void TFormUpdate::ShowInstalling()
{
    SetText(IdTime, L"-");
    SetText(IdRate, L"-");
    SetText(IdAction, Translate("UpdateInstalling", L"Installing updates..."));
    if (HWND bar = Control(IdBar)) {
        SetWindowLongPtrW(bar, GWL_STYLE, GetWindowLongPtrW(bar, GWL_STYLE) | PBS_MARQUEE);
        SendMessageW(bar, PBM_SETMARQUEE, TRUE, 60);
    }
    SetText(IdIndex, L"1/" + std::to_wstring(FileCount));
}

void TFormUpdate::Show()
{
    if (!FWindow) return;
    ShowWindow(FWindow, SW_SHOW);
    SetForegroundWindow(FWindow);
    if (HWND cancel = Control(IDCANCEL)) SetFocus(cancel);
}

void TFormUpdate::Hide()
{
    if (FWindow) ShowWindow(FWindow, SW_HIDE);
}

bool TFormUpdate::Visible() const { return FWindow && IsWindowVisible(FWindow); }

TFormUpdate &UpdateForm()
{
    // Lives as long as the process: threads may still report to it while the
    // program ends.
    static TFormUpdate *form = new TFormUpdate;
    return *form;
}
