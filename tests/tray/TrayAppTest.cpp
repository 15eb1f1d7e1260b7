// The tray program's objects in this process, with the shell's icon call
// recorded: the record the shell is handed, the menu, the answers to the main
// program's messages and how the loop ends.
#include "tray/fwTray.h"

#include "config/fwNames.h"
#include "config/fwSettings.h"
#include "config/fwTranslate.h"
#include "platform/EventU.h"
#include "platform/RegistryU.h"
#include "startup/fwStartup.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

struct TShellCall {
    DWORD Message;
    NOTIFYICONDATAW Data;
};
std::vector<TShellCall> ShellCalls;

BOOL WINAPI RecordNotifyIcon(DWORD message, PNOTIFYICONDATAW data)
{
    ShellCalls.push_back({message, *data});
    return TRUE;
}

int Beeps = 0;
UINT BeepType = 0xdeadbeef;
BOOL WINAPI RecordBeep(UINT type)
{
    ++Beeps;
    BeepType = type;
    return TRUE;
}

const char ScratchKey[] = "Software\\TovuTest\\Tray";

std::string TempFolder()
{
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    return std::string(temp) + "TovuTrayApp\\";
}

class TrayApp : public testing::Test {
protected:
    void SetUp() override
    {
        ShellCalls.clear();
        NotifyIconCall = RecordNotifyIcon;
        SetSettingsKeyPath(ScratchKey);
        SetTranslationPlaces(TempFolder(), std::string(ScratchKey) + "\\Lng");
        SetCurrentLanguage("en");
        ShowTray(true);
    }
    void TearDown() override
    {
        NotifyIconCall = Shell_NotifyIconW;
        TrayBeep = MessageBeep;
        SetTranslationPlaces("", "");
        SetSettingsKeyPath("");
        RegRemoveKeyTree(HKEY_LOCAL_MACHINE, ScratchKey, true);
        RegRemoveKeyTree(HKEY_CURRENT_USER, ScratchKey, true);
        LoadSettings();
    }
    static void ShowTray(bool on) { WriteSettingFlag(HKEY_LOCAL_MACHINE, "SHOW_TRAY", on); }
};

std::wstring MenuText(HMENU menu, int index)
{
    wchar_t text[256] = {};
    GetMenuStringW(menu, UINT(index), text, 256, MF_BYPOSITION);
    return text;
}

TEST_F(TrayApp, IconRecordIsTheShortLayoutAndTheBalloonSwitchesOnlyTheFlags)
{
    const HWND window = HWND(UINT_PTR(0x1234));
    const std::wstring longTip(200, L't');
    {
        TTrayIconW icon(window, false, longTip, WM_APP + 7, HICON(UINT_PTR(0x99)));
        const NOTIFYICONDATAW &d = icon.IconData();
        EXPECT_EQ(d.cbSize, 936u);
        EXPECT_EQ(d.hWnd, window);
        EXPECT_EQ(d.uID, 0x1234u);
        EXPECT_EQ(d.uFlags, UINT(NIF_MESSAGE | NIF_ICON | NIF_TIP));
        EXPECT_EQ(d.uCallbackMessage, UINT(WM_APP + 7));
        EXPECT_EQ(d.hIcon, HICON(UINT_PTR(0x99)));
        EXPECT_EQ(std::wstring(d.szTip), longTip.substr(0, 127));

        // Nothing is on the taskbar yet: neither removing nor a balloon may
        // reach the shell.
        icon.Hide();
        icon.ShowBalloon(L"title", L"text", 10000, 0);
        EXPECT_TRUE(ShellCalls.empty());

        icon.Show();
        icon.Show();
        ASSERT_EQ(ShellCalls.size(), 2u);
        EXPECT_EQ(ShellCalls[0].Message, DWORD(NIM_ADD));
        EXPECT_EQ(ShellCalls[1].Message, DWORD(NIM_MODIFY));
        EXPECT_EQ(ShellCalls[1].Data.uFlags, UINT(7));

        icon.ShowBalloon(std::wstring(100, L'T'), std::wstring(300, L'x'), 10000, NIIF_INFO);
        ASSERT_EQ(ShellCalls.size(), 3u);
        const NOTIFYICONDATAW &b = ShellCalls[2].Data;
        EXPECT_EQ(ShellCalls[2].Message, DWORD(NIM_MODIFY));
        EXPECT_EQ(b.cbSize, 936u);
        EXPECT_EQ(b.uFlags, UINT(NIF_INFO));
        EXPECT_EQ(std::wstring(b.szInfo), std::wstring(255, L'x'));
        EXPECT_EQ(std::wstring(b.szInfoTitle), std::wstring(63, L'T'));
        EXPECT_EQ(b.uTimeout, 10000u);
        EXPECT_EQ(b.dwInfoFlags, DWORD(NIIF_INFO));
        EXPECT_EQ(icon.IconData().uFlags, UINT(7));
    }
    ASSERT_EQ(ShellCalls.size(), 4u);
    EXPECT_EQ(ShellCalls[3].Message, DWORD(NIM_DELETE));
}

