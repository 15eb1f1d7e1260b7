// The real TovuTray.exe in a folder of its own, beside a stand-in main program
// that records how it was started, driven the way the shell, the user and the
// main program drive it: the icon's callback message, the menu's keys, the
// exit question's buttons, the registered messages and the stop event.
#include "config/fwCommon.h"
#include "config/fwNames.h"
#include "config/fwTranslate.h"
#include "platform/DirectoryU.h"
#include "platform/EventU.h"
#include "platform/FileU.h"
#include "platform/RegistryU.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace {

const char SettingsKey[] = "Software\\Tovu";

std::string OwnFolder()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string p = path;
    return p.substr(0, p.find_last_of('\\') + 1);
}

// The build folder: the test program lives in its "tests" folder.
std::string BuildFolder()
{
    std::string tests = OwnFolder();
    tests.pop_back();
    return tests.substr(0, tests.find_last_of('\\') + 1);
}

std::string TempFolder()
{
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    return temp;
}

std::vector<std::string> Lines(const std::string &file)
{
    std::string text;
    std::vector<std::string> lines;
    if (!ReadFileToString(file, text)) return lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find("\r\n", at);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

// The command lines the probes beside file recorded (every other line is the
// probe's view of the Run key).
std::vector<std::string> Starts(const std::string &file)
{
    std::vector<std::string> all = Lines(file), starts;
    for (size_t i = 0; i < all.size(); i += 2) starts.push_back(all[i]);
    return starts;
}

// What follows the program's own (quoted or bare) name.
std::string ArgumentsOf(const std::string &commandLine)
{
    size_t at = 0;
    if (!commandLine.empty() && commandLine[0] == '"')
        at = commandLine.find('"', 1) + 1;
    else
        at = commandLine.find(' ');
    if (at == std::string::npos || at > commandLine.size()) return {};
    const size_t first = commandLine.find_first_not_of(' ', at);
    return first == std::string::npos ? std::string() : commandLine.substr(first);
}

template <class Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(20);
    }
}

struct TFound {
    DWORD pid;
    const char *cls;
    std::vector<HWND> windows;
};

BOOL CALLBACK Collect(HWND window, LPARAM param)
{
    auto *found = reinterpret_cast<TFound *>(param);
    char cls[64] = {};
    GetClassNameA(window, cls, sizeof cls);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (lstrcmpiA(cls, found->cls) == 0 && (found->pid == 0 || pid == found->pid)) found->windows.push_back(window);
    return TRUE;
}

std::vector<HWND> TopWindows(const char *cls, DWORD pid = 0)
{
    TFound found{pid, cls, {}};
    EnumWindows(Collect, LPARAM(&found));
    return found.windows;
}

HWND VisibleWindow(const char *cls, DWORD pid)
{
    for (HWND w : TopWindows(cls, pid))
        if (IsWindowVisible(w)) return w;
    return nullptr;
}

// What the display shows once window has painted itself, as
// BUILD/screenshots/NAME.RUN.png. Wine starts the host's script without waiting
// for it, so the picture is waited for rather than the process.
// Runs in both prefixes and under two code pages would otherwise overwrite
// each other's pictures.
std::string RunName()
{
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    return std::string(wow64 ? "win64" : "win32") + (GetACP() == 932 ? ".ja" : "");
}

void Screenshot(HWND window, const std::string &shot)
{
    const std::string name = shot + "." + RunName();
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result);
    Sleep(500);
    const std::string png = BuildFolder() + "screenshots\\" + name + ".png";
    DeleteFileA(png.c_str());
    const std::string script = OwnFolder() + "screenshot.sh";
    // The window with a margin, so that a cut-off edge would show.
    RECT r = {};
    GetWindowRect(window, &r);
    const long margin = 16, left = r.left > margin ? r.left - margin : 0, top = r.top > margin ? r.top - margin : 0;
    std::string command = "\"" + script + "\" " + name + " " + std::to_string(r.right + margin - left) + "x" +
                          std::to_string(r.bottom + margin - top) + "+" + std::to_string(left) + "+" +
                          std::to_string(top);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(script.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        ADD_FAILURE() << "no screenshot " << name << ": " << GetLastError();
        return;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    // import writes the file whole at its end.
    if (!WaitUntil([&] { return FileSize(png) > 0; }, 30000)) ADD_FAILURE() << "no screenshot " << png;
    Sleep(300);
}

