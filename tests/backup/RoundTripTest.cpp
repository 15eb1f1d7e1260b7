#include "RegTreeKit.h"
#include "backup/fwBackup.h"
#include "platform/DirectoryU.h"
#include "platform/FileU.h"
#include "platform/RegistryU.h"
#include "platform/RegistryWideU.h"
#include "platform/SystemPathsU.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

const char Top[] = "Software\\TovuTest\\RoundTrip";

class RoundTrip : public ::testing::Test {
protected:
    std::string Docs;
    void SetUp() override
    {
        Docs = TempDir() + "TovuTestRoundTrip\\";
        DeleteFolder(Docs, true);
        SetBackupDocumentsFolder(Docs);
    }
    void TearDown() override
    {
        if (IsBackupActive()) EndBackup();
        for (bool is64 : {false, true}) {
            TRegViewScope keep(false, false);
            SelectItemView(is64);
            RegRemoveKeyTreeW(HKEY_LOCAL_MACHINE, AnsiToWideText(Top), true);
        }
        SetBackupDocumentsFolder("");
        DeleteFolder(Docs, true);
    }
};

// Generated trees of every value type, odd lengths, hostile bytes, names
// outside the code page and empty subkeys, in both views: backed up, deleted
// by the fix, restored, compared byte for byte. The full count runs as
// bench_roundtrip.
TEST_F(RoundTrip, GeneratedTreesComeBackByteForByte)
{
    regtree::TGenerator gen(20261211);
    regtree::TResult result;
    for (int i = 0; i < 40; ++i) {
        bool is64 = Is64BitOS() && (i % 2 == 1);
        regtree::RoundTrip(gen, HKEY_LOCAL_MACHINE, Top + "\\T"s + std::to_string(i), is64, result);
    }
    EXPECT_EQ(result.Trees, 40u);
    EXPECT_GT(result.Values, 100u);
    EXPECT_EQ(result.Failures, 0u) << std::string(result.FirstFailure.begin(), result.FirstFailure.end());
}

// Only what the typed form cannot carry goes into the new attributes; a tree
// of ordinary values is written exactly as before, so older readers restore it.
TEST_F(RoundTrip, TypedFormWhereverItCarriesTheValue)
{
    const std::wstring key = AnsiToWideText(Top) + L"\\Form";
    auto bytes = [](const std::wstring &w) { return std::string((const char *)w.data(), w.size() * 2); };
    struct Case {
        const wchar_t *name;
        DWORD type;
        std::string data;
        const char *expect;  // what the line holds
    } cases[] = {
        {L"str", REG_SZ, bytes(L"plain text"s + L'\0'), "type=\"str\""},
        {L"exp", REG_EXPAND_SZ, bytes(L"%TEMP%\\x"s + L'\0'), "type=\"exstr\""},
        {L"multi", REG_MULTI_SZ, bytes(std::wstring(L"a\0b\0\0", 5)), "type=\"mulstr\""},
        {L"bin", REG_BINARY, "\x01\x02"s, "type=\"bin\""},
        {L"num", REG_DWORD, "\x01\x00\x00\x00"s, "value=\"$00000001\" type=\"num\""},
        {L"short num", REG_DWORD, "\x01\x00"s, "type=\"raw\" rawtype=\"4\" raw=\"0100\""},
        {L"qword", REG_QWORD, "\x01\x02\x03\x04\x05\x06\x07\x08"s, "rawtype=\"11\" raw=\"0102030405060708\""},
        {L"odd length", REG_SZ, bytes(L"ab"s + L'\0') + "x", "rawtype=\"1\" raw=\"61006200000078\""},
        {L"inner nul", REG_SZ, bytes(std::wstring(L"a\0b\0", 4)), "rawtype=\"1\" raw=\"6100000062000000\""},
        // Hangul: in neither the Western nor the Japanese code page.
        {L"hangul", REG_SZ, bytes(L"\xD55C"s + L'\0'), "rawtype=\"1\" raw=\"5CD50000\""},
        {L"\xD55C", REG_SZ, bytes(L"x"s + L'\0'), "wname=\"5CD5\""},
    };
    for (const Case &c : cases) ASSERT_TRUE(RegWriteRawW(HKEY_LOCAL_MACHINE, key, c.name, c.type, c.data));
    ASSERT_TRUE(RegCreateKeyW(HKEY_LOCAL_MACHINE, key + L"\\Empty"));

    BeginBackup(bkFix, L"form");
    BackupKey(HKEY_LOCAL_MACHINE, Top + "\\Form"s, false, false);
    std::string path;
    ASSERT_TRUE(EndBackup(path));
    std::string doc;
    ASSERT_TRUE(ReadFileToString(path, doc));
    for (const Case &c : cases) {
        std::string name;
        bool narrow = WideToAnsiExact(c.name, name);
        size_t at = narrow ? doc.find("name=\"" + name + "\"") : doc.find("wname=\"");
        ASSERT_NE(at, std::string::npos) << name << doc;
        size_t begin = doc.rfind("<reg", at), end = doc.find("/>", at);
        std::string line = doc.substr(begin, end - begin);
        EXPECT_NE(line.find(c.expect), std::string::npos) << line;
        if (std::string(c.expect).find("raw") == std::string::npos && narrow) {
            EXPECT_EQ(line.find("raw"), std::string::npos) << line;
        }
    }
    EXPECT_NE(doc.find("key=\"" + std::string(Top) + "\\Form\\Empty\" name=\"\" value=\"\" type=\"\" scan=\"backup\" fix=\"key\""),
              std::string::npos)
        << doc;
}

} // namespace
