#include "platform/DirectoryU.h"
#include "platform/FileU.h"
#include "platform/RegistryU.h"
#include "config/IniFileWU.h"
#include "config/fwTranslate.h"

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

namespace {

// The table file is UTF-8. On a double-byte system the file is not read
// through the private-profile functions (they would garble it); the results
// must be the same as theirs on any system. The harness runs this suite under
// the Japanese code page too.
TEST(IniFileW, ReadsUtf8AsTheProfileFunctionsDo)
{
    char tmp[MAX_PATH];
    GetTempPathA(MAX_PATH, tmp);
    const std::string file = std::string(tmp) + "TovuIniTest.ini";
    const std::string text = "[Other]\r\nkey=other\r\n"
                             "[ Lang ]\r\n"
                             "Name=\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\r\n"  // 日本語
                             "  Padded  =  a b  \r\n"
                             "Quoted=\"x=y\"\r\n"
                             "Empty=\r\n"
                             "NAME=second\r\n"
                             "no equals sign\r\n"
                             "[lang]\r\nLater=section\r\n";
    HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(h, text.data(), DWORD(text.size()), &written, nullptr);
    CloseHandle(h);

    TIniFileW ini(file);
    ASSERT_TRUE(ini.Utf8);
    struct Case {
        const wchar_t *section, *key, *expected;
    } cases[] = {
        {L"lang", L"name", L"\u65E5\u672C\u8A9E"},
        {L"Lang", L"Padded", L"a b"},
        {L"Lang", L"Quoted", L"x=y"},
        {L"Lang", L"Empty", L""},
        {L"Lang", L"Later", L"def"},  // only the first section of a name counts
        {L"Lang", L"Missing", L"def"},
        {L"Nowhere", L"Name", L"def"},
        {L"Other", L"key", L"other"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ini.ReadString(c.section, c.key, L"def"), c.expected) << c.section << "/" << c.key;
    const auto entries = ini.ReadSectionValues("Lang");
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0], std::make_pair(std::string("Name"), std::string("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E")));
    EXPECT_EQ(entries[4], std::make_pair(std::string("NAME"), std::string("second")));
    DeleteFileA(file.c_str());
}

} // namespace