// How long this system's shell takes to remove a notification icon (Wine's
// answers a removal after about two seconds), measured on an icon of a hidden
// window of the test's own.
DWORD IconRemovalTime()
{
    HWND window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    NOTIFYICONDATAW data = {};
    data.cbSize = 936;
    data.hWnd = window;
    data.uID = 1;
    data.uFlags = NIF_TIP;
    Shell_NotifyIconW(NIM_ADD, &data);
    const DWORD start = GetTickCount();
    Shell_NotifyIconW(NIM_DELETE, &data);
    const DWORD cost = GetTickCount() - start;
    DestroyWindow(window);
    return cost;
}

std::wstring WindowText(HWND window)
{
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return text;
}

// A saved registry value of the settings key, put back by the destructor.
class TSavedValue {
public:
    TSavedValue(HKEY root, const char *name) : root_(root), name_(name)
    {
        had_ = RegReadStr(root_, SettingsKey, name_, value_);
    }
    ~TSavedValue()
    {
        if (had_)
            RegWriteStr(root_, SettingsKey, name_, value_);
        else
            RegRemoveValue(root_, SettingsKey, name_);
    }

private:
    HKEY root_;
    std::string name_, value_;
    bool had_;
};

// A file of the system the test replaces, put back by the destructor.
class TSavedFile {
public:
    explicit TSavedFile(const std::string &path) : path_(path) { had_ = ReadFileToString(path_, text_); }
    ~TSavedFile()
    {
        if (had_)
            Write(path_, text_);
        else if (FileExists(path_))
            DeleteFileForce(path_);
    }
    static bool Write(const std::string &path, const std::string &text)
    {
        HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f == INVALID_HANDLE_VALUE) return false;
        DWORD n = 0;
        const bool ok = WriteFile(f, text.data(), DWORD(text.size()), &n, nullptr) && n == text.size();
        CloseHandle(f);
        return ok;
    }

private:
    std::string path_, text_;
    bool had_;
};

class TTrayProcess {
public:
    explicit TTrayProcess(const std::string &exe)
    {
        std::string command = "\"" + exe + "\" /startup";
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        started_ = CreateProcessA(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_);
    }
    ~TTrayProcess()
    {
        if (!started_) return;
        if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(pi_.hProcess, 1);
            WaitForSingleObject(pi_.hProcess, 10000);
        }
        CloseHandle(pi_.hThread);
        CloseHandle(pi_.hProcess);
    }
    bool Started() const { return started_; }
    DWORD Pid() const { return pi_.dwProcessId; }
    bool Ended(DWORD timeoutMs) const { return started_ && WaitForSingleObject(pi_.hProcess, timeoutMs) == WAIT_OBJECT_0; }
    DWORD ExitCode() const
    {
        DWORD code = 0xdeadbeef;
        GetExitCodeProcess(pi_.hProcess, &code);
        return code;
    }
    // The tray window once the program has come as far as its loop.
    HWND Window(DWORD timeoutMs = 60000) const
    {
        HWND found = nullptr;
        WaitUntil(
            [&] {
                std::vector<HWND> w = TopWindows(TrayWindowClass, Pid());
                found = w.empty() ? nullptr : w[0];
                return found != nullptr || Ended(0);
            },
            timeoutMs);
        if (!found) return nullptr;
        // The loop has begun once the program holds the stop event and then
        // answers a message (adding the icon already answers sent messages,
        // and comes before the event).
        if (!WaitUntil(
                [] {
                    HANDLE h = OpenEventA(SYNCHRONIZE, FALSE, (std::string("Global\\") + EventStopTray).c_str());
                    if (h) CloseHandle(h);
                    return h != nullptr;
                },
                timeoutMs))
            return nullptr;
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutA(found, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &result)) return nullptr;
        return found;
    }

