// The whole update against a service on 127.0.0.1, run by update-flow.sh,
// which starts the service, builds the release (a cabinet of both programs
// carrying a newer version resource) and names the service in
// TOVU_UPDATE_SERVICE. Without it these tests do not apply.
#include "app/fwAppBody.h"
#include "app/fwUpdate.h"
#include "config/fwNames.h"
#include "config/fwSettings.h"
#include "platform/DirectoryU.h"
#include "platform/EventU.h"
#include "platform/FileU.h"
#include "platform/FileVersionU.h"
#include "platform/ProcessU.h"
#include "platform/RegistryU.h"
#include "platform/SystemPathsU.h"
#include "platform/TextU.h"
#include "platform/ThreadU.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

const char Key[] = "Software\\TovuTest\\UpdateFlow";

std::string BuildFolder()
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path = self;
    path = path.substr(0, path.find_last_of('\\'));
    return path.substr(0, path.find_last_of('\\') + 1);  // the tests folder's parent
}

std::string Read(const std::string &path)
{
    std::string text;
    ReadFileToString(path, text);
    return text;
}

std::vector<std::string> Names(const std::string &folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((folder + "*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do
        if (std::string(fd.cFileName) != "." && std::string(fd.cFileName) != "..") names.push_back(fd.cFileName);
    while (FindNextFileA(h, &fd));
    FindClose(h);
    return names;
}

// Answers every box titled "Tovu" with button and keeps its text; notes
// whether the update window was ever shown.
class TWatcher {
public:
    explicit TWatcher(int button) : FButton(button), FThread([this] { Run(); }) {}
    ~TWatcher()
    {
        FStop = true;
        FThread.join();
    }
    std::vector<std::wstring> Boxes()
    {
        std::lock_guard<std::mutex> hold(FLock);
        return FBoxes;
    }
    bool WindowShown() const { return FShown; }

private:
    void Run()
    {
        while (!FStop) {
            HWND form = FindWindowW(L"TFormUpdate", nullptr);
            if (form && IsWindowVisible(form)) FShown = true;
            HWND box = FindWindowW(L"#32770", L"Tovu");
            if (box && IsWindowVisible(box)) {
                wchar_t text[1024] = L"";
                GetDlgItemTextW(box, 0xFFFF, text, 1024);
                {
                    std::lock_guard<std::mutex> hold(FLock);
                    FBoxes.push_back(text);
                }
                // A box without the expected button is answered all the same,
                // so that a wrong turn fails the test instead of hanging it.
                HWND button = GetDlgItem(box, FButton);
                if (!button) button = GetDlgItem(box, IDOK);
                if (!button) button = GetDlgItem(box, IDCANCEL);
                SendMessageW(button, BM_CLICK, 0, 0);
                Sleep(200);
            }
            Sleep(10);
        }
    }
    int FButton;
    std::atomic<bool> FStop{false}, FShown{false};
    std::mutex FLock;
    std::vector<std::wstring> FBoxes;
    std::thread FThread;
};

class UpdateFlow : public ::testing::Test {
protected:
    std::string Service, Program, Update, OldTray, OldMain;

    void SetUp() override
    {
        const char *service = std::getenv("TOVU_UPDATE_SERVICE");
        if (!service || !*service) GTEST_SKIP() << "no update service named (run by update-flow.sh)";
        Service = service;
        ASSERT_TRUE(InitSynchronize());
        SetSettingsKeyPath(Key);
        RegRemoveKeyTree(HKEY_CURRENT_USER, Key, true);
        RegRemoveKeyTree(HKEY_LOCAL_MACHINE, Key, true);
        Program = TempDir() + "TovuTestUpdateFlow\\";
        Update = Program + "Update\\";
        DeleteFolder(Program, true);
        ASSERT_TRUE(ForceDirectories(Update, false, true));
        // The programs as built are the installed old version.
        OldTray = BuildFolder() + "TovuTray.exe";
        OldMain = BuildFolder() + "Tovu.exe";
        ASSERT_TRUE(CopyFileA(OldTray.c_str(), (Program + "TovuTray.exe").c_str(), FALSE));
        ASSERT_TRUE(CopyFileA(OldMain.c_str(), (Program + "Tovu.exe").c_str(), FALSE));
        SetUpdatePlacesForTest(Program, Update);
    }
    void TearDown() override
    {
        StopTray();
        SetUpdatePlacesForTest("", "");
        RegRemoveKeyTree(HKEY_CURRENT_USER, Key, true);
        RegRemoveKeyTree(HKEY_LOCAL_MACHINE, Key, true);
        SetSettingsKeyPath("");
        DeleteFolder(Program, true);
    }

    void UseMode(const std::string &mode)
    {
        ASSERT_TRUE(WriteSettingText(HKEY_LOCAL_MACHINE, "UPDATE_URL", Service + "/m/" + mode + "/update?cfg=%CFG_ID%"));
    }

    // The check and, when it asks for one, the update thread, while this
    // thread serves their boxes and window.
    void CheckAndUpdate(bool manual)
    {
        TUpdateOffer offer;
        if (!RunUpdateCheck(manual, offer)) return;
        TFWUpdateThread thread(offer, false, offer.Silent, manual);
        for (int i = 0; i < 1200 && !thread.Finished(); ++i) CheckSynchronize(50);
        ASSERT_TRUE(thread.Finished());
    }

    void ExpectUnchanged()
    {
        EXPECT_EQ(Read(Program + "TovuTray.exe"), Read(OldTray));
        EXPECT_EQ(Read(Program + "Tovu.exe"), Read(OldMain));
        EXPECT_FALSE(FileExists(Program + "Tovu.new"));
        EXPECT_FALSE(FileExists(Program + "TovuTray.new"));
        EXPECT_TRUE(Names(Update).empty());
    }

    static void StopTray()
    {
        if (!FindWindowA(TrayWindowClass, nullptr)) return;
        TGlobalEvent stop(EventStopTray);
        stop.Signal();
        for (int i = 0; i < 50 && FindWindowA(TrayWindowClass, nullptr); ++i) Sleep(100);
        stop.Unsignal();
    }

    // The path of the program that owns the tray window, once one appears.
    static std::string RunningTray()
    {
        for (int i = 0; i < 100; ++i) {
            if (HWND tray = FindWindowA(TrayWindowClass, nullptr)) {
                DWORD pid = 0;
                GetWindowThreadProcessId(tray, &pid);
                return ProcessImagePath(pid);
            }
            Sleep(100);
        }
        return std::string();
    }
};

TEST_F(UpdateFlow, BothProgramsArriveAndTheNewTrayRuns)
{
    UseMode("ok");
    // The old tray program runs from the program folder, and the main
    // program is held so that it cannot be moved: it must arrive as ".new".
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string command = "\"" + Program + "TovuTray.exe\"";
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, Program.c_str(), &si, &pi));
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    ASSERT_FALSE(RunningTray().empty());
    HANDLE busy = CreateFileA((Program + "Tovu.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(busy, INVALID_HANDLE_VALUE);
    {
        TWatcher watch(IDYES);
        CheckAndUpdate(true);
        ASSERT_EQ(watch.Boxes().size(), 1u);
        EXPECT_NE(watch.Boxes()[0].find(L"A new version of"), std::wstring::npos);
        EXPECT_TRUE(watch.WindowShown());
    }
    CloseHandle(busy);
    EXPECT_EQ(FileVersionText(Program + "TovuTray.exe"), "1.0.0.2");
    EXPECT_EQ(FileVersionText(Program + "Tovu.exe"), FileVersionText(OldMain));
    EXPECT_EQ(FileVersionText(Program + "Tovu.new"), "1.0.0.2");
    EXPECT_TRUE(UpdateReady());
    EXPECT_TRUE(Names(Update).empty());
    // The tray program was stopped and its new file started.
    const std::string running = RunningTray();
    EXPECT_EQ(AsciiLower(running), AsciiLower(Program + "TovuTray.exe"));
}

TEST_F(UpdateFlow, AFileThatIsNotTheAnnouncedOneChangesNothing)
{
    for (const char *mode : {"tamper", "cut"}) {
        SCOPED_TRACE(mode);
        UseMode(mode);
        TWatcher watch(IDYES);
        CheckAndUpdate(true);
        const std::vector<std::wstring> boxes = watch.Boxes();
        ASSERT_EQ(boxes.size(), 2u);
        EXPECT_EQ(boxes[1], L"Download failed!");
        ExpectUnchanged();
    }
}

TEST_F(UpdateFlow, ASilentAnswerAsksNothing)
{
    UseMode("silent");
    TWatcher watch(IDNO);
    CheckAndUpdate(false);
    EXPECT_TRUE(watch.Boxes().empty());
    EXPECT_FALSE(watch.WindowShown());
    EXPECT_EQ(FileVersionText(Program + "TovuTray.exe"), "1.0.0.2");
    EXPECT_EQ(FileVersionText(Program + "Tovu.exe"), "1.0.0.2");
    EXPECT_TRUE(Names(Update).empty());
}

TEST_F(UpdateFlow, AnswersThatOfferNothing)
{
    for (const char *mode : {"none", "empty", "nosha"}) {
        SCOPED_TRACE(mode);
        UseMode(mode);
        {
            TWatcher watch(IDOK);
            CheckAndUpdate(true);
            ASSERT_EQ(watch.Boxes().size(), 1u);
            EXPECT_EQ(watch.Boxes()[0], L"There is no new version available.");
        }
        {
            // Automatic: not even the notice.
            RegRemoveKeyTree(HKEY_CURRENT_USER, Key, true);
            TWatcher watch(IDOK);
            CheckAndUpdate(false);
            EXPECT_TRUE(watch.Boxes().empty());
        }
        ExpectUnchanged();
    }
}

}  // namespace