TEST_F(TrayApp, HiddenWindowMenuAndTheMainProgramsMessages)
{
    TAppClass app;
    ASSERT_NE(app.Window, nullptr);
    EXPECT_EQ(FindWindowA(TrayWindowClass, "TovuTray"), app.Window);
    EXPECT_FALSE(IsWindowVisible(app.Window));
    EXPECT_EQ(app.NotifyMessage, RegisterWindowMessageA("WM_TovuNotifyTray"));
    EXPECT_EQ(app.Tip, L"Tovu System Optimizer");
    EXPECT_EQ(app.TrayIcon->IconData().uCallbackMessage, app.NotifyMessage);
    EXPECT_FALSE(app.TrayIcon->Added());

    struct {
        UINT id;
        const wchar_t *en, *de;
    } const items[] = {{100, L"Open Tovu wizard", L"Tovu-Assistent öffnen"},
                       {101, L"Scan now", L"Jetzt prüfen"},
                       {0, L"", L""},
                       {102, L"Exit", L"Beenden"}};
    ASSERT_EQ(GetMenuItemCount(app.Menu), 4);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(GetMenuItemID(app.Menu, i), items[i].id);
        EXPECT_EQ(MenuText(app.Menu, i), items[i].en);
    }
    EXPECT_TRUE(GetMenuState(app.Menu, 2, MF_BYPOSITION) & MF_SEPARATOR);

    // A balloon needs the icon on the taskbar.
    SendMessageW(app.Window, app.ExitToTrayMessage, 0, 0);
    EXPECT_TRUE(ShellCalls.empty());
    app.TrayIcon->Show();
    SendMessageW(app.Window, app.ExitToTrayMessage, 0, 0);
    ASSERT_EQ(ShellCalls.size(), 2u);
    const NOTIFYICONDATAW &b = ShellCalls[1].Data;
    EXPECT_EQ(ShellCalls[1].Message, DWORD(NIM_MODIFY));
    EXPECT_EQ(b.uFlags, UINT(NIF_INFO));
    EXPECT_EQ(std::wstring(b.szInfo), L"Tovu System Optimizer");
    EXPECT_EQ(std::wstring(b.szInfoTitle), L"");
    EXPECT_EQ(b.uTimeout, 10000u);
    EXPECT_EQ(b.dwInfoFlags, 0u);

    // A refresh rebuilds the menu in the language now set and ends the
    // program only when the icon was switched off.
    SetCurrentLanguage("de");
    SendMessageW(app.Window, app.RefreshMessage, 0, 0);
    EXPECT_FALSE(app.Terminated);
    EXPECT_EQ(MenuText(app.Menu, 0), items[0].de);
    EXPECT_EQ(MenuText(app.Menu, 3), items[3].de);
    ShowTray(false);
    SendMessageW(app.Window, app.RefreshMessage, 0, 0);
    EXPECT_TRUE(app.Terminated);

    // The session ends even when the logoff may still be cancelled.
    app.Terminated = false;
    SendMessageW(app.Window, WM_ENDSESSION, FALSE, 0);
    EXPECT_TRUE(app.Terminated);

    // Mouse events that open nothing are still the icon's own.
    EXPECT_TRUE(app.HandleMessage(app.NotifyMessage, 0, WM_MOUSEMOVE));
    EXPECT_FALSE(app.HandleMessage(WM_USER + 5, 0, 0));
}

DWORD Elapsed(DWORD since)
{
    return GetTickCount() - since;
}