private:
    PROCESS_INFORMATION pi_ = {};
    bool started_ = false;
};

// Lays out the installation: the tray program, a stand-in main program and
// two stand-ins for postponed startup programs.
class TrayProcess : public testing::Test {
protected:
    static std::string Folder() { return TempFolder() + "TovuTrayRun\\"; }
    static std::string Tray() { return Folder() + "TovuTray.exe"; }
    static std::string MainLog() { return Folder() + "started.txt"; }
    static std::string LateLog() { return Folder() + "late\\started.txt"; }

    static void SetUpTestSuite()
    {
        DeleteFolder(Folder(), true);
        ForceDirectories(Folder() + "late\\", false, true);
        const std::string probe = OwnFolder() + "StartProbe.exe";
        CopyFileA((BuildFolder() + "TovuTray.exe").c_str(), Tray().c_str(), FALSE);
        CopyFileA(probe.c_str(), (Folder() + MainExeName).c_str(), FALSE);
        CopyFileA(probe.c_str(), (Folder() + "late\\first.exe").c_str(), FALSE);
        CopyFileA(probe.c_str(), (Folder() + "late\\second.exe").c_str(), FALSE);
    }
    static void TearDownTestSuite() { DeleteFolder(Folder(), true); }

    void SetUp() override
    {
        ASSERT_TRUE(FileExists(Tray())) << "TovuTray.exe is not beside the tests";
        ASSERT_TRUE(TopWindows(TrayWindowClass).empty()) << "a tray program is already running";
        DeleteFileA(MainLog().c_str());
        DeleteFileA(LateLog().c_str());
        TGlobalEvent(EventStopTray).Unsignal();
        // As after a logon in which the postponed programs were started.
        SetPropA(GetDesktopWindow(), "TovuStartup", HANDLE(1));
    }
    void TearDown() override { RemovePropA(GetDesktopWindow(), "TovuStartup"); }

    static void ShowTray(bool on) { RegWriteStr(HKEY_LOCAL_MACHINE, SettingsKey, "SHOW_TRAY", on ? "1" : "0"); }

    // Opens the icon's menu with a button press, walks down to the wanted
    // entry with the arrow key and takes it with Enter.
    static bool ChooseFromMenu(const TTrayProcess &tray, HWND window, UINT button, int downs,
                               const std::string &shot = {})
    {
        const UINT notify = RegisterWindowMessageA("WM_TovuNotifyTray");
        PostMessageA(window, notify, WPARAM(UINT_PTR(window)), button);
        HWND menu = nullptr;
        if (!WaitUntil([&] { return (menu = VisibleWindow("#32768", tray.Pid())) != nullptr; }, 20000))
            return false;
        for (int i = 0; i < downs; ++i) PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
        if (!shot.empty()) Screenshot(menu, shot);
        PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
        return WaitUntil([&] { return !IsWindowVisible(menu); }, 20000);
    }

    TSavedValue savedShowTray_{HKEY_LOCAL_MACHINE, "SHOW_TRAY"};
    TSavedValue savedLanguage_{HKEY_LOCAL_MACHINE, "LANGUAGE"};
    TSavedValue savedLngVer_{HKEY_LOCAL_MACHINE, "LngVer"};
};

