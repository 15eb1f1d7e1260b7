#include "app/fwUpdate.h"
#include "config/fwSettings.h"
#include "platform/DayNumberU.h"
#include "platform/DirectoryU.h"
#include "platform/FileU.h"
#include "platform/RegistryU.h"
#include "platform/SystemPathsU.h"
#include "platform/ThreadU.h"
#include "tovu_version.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <mutex>
#include <thread>
#include <vector>

namespace {

const char Key[] = "Software\\TovuTest\\Update";

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

// Answers every message box titled "Tovu" with the given button, noting its
// text, until stopped.
class TBoxAnswerer {
public:
    explicit TBoxAnswerer(int button) : FButton(button), FThread([this] { Run(); }) {}
    ~TBoxAnswerer()
    {
        FStop = true;
        FThread.join();
    }
    std::vector<std::wstring> Texts()
    {
        std::lock_guard<std::mutex> hold(FLock);
        return FTexts;
    }

private:
    void Run()
    {
        while (!FStop) {
            HWND box = FindWindowW(L"#32770", L"Tovu");
            if (box && IsWindowVisible(box)) {
                wchar_t text[1024] = L"";
                GetDlgItemTextW(box, 0xFFFF, text, 1024);
                {
                    std::lock_guard<std::mutex> hold(FLock);
                    FTexts.push_back(text);
                }
                SendMessageW(GetDlgItem(box, FButton), BM_CLICK, 0, 0);
                Sleep(200);
            }
            Sleep(20);
        }
    }
    int FButton;
    std::atomic<bool> FStop{false};
    std::mutex FLock;
    std::vector<std::wstring> FTexts;
    std::thread FThread;
};

class UpdateThread : public ::testing::Test {
protected:
    std::string Scratch;

    void SetUp() override
    {
        ASSERT_TRUE(InitSynchronize());
        SetSettingsKeyPath(Key);
        RegRemoveKeyTree(HKEY_CURRENT_USER, Key, true);
        Scratch = TempDir() + "TovuTestUpdateThread\\";
        DeleteFolder(Scratch, true);
        ASSERT_TRUE(ForceDirectories(Scratch + "Update\\", false, true));
        SetUpdatePlacesForTest(Scratch, Scratch + "Update\\");
    }
    void TearDown() override
    {
        SetUpdatePlacesForTest("", "");
        RegRemoveKeyTree(HKEY_CURRENT_USER, Key, true);
        SetSettingsKeyPath("");
        DeleteFolder(Scratch, true);
    }

    // Runs the update thread to its end while this thread serves its
    // synchronised calls (the question boxes and the window).
    void Run(const TUpdateOffer &offer, bool silent, bool manual)
    {
        TFWUpdateThread thread(offer, false, silent, manual);
        for (int i = 0; i < 600 && !thread.Finished(); ++i) CheckSynchronize(50);
        ASSERT_TRUE(thread.Finished());
    }

