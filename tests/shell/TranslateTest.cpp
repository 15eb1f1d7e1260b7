#include "platform/DirectoryU.h"
#include "platform/FileU.h"
#include "platform/RegistryU.h"
#include "shell/fwTranslate.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

const char VersionKey[] = "Software\\TovuTest\\Translate";

class Translation : public testing::Test {
protected:
    void SetUp() override
    {
        char tmp[MAX_PATH];
        GetTempPathA(MAX_PATH, tmp);
        folder = std::string(tmp) + "TovuTranslateTest\\";
        DeleteFolder(folder, true);
        RegRemoveKeyTree(HKEY_LOCAL_MACHINE, VersionKey, true);
        SetTranslationPlaces(folder, VersionKey);
        saved = CurrentLanguage();
    }
    void TearDown() override
    {
        SetCurrentLanguage(saved);
        SetTranslationPlaces("", "");
        DeleteFolder(folder, true);
        RegRemoveKeyTree(HKEY_LOCAL_MACHINE, VersionKey, true);
    }
    std::string folder, saved;
};

TEST_F(Translation, WithoutTableEveryTextIsItsDefault)
{
    SetCurrentLanguage("de");
    EXPECT_EQ(Translate("AskSaveChanges", L"Do you want to save changes?"), L"Do you want to save changes?");
    EXPECT_EQ(Translate("Step_Welcome_Header", L""), L"");
    EXPECT_EQ(Translate("x", L"%#% Fixes system errors & crashes"), L"\u2022 Fixes system errors & crashes");
    EXPECT_EQ(Translate("x", L"a|b %brand% %Brand% %c%"), L"a\r\nb Tovu Tovu \u00A9");
    EXPECT_EQ(TranslateText("ignored", L"NoSuchKey=Shown"), L"Shown");
}

TEST_F(Translation, TableIsExtractedOnceAndLookedUp)
{
    LoadTranslations();
    ASSERT_TRUE(FileExists(folder + "lng.ini"));
    std::string version;
    EXPECT_TRUE(RegReadStr(HKEY_LOCAL_MACHINE, VersionKey, "LngVer", version));

    SetCurrentLanguage("en");
    EXPECT_EQ(Translate("AskSaveChanges", L"default"), L"Do you want to save changes?");
    SetCurrentLanguage("de");
    std::wstring de = Translate("AskSaveChanges", L"default");
    EXPECT_NE(de, L"default");
    EXPECT_NE(de, L"Do you want to save changes?");
    SetCurrentLanguage("xx");
    EXPECT_EQ(Translate("AskSaveChanges", L"default"), L"default");

    EXPECT_EQ(ValidLanguage("DE"), "de");
    EXPECT_EQ(ValidLanguage("xx"), "en");
    EXPECT_EQ(LanguageIndex("PT"), 6);
    EXPECT_EQ(LanguageCodeAt(5), L"ja");
    EXPECT_EQ(LanguageCodeAt(7), L"");
    EXPECT_EQ(LanguageNames(L","), L"English,Deutsch,Espa\u00F1ol,Fran\u00E7ais,Italiano,\u65E5\u672C\u8A9E,Portugu\u00EAs");

    // A deleted file is written again at the next load; a changed version
    // rewrites it.
    SetTranslationPlaces(folder, VersionKey);
    DeleteFileForce(folder + "lng.ini");
    LoadTranslations();
    EXPECT_TRUE(FileExists(folder + "lng.ini"));
    RegWriteStr(HKEY_LOCAL_MACHINE, VersionKey, "LngVer", "0.0.0.1");
    HANDLE h = CreateFileA((folder + "lng.ini").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(h);
    LoadTranslations();
    SetCurrentLanguage("en");
    EXPECT_EQ(Translate("AskSaveChanges", L"default"), L"Do you want to save changes?");
}

} // namespace