TEST_F(TrayProcess, PostponedProgramsStartOncePerLogonInPriorityOrder)
{
    TSavedFile userList(UserDataFolder() + "startup.xml");
    TSavedFile commonList(CommonDataFolder() + "startup.xml");
    ForceDirectories(UserDataFolder(), false, true);
    if (FileExists(CommonDataFolder() + "startup.xml")) DeleteFileForce(CommonDataFolder() + "startup.xml");
    const std::string late = Folder() + "late\\";
    ASSERT_TRUE(TSavedFile::Write(UserDataFolder() + "startup.xml",
                                  "<startup>\r\n"
                                  "    <run app=\"Second\" name=\"TovuTestSecond\" value=\"#22" + late +
                                      "second.exe#22 /two\" priority=\"1\" />\r\n"
                                      "    <run app=\"First\" name=\"TovuTestFirst\" value=\"" + late +
                                      "first.exe /one\" priority=\"0\" />\r\n"
                                      "</startup>\r\n"));
    RemovePropA(GetDesktopWindow(), "TovuStartup");
    ShowTray(false);

    {
        // With the icon switched off the program ends after the runner and
        // never shows its window's icon.
        TTrayProcess tray(Tray());
        ASSERT_TRUE(tray.Started());
        ASSERT_TRUE(tray.Ended(90000));
        EXPECT_EQ(tray.ExitCode(), 0u);
    }
    const std::vector<std::string> starts = Starts(LateLog());
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[0], late + "first.exe /one");
    EXPECT_EQ(starts[1], "\"" + late + "second.exe\" /two");
    EXPECT_EQ(GetPropA(GetDesktopWindow(), "TovuStartup"), HANDLE(1));

    // Later starts in the same logon leave the postponed programs alone.
    ShowTray(true);
    {
        TTrayProcess tray(Tray());
        ASSERT_NE(tray.Window(), nullptr);
        EXPECT_FALSE(tray.Ended(3000));
    }
    EXPECT_EQ(Starts(LateLog()).size(), 2u);
}

TEST_F(TrayProcess, SecondStartEndsAndLeavesTheFirstAlone)
{
    ShowTray(true);
    TTrayProcess first(Tray());
    const HWND window = first.Window();
    ASSERT_NE(window, nullptr);
    {
        TTrayProcess second(Tray());
        ASSERT_TRUE(second.Ended(60000));
        EXPECT_EQ(second.ExitCode(), 0u);
    }
    EXPECT_EQ(TopWindows(TrayWindowClass).size(), 1u);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_FALSE(first.Ended(0));
}

TEST_F(TrayProcess, MenuAndDoubleClickOpenTheMainProgram)
{
    ShowTray(true);
    TTrayProcess tray(Tray());
    const HWND window = tray.Window();
    ASSERT_NE(window, nullptr);
    const UINT notify = RegisterWindowMessageA("WM_TovuNotifyTray");
    auto startedMain = [&](size_t count) { return WaitUntil([&] { return Starts(MainLog()).size() >= count; }, 60000); };

    ASSERT_TRUE(ChooseFromMenu(tray, window, WM_RBUTTONDOWN, 1, "tray-menu"));
    ASSERT_TRUE(startedMain(1));
    ASSERT_TRUE(ChooseFromMenu(tray, window, WM_LBUTTONDOWN, 2));
    ASSERT_TRUE(startedMain(2));
    PostMessageA(window, notify, WPARAM(UINT_PTR(window)), WM_LBUTTONDBLCLK);
    ASSERT_TRUE(startedMain(3));
    // A dismissed menu starts nothing.
    PostMessageA(window, notify, WPARAM(UINT_PTR(window)), WM_RBUTTONDOWN);
    HWND menu = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (menu = VisibleWindow("#32768", tray.Pid())) != nullptr; }, 20000));
    PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindowVisible(menu); }, 20000));

    Sleep(1000);
    const std::vector<std::string> starts = Starts(MainLog());
    ASSERT_EQ(starts.size(), 3u);
    const std::string want[] = {"", "/SCAN", ""};
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(starts[i]);
        EXPECT_NE(starts[i].find(MainExeName), std::string::npos);
        EXPECT_EQ(ArgumentsOf(starts[i]), want[i]);
    }
    EXPECT_FALSE(tray.Ended(0));
}