    bool Date(const char *name, double &value) { return ReadSettingDate(HKEY_CURRENT_USER, name, value); }
};

TUpdateOffer OneFile()
{
    TUpdateOffer offer;
    TUpdateFile file;
    file.Entry = "TRAY";
    file.Address = "http://127.0.0.1:9/update/files/tovu.cab";
    file.Sha256 = std::string(64, 'a');
    offer.Files.push_back(file);
    return offer;
}

TEST_F(UpdateThread, AManualCheckWithNothingNewSaysSoAndWritesNoDate)
{
    TBoxAnswerer boxes(IDOK);
    Run(TUpdateOffer(), false, true);
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(boxes.Texts()[0], L"There is no new version available.");
    double date;
    EXPECT_FALSE(Date("LAST_UPDATE", date));
    EXPECT_FALSE(Date("LAST_CHECK", date));
}

TEST_F(UpdateThread, AnAutomaticUpdateWaitsThreeDaysAManualOneAsksAtOnce)
{
    const double twoDaysAgo = DayNumberNow() - 2.0;
    ASSERT_TRUE(WriteSettingDate(HKEY_CURRENT_USER, "LAST_UPDATE", twoDaysAgo));
    {
        TBoxAnswerer boxes(IDNO);
        Run(OneFile(), false, false);
        EXPECT_TRUE(boxes.Texts().empty());
        double date = 0;
        ASSERT_TRUE(Date("LAST_UPDATE", date));
        EXPECT_DOUBLE_EQ(date, twoDaysAgo);
    }
    {
        TBoxAnswerer boxes(IDNO);
        Run(OneFile(), false, true);
        ASSERT_EQ(boxes.Texts().size(), 1u);
        EXPECT_NE(boxes.Texts()[0].find(L"A new version of"), std::wstring::npos) << boxes.Texts()[0];
        double date = 0;
        ASSERT_TRUE(Date("LAST_UPDATE", date));
        EXPECT_GT(date, twoDaysAgo + 1.9);
    }
    // Declined: nothing was fetched.
    EXPECT_TRUE(FileExists(Scratch + "Update\\tovu.cab") == false);
}

TEST_F(UpdateThread, ASilentAutomaticUpdateAsksNothingAndShowsNoWindow)
{
    TBoxAnswerer boxes(IDNO);
    // The address leads nowhere, so the download fails: a silent update
    // still must not show the failure.
    std::atomic<bool> shown{false};
    std::thread watch([&] {
        for (int i = 0; i < 100 && !shown; ++i) {
            HWND form = FindWindowW(L"TFormUpdate", nullptr);
            if (form && IsWindowVisible(form)) shown = true;
            Sleep(20);
        }
    });
    Run(OneFile(), true, false);
    watch.join();
    EXPECT_TRUE(boxes.Texts().empty());
    EXPECT_FALSE(shown);
    double date = 0;
    EXPECT_TRUE(Date("LAST_UPDATE", date));
    EXPECT_TRUE(Names(Scratch + "Update\\").empty());
}

}  // namespace

namespace {

TEST_F(UpdateThread, TheAutomaticCheckRunsOncePerDay)
{
    TUpdateOffer offer;
    double first = 0, date = 0;
    // The service is not reachable here, so nothing is offered either way.
    EXPECT_FALSE(RunUpdateCheck(false, offer));
    ASSERT_TRUE(Date("LAST_CHECK", first));
    EXPECT_NEAR(first, DayNumberNow(), 0.01);
    ASSERT_TRUE(WriteSettingDate(HKEY_CURRENT_USER, "LAST_CHECK", first - 0.9));
    RunUpdateCheck(false, offer);
    ASSERT_TRUE(Date("LAST_CHECK", date));
    EXPECT_DOUBLE_EQ(date, first - 0.9);  // not due: left as it was
    ASSERT_TRUE(WriteSettingDate(HKEY_CURRENT_USER, "LAST_CHECK", first - 1.01));
    RunUpdateCheck(false, offer);
    ASSERT_TRUE(Date("LAST_CHECK", date));
    EXPECT_GT(date, first - 0.01);
    // A manual check always goes on and leaves the date alone.
    ASSERT_TRUE(WriteSettingDate(HKEY_CURRENT_USER, "LAST_CHECK", first - 0.5));
    EXPECT_TRUE(RunUpdateCheck(true, offer));
    ASSERT_TRUE(Date("LAST_CHECK", date));
    EXPECT_DOUBLE_EQ(date, first - 0.5);
}

TEST_F(UpdateThread, TheCheckAddressIgnoresPerUserValues)
{
    const std::string builtIn = UpdateCheckAddress();
    EXPECT_NE(builtIn.find("&ver=" TOVU_VERSION_TEXT), std::string::npos) << builtIn;
    ASSERT_TRUE(WriteSettingText(HKEY_CURRENT_USER, "UPDATE_URL", "http://attacker.example/u?"));
    EXPECT_EQ(UpdateCheckAddress(), builtIn);
    ASSERT_TRUE(WriteSettingText(HKEY_LOCAL_MACHINE, "UPDATE_URL", "http://127.0.0.1:8080/update?cfg=%CFG_ID%"));
    const std::string machine = UpdateCheckAddress();
    RegRemoveKeyTree(HKEY_LOCAL_MACHINE, Key, true);
    EXPECT_EQ(machine, "http://127.0.0.1:8080/update?cfg=" + Settings().CfgId + "&ver=" TOVU_VERSION_TEXT);
}

}  // namespace
