#include "app/fwUpdate.h"
#include "config/fwTranslate.h"
#include "platform/DirectoryU.h"
#include "platform/FileU.h"
#include "platform/RegistryU.h"
#include "platform/SystemPathsU.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

std::wstring TextOf(HWND window)
{
    wchar_t text[512] = L"";
    GetWindowTextW(window, text, 512);
    return text;
}

HWND ChildWithText(HWND parent, const std::wstring &text)
{
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (TextOf(c) == text) return c;
    return nullptr;
}

void Pump(DWORD ms)
{
    const DWORD end = GetTickCount() + ms;
    while (GetTickCount() < end) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    }
}

// Under tests/update/window-screens.sh the window is held on screen until the
// script has taken its picture: it names a folder (as this program sees it)
// where "ready-<language>" asks for the picture and "taken-<language>" says
// it is done.
void Photograph(const std::string &language)
{
    const char *folder = std::getenv("TOVU_SCREENSHOT_SYNC");
    if (!folder || !*folder) return;
    const std::string base = std::string(folder) + "\\";
    HANDLE h = CreateFileA((base + "ready-" + language).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    for (int i = 0; i < 300 && !FileExists(base + "taken-" + language); ++i) Pump(100);
    EXPECT_TRUE(FileExists(base + "taken-" + language)) << "no picture taken for " << language;
}

TEST(UpdateWindow, ShowsTheDownloadAndCancelsFromItsButton)
{
    const std::string scratch = TempDir() + "TovuTestUpdateWindow\\";
    const std::string versionKey = "Software\\TovuTest\\UpdateWindow";
    ForceDirectories(scratch, false, true);
    SetTranslationPlaces(scratch, versionKey);
    LoadTranslations();
    for (const char *language : {"en", "de", "ja"}) {
        SCOPED_TRACE(language);
        SetCurrentLanguage(language);
        TFormUpdate form;
        ASSERT_NE(form.Handle(), nullptr);
        RECT client;
        GetClientRect(form.Handle(), &client);
        EXPECT_EQ(client.right, 464);
        EXPECT_EQ(client.bottom, 186);

        form.Prepare(3);
        EXPECT_NE(ChildWithText(form.Handle(), L"1/3"), nullptr);
        form.NextFile();
        form.FileStart = GetTickCount() - 4000;
        form.Total = 5 * 1024 * 1024;
        form.Received = 2 * 1024 * 1024;
        form.ShowProgress();
        form.Show();
        Pump(300);
        EXPECT_TRUE(form.Visible());
        EXPECT_NE(ChildWithText(form.Handle(), L"2/3"), nullptr);
        // About 2 MB in 4 s: half a megabyte per second, 3 MB still to come.
        EXPECT_GT(form.Rate, 480.0 * 1024);
        EXPECT_LT(form.Rate, 530.0 * 1024);
        EXPECT_NEAR(double(form.SecondsLeft), 6.0, 1.0);
        const std::wstring action = Translate("UpdateDownloading", L"Downloading updates...");
        EXPECT_NE(ChildWithText(form.Handle(), action), nullptr);
        bool rateShown = false, estimateShown = false;
        for (HWND c = GetWindow(form.Handle(), GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            const std::wstring text = TextOf(c);
            wchar_t rate[32];
            swprintf(rate, 32, L"%.1f kB/s", form.Rate / 1024);
            rateShown = rateShown || text == rate;
            estimateShown = estimateShown || (text.find(L"sec") != std::wstring::npos &&
                                              text.find(L"MB") != std::wstring::npos);
        }
        EXPECT_TRUE(rateShown);
        EXPECT_TRUE(estimateShown);
        Photograph(language);

        form.ShowInstalling();
        EXPECT_NE(ChildWithText(form.Handle(), Translate("UpdateInstalling", L"Installing updates...")), nullptr);
        EXPECT_NE(ChildWithText(form.Handle(), L"1/3"), nullptr);

        HWND cancel = ChildWithText(form.Handle(), Translate("FormUpdate_ButtonCancel", L"Cancel"));
        ASSERT_NE(cancel, nullptr);
        SendMessageW(cancel, BM_CLICK, 0, 0);
        Pump(200);
        EXPECT_TRUE(form.Cancelled);
        EXPECT_FALSE(form.Visible());

        // Escape on the focused button cancels too.
        form.Prepare(1);
        form.Show();
        Pump(100);
        SendMessageW(cancel, WM_KEYDOWN, VK_ESCAPE, 0);
        Pump(200);
        EXPECT_TRUE(form.Cancelled);
        EXPECT_FALSE(form.Visible());
    }
    SetCurrentLanguage("en");
    RegRemoveKeyTree(HKEY_CURRENT_USER, versionKey, true);
    DeleteFolder(scratch, true);
}

}  // namespace