// The exit question in the languages the table carries; the tray program
// stands alone here, so its texts come from its own copy of the table.
TEST_F(TrayProcess, ExitQuestionNoKeepsRunningYesEnds)
{
    const std::string alone = TempFolder() + "TovuTrayAlone\\";
    ForceDirectories(alone, false, true);
    ASSERT_TRUE(CopyFileA(Tray().c_str(), (alone + "TovuTray.exe").c_str(), FALSE));
    ShowTray(true);
    for (const char *language : {"en", "de", "ja"}) {
        SCOPED_TRACE(language);
        RegWriteStr(HKEY_LOCAL_MACHINE, SettingsKey, "LANGUAGE", language);
        SetCurrentLanguage(language);
        LoadTranslations();
        const std::wstring caption = Translate("CloseTitle", L"Closing %BRAND%");
        const std::wstring question = Translate("CloseText1", L"Do you want to close %BRAND%?");
        if (std::string(language) == "en") {
            EXPECT_EQ(caption, L"Closing Tovu");
        }

        TTrayProcess tray(alone + "TovuTray.exe");
        const HWND window = tray.Window();
        ASSERT_NE(window, nullptr);
        for (int answer : {IDNO, IDYES}) {
            ASSERT_TRUE(ChooseFromMenu(tray, window, WM_RBUTTONDOWN, 3));
            HWND box = nullptr;
            ASSERT_TRUE(WaitUntil([&] { return (box = VisibleWindow("#32770", tray.Pid())) != nullptr; }, 20000));
            EXPECT_EQ(WindowText(box), caption);
            EXPECT_EQ(GetWindow(box, GW_OWNER), window);
            const std::wstring text = WindowText(GetDlgItem(box, 0xFFFF));
            EXPECT_EQ(text.rfind(question + L"\r\n\r\n", 0), 0u) << "text shown: " << text.size() << " characters";
            if (answer == IDNO) Screenshot(box, std::string("tray-exit-") + language);
            SendMessageA(GetDlgItem(box, answer), BM_CLICK, 0, 0);
            ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }, 20000));
            if (answer == IDNO) {
                EXPECT_FALSE(tray.Ended(1000));
            }
        }
        EXPECT_TRUE(tray.Ended(30000));
    }
    SetCurrentLanguage("en");
    DeleteFolder(alone, true);
}

TEST_F(TrayProcess, EndsOnStopRefreshWithIconOffAndSessionEnd)
{
    const DWORD removal = IconRemovalTime();
    const char *const ways[] = {"stop event", "refresh with the icon off", "session end"};
    for (const char *way : ways) {
        SCOPED_TRACE(way);
        ShowTray(true);
        TTrayProcess tray(Tray());
        const HWND window = tray.Window();
        ASSERT_NE(window, nullptr);
        const DWORD start = GetTickCount();
        if (way == ways[0]) {
            TGlobalEvent stop(EventStopTray);
            EXPECT_TRUE(stop.Existed()) << "the tray program holds no stop event";
            stop.Signal();
            // The window goes as soon as the loop has seen the event and the
            // shell has taken the icon away, which costs this shell seconds.
            const DWORD limit = 1000 + removal;
            EXPECT_TRUE(WaitUntil([&] { return !IsWindow(window); }, limit + 5000));
            EXPECT_LT(GetTickCount() - start, limit) << "the shell takes " << removal << " ms to remove an icon";
            EXPECT_TRUE(tray.Ended(30000));
            stop.Unsignal();
        } else if (way == ways[1]) {
            ShowTray(false);
            PostMessageA(window, RegisterWindowMessageA(MsgRefreshTray), 0, 0);
            EXPECT_TRUE(tray.Ended(30000));
        } else {
            PostMessageA(window, WM_ENDSESSION, TRUE, 0);
            EXPECT_TRUE(tray.Ended(30000));
        }
    }
    // A refresh that leaves the icon on changes nothing.
    ShowTray(true);
    TTrayProcess tray(Tray());
    const HWND window = tray.Window();
    ASSERT_NE(window, nullptr);
    PostMessageA(window, RegisterWindowMessageA(MsgRefreshTray), 0, 0);
    EXPECT_FALSE(tray.Ended(2000));
}

} // namespace