TEST_F(TrayApp, LoopEndsOnlyThroughTerminatedAndAlwaysTakesTheIconAway)
{
    // A stop left over from before, and WM_QUIT, do not end the loop; a
    // refresh with the icon switched off does, and the stop event does within
    // a few polls.
    {
        TGlobalEvent stale(EventStopTray);
        ASSERT_TRUE(stale.Signal());
        TAppClass app;
        ShowTray(false);
        PostQuitMessage(0);
        const HWND window = app.Window;
        const UINT refresh = app.RefreshMessage;
        std::thread later([=] {
            Sleep(400);
            PostMessageW(window, refresh, 0, 0);
        });
        const DWORD start = GetTickCount();
        app.Run();
        later.join();
        EXPECT_GE(Elapsed(start), 350u);
        ASSERT_EQ(ShellCalls.size(), 2u);
        EXPECT_EQ(ShellCalls[0].Message, DWORD(NIM_ADD));
        EXPECT_EQ(ShellCalls[1].Message, DWORD(NIM_DELETE));
        EXPECT_FALSE(app.TrayIcon->Added());
    }
    ShellCalls.clear();
    {
        TAppClass app;
        DWORD signalled = 0;
        std::thread stopper([&] {
            Sleep(300);
            TGlobalEvent stop(EventStopTray);
            signalled = GetTickCount();
            stop.Signal();
            Sleep(100);
        });
        app.Run();
        const DWORD ended = GetTickCount();
        stopper.join();
        ASSERT_NE(signalled, 0u);
        EXPECT_LT(ended - signalled, 500u);
        ASSERT_EQ(ShellCalls.size(), 2u);
        EXPECT_EQ(ShellCalls[1].Message, DWORD(NIM_DELETE));
        TGlobalEvent(EventStopTray).Unsignal();
    }
}

struct TBoxSearch {
    HWND owner, box;
};

BOOL CALLBACK FindOwnedBox(HWND window, LPARAM param)
{
    auto *search = reinterpret_cast<TBoxSearch *>(param);
    char cls[16] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (lstrcmpA(cls, "#32770") == 0 && GetWindow(window, GW_OWNER) == search->owner && IsWindowVisible(window)) {
        search->box = window;
        return FALSE;
    }
    return TRUE;
}

TEST_F(TrayApp, ExitQuestionDefaultsToNoAndYesTakesTheIconAwayAtOnce)
{
    TAppClass app;
    app.TrayIcon->Show();
    for (int answer : {IDNO, IDYES}) {
        SCOPED_TRACE(answer);
        LONG noStyle = 0;
        std::thread user([&] {
            TBoxSearch search{app.Window, nullptr};
            for (int i = 0; i < 500 && !search.box; ++i) {
                EnumThreadWindows(GetWindowThreadProcessId(app.Window, nullptr), FindOwnedBox, LPARAM(&search));
                if (!search.box) Sleep(20);
            }
            if (!search.box) return;
            noStyle = GetWindowLongA(GetDlgItem(search.box, IDNO), GWL_STYLE);
            SendMessageA(GetDlgItem(search.box, answer), BM_CLICK, 0, 0);
        });
        app.MenuCommand(TrayCmdExit);
        user.join();
        EXPECT_EQ(noStyle & BS_TYPEMASK, BS_DEFPUSHBUTTON);
        EXPECT_EQ(app.Terminated, answer == IDYES);
        EXPECT_EQ(app.TrayIcon->Added(), answer == IDNO);
        EXPECT_EQ(ShellCalls.back().Message, DWORD(answer == IDYES ? NIM_DELETE : NIM_ADD));
    }
}

TEST_F(TrayApp, SecondCopyOnlyBeeps)
{
    TrayBeep = RecordBeep;
    Beeps = 0;
    TAppClass first;
    int launches = 0;
    const TfwStartupLauncher saved = StartupLauncher;
    static int *counter;
    counter = &launches;
    StartupLauncher.Exec = [](const std::string &) { ++*counter; };
    StartupLauncher.Open = [](const std::string &) { ++*counter; };
    const HANDLE before = GetPropA(GetDesktopWindow(), StartupDoneProperty);
    EXPECT_EQ(TrayMain(), 0);
    StartupLauncher = saved;
    EXPECT_EQ(Beeps, 1);
    EXPECT_EQ(BeepType, 0u);
    EXPECT_EQ(launches, 0);
    EXPECT_TRUE(ShellCalls.empty());
    EXPECT_EQ(GetPropA(GetDesktopWindow(), StartupDoneProperty), before);
    EXPECT_TRUE(IsWindow(first.Window));
}

} // namespace
