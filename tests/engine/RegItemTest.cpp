#include "RegSnapshot.h"
#include "backup/fwBackup.h"
#include "engine/fwClasses.h"
#include "engine/fwClassesEx.h"
#include "engine/fwCleanRep.h"
#include "engine/fwExceptions.h"
#include "platform/DayNumberU.h"
#include "platform/DirectoryU.h"
#include "platform/FileU.h"
#include "platform/RegistryU.h"
#include "platform/SystemPathsU.h"
#include "platform/SystemPathsUtilsU.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;
using namespace regtest;

const char K[] = "Software\\TovuTest\\RegItems";
const REGSAM V64 = KEY_WOW64_64KEY, V32 = KEY_WOW64_32KEY;

class RegItems : public ::testing::Test {
protected:
    TfwMain Main;
    TfwItemsList *List = new TfwItemsList(&Main);
    std::string Folder;

    void SetUp() override
    {
        RegView64 = RegView32 = false;
        Wipe(HKEY_CURRENT_USER, 0, K);
        Wipe(HKEY_LOCAL_MACHINE, V64, K);
        Wipe(HKEY_LOCAL_MACHINE, V32, K);
        *ProcessExceptions(true) = TfwExceptions();
        Folder = TempDir() + "TovuTestRegItems\\";
        DeleteFolder(Folder, true);
        ForceDirectories(Folder, false, true);
        // Whoever made the process-wide list first, these tests own its file.
        TfwCleanRep *cleaned = EnsureCleanReport(Folder + "cleanrep.xml");
        cleaned->FileName = Folder + "cleanrep.xml";
        cleaned->Clear();
    }
    void TearDown() override
    {
        delete List;
        RegView64 = RegView32 = false;
        Wipe(HKEY_CURRENT_USER, 0, K);
        Wipe(HKEY_LOCAL_MACHINE, V64, K);
        Wipe(HKEY_LOCAL_MACHINE, V32, K);
        *ProcessExceptions(true) = TfwExceptions();
        ProcessCleanRep()->Clear();
        DeleteFolder(Folder, true);
    }

    TfwRegItem *Item(HKEY root, const std::string &key, const std::string &name, const std::string &value, int type,
                     int scan, int fix = fmValue, bool is64 = false)
    {
        auto *i = new TfwRegItem(List);
        i->Root = root;
        i->Key = key;
        i->ValueName = name;
        i->Value = value;
        i->ValueType = type;
        i->ScanMode = scan;
        i->FixMode = fix;
        i->Is64 = is64;
        List->Add(i);
        return i;
    }

    bool ScanOne(TfwRegItem *i)
    {
        i->Scan();
        EXPECT_EQ(i->Selected, i->Found);
        EXPECT_FALSE(RegView64 || RegView32) << "view flags left set";
        return i->Found;
    }
};

std::string Dword(DWORD v) { return std::string(reinterpret_cast<const char *>(&v), 4); }

TEST_F(RegItems, ScanModesAndTypes)
{
    const std::string sub = K + "\\Sub"s;
    const struct {
        const char *what;
        std::string wanted;
        int type, scan;
        DWORD storedType;  // REG_NONE with empty bytes: leave the value missing
        std::string stored;
        bool found;
    } cases[] = {
        {"num missing, scan value", "0", rtNum, smValue, REG_NONE, "", true},
        {"num 1 stored", "0", rtNum, smValue, REG_DWORD, Dword(1), true},
        {"num 0 stored", "0", rtNum, smValue, REG_DWORD, Dword(0), false},
        {"num stored as string", "0", rtNum, smValue, REG_SZ, "0\0"s, true},
        {"num $hex", "$0000FA00", rtNum, smExists, REG_DWORD, Dword(0xFA00), false},
        {"num not a number means 0", "ten", rtNum, smExists, REG_DWORD, Dword(0), false},
        {"exists, missing", "1", rtNum, smExists, REG_NONE, "", false},
        {"backup, missing", "1", rtNum, smBackup, REG_NONE, "", false},
        {"exists, different", "1", rtNum, smExists, REG_DWORD, Dword(2), true},
        {"str equals expandable", "%WINDIR%\\x", rtStr, smExists, REG_EXPAND_SZ, "%WINDIR%\\x\0"s, false},
        {"exstr equals plain", "abc", rtExStr, smExists, REG_SZ, "abc\0"s, false},
        {"str case differs", "abc", rtStr, smExists, REG_SZ, "ABC\0"s, true},
        {"str vs multi-string", "abc", rtStr, smExists, REG_MULTI_SZ, "abc\0\0"s, true},
        {"empty mulstr vs two strings", "", rtMulStr, smExists, REG_MULTI_SZ, "a\0b\0\0"s, true},
        {"empty mulstr vs empty", "", rtMulStr, smExists, REG_MULTI_SZ, "\0\0"s, false},
        {"mulstr equal", "a\0b"s, rtMulStr, smExists, REG_MULTI_SZ, "a\0b\0\0"s, false},
        {"bin lower-case wanted", "0aff", rtBin, smExists, REG_BINARY, "\x0a\xff"s, false},
        {"bin shorter", "0AFF", rtBin, smExists, REG_BINARY, "\x0a"s, true},
    };
    for (const auto &c : cases) {
        Wipe(HKEY_CURRENT_USER, 0, K);
        MakeKey(HKEY_CURRENT_USER, 0, K);
        if (c.storedType != REG_NONE) PutRaw(HKEY_CURRENT_USER, 0, K, "v", c.storedType, c.stored);
        EXPECT_EQ(ScanOne(Item(HKEY_CURRENT_USER, K, "v", c.wanted, c.type, c.scan)), c.found) << c.what;
    }

    // The key itself (empty value name).
    Wipe(HKEY_CURRENT_USER, 0, K);
    EXPECT_TRUE(ScanOne(Item(HKEY_CURRENT_USER, sub, "v", "x", rtStr, smValue))) << "value of a missing key";
    EXPECT_TRUE(ScanOne(Item(HKEY_CURRENT_USER, sub, "", "x", rtStr, smValue))) << "missing key";
    EXPECT_FALSE(ScanOne(Item(HKEY_CURRENT_USER, sub, "", "x", rtStr, smExists))) << "missing key, exists";
    MakeKey(HKEY_CURRENT_USER, 0, sub);
    EXPECT_FALSE(ScanOne(Item(HKEY_CURRENT_USER, sub, "", "x", rtStr, smValue))) << "key without default";
    PutRaw(HKEY_CURRENT_USER, 0, sub, "", REG_SZ, "y\0"s);
    EXPECT_TRUE(ScanOne(Item(HKEY_CURRENT_USER, sub, "", "x", rtStr, smExists))) << "other default";
    EXPECT_FALSE(ScanOne(Item(HKEY_CURRENT_USER, sub, "", "y", rtStr, smExists))) << "same default";

    // A found item is not scanned again; scan mode 0 never finds.
    TfwRegItem *done = Item(HKEY_CURRENT_USER, sub, "gone", "1", rtNum, smValue);
    done->Found = true;
    done->Scan();
    EXPECT_FALSE(done->Selected);
    EXPECT_FALSE(ScanOne(Item(HKEY_CURRENT_USER, sub, "gone", "1", rtNum, smNone)));
}

// Selected items are written with their type, deleted values and key trees
// are gone, and a second scan finds nothing.
TEST_F(RegItems, FixWritesByTypeAndDeletes)
{
    const struct {
        const char *name;
        std::string value;
        int type;
        std::string raw;
    } writes[] = {
        {"str", "a\"b&c", rtStr, "1:a\"b&c\0"s},
        {"exstr", "%TEMP%\\x", rtExStr, "2:%TEMP%\\x\0"s},
        {"mulstr-empty", "", rtMulStr, "7:\0\0"s},
        {"mulstr", "a\0b"s, rtMulStr, "7:a\0b\0\0"s},
        {"num-hex", "$0000FA00", rtNum, "4:" + Dword(0xFA00)},
        {"num-dec", "10", rtNum, "4:" + Dword(10)},
        {"bin", "0aFF00", rtBin, "3:\x0a\xff\x00"s},
    };
    MakeKey(HKEY_CURRENT_USER, 0, K);
    PutRaw(HKEY_CURRENT_USER, 0, K, "mulstr-empty", REG_MULTI_SZ, "a\0b\0\0"s);
    PutRaw(HKEY_CURRENT_USER, 0, K, "num-hex", REG_SZ, "x\0"s);
    for (const auto &w : writes) Item(HKEY_CURRENT_USER, K, w.name, w.value, w.type, smValue);
    PutRaw(HKEY_CURRENT_USER, 0, K, "doomed", REG_SZ, "x\0"s);
    Item(HKEY_CURRENT_USER, K, "doomed", "", rtStr, smExists, fmDelete);
    PutRaw(HKEY_CURRENT_USER, 0, K + "\\Tree\\Deep"s, "v", REG_DWORD, Dword(1));
    TfwRegItem *tree = Item(HKEY_CURRENT_USER, K + "\\Tree"s, "", "", rtNone, smNone, fmDelete);
    tree->Found = tree->Selected = true;
    // Not selected, or a detail line: left alone.
    PutRaw(HKEY_CURRENT_USER, 0, K, "kept", REG_SZ, "x\0"s);
    Item(HKEY_CURRENT_USER, K, "kept", "", rtStr, smExists, fmDelete)->Selected = false;

    List->Scan();
    List->List.back()->Selected = false;
    EXPECT_EQ(List->FoundCount(), int(std::size(writes)) + 3);
    List->Fix();

    for (const auto &w : writes) EXPECT_EQ(GetRaw(HKEY_CURRENT_USER, 0, K, w.name), w.raw) << w.name;
    EXPECT_EQ(GetRaw(HKEY_CURRENT_USER, 0, K, "doomed"), "<none>");
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, 0, K + "\\Tree"s));
    EXPECT_EQ(GetRaw(HKEY_CURRENT_USER, 0, K, "kept"), "1:x\0"s);

    for (TfwItem *i : List->List) i->Found = i->Selected = false;
    tree->Found = true;  // the key item has no scan mode of its own
    List->Scan();
    EXPECT_EQ(List->FoundCount(), 2);  // the key item and the unselected value
}

// Each item works in its own view: the 64-bit one in the 64-bit registry, any
// other in the 32-bit one; on a 32-bit system a 64-bit item is never found.
TEST_F(RegItems, ViewPerItem)
{
    TfwRegItem *i64 = Item(HKEY_LOCAL_MACHINE, K, "v", "5", rtNum, smValue, fmValue, true);
    TfwRegItem *i32 = Item(HKEY_LOCAL_MACHINE, K, "v", "5", rtNum, smValue, fmValue, false);
    if (!Is64BitOS()) {
        EXPECT_FALSE(ScanOne(i64));
        EXPECT_TRUE(ScanOne(i32));
        return;
    }
    PutRaw(HKEY_LOCAL_MACHINE, V32, K, "v", REG_DWORD, Dword(5));
    EXPECT_TRUE(ScanOne(i64));
    EXPECT_FALSE(ScanOne(i32));

    i64->Fix();
    EXPECT_TRUE(RegView64);  // the fix leaves its view selected
    RegView64 = RegView32 = false;
    EXPECT_EQ(GetRaw(HKEY_LOCAL_MACHINE, V64, K, "v"), "4:" + Dword(5));

    PutRaw(HKEY_LOCAL_MACHINE, V64, K + "\\T"s, "x", REG_SZ, "1\0"s);
    PutRaw(HKEY_LOCAL_MACHINE, V32, K + "\\T"s, "x", REG_SZ, "1\0"s);
    TfwRegItem *del = Item(HKEY_LOCAL_MACHINE, K + "\\T"s, "", "", rtNone, smNone, fmDelete, true);
    del->Found = del->Selected = true;
    del->Fix();
    RegView64 = RegView32 = false;
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, V64, K + "\\T"s));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, V32, K + "\\T"s));
}

TEST_F(RegItems, ExceptionsAndCleanedEntriesHideFindings)
{
    TfwMain defs;
    defs.LoadDefinitionsFromText(
        "<fixwell><exceptions>"
        "<reg root=\"HKCU\" key=\"Software\\TovuTest\\RegItems\\Skip\\\" ignore=\"key\"/>"
        "<reg root=\"HKCU\" key=\"Software\\TovuTest\\RegItems\" name=\"OneValue\" ignore=\"value\"/>"
        "<file path=\"%WINDIR%\\Listed.log\"/>"
        "</exceptions></fixwell>");
    const struct {
        std::string key, name;
        bool found;
    } cases[] = {
        {K + "\\Skip"s, "v", false},
        {K + "\\SkipMore\\x"s, "v", false},  // a text prefix, not a path prefix
        {K, "ONEVALUE", false},
        {K, "OtherValue", true},
        {K + "\\Sub"s, "OneValue", true},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ScanOne(Item(HKEY_CURRENT_USER, c.key, c.name, "1", rtNum, smValue)), c.found) << c.key << c.name;

    // A fixed entry is not reported again, whatever the case of its name; one
    // whose fix failed is, and backing it up alone hides nothing.
    TfwRegItem *fixed = Item(HKEY_CURRENT_USER, K, "Cleaned", "1", rtNum, smValue);
    TfwRegItem *refused = Item(HKEY_CURRENT_USER, K, "Refused", "ABC", rtBin, smValue);  // odd hex: write fails
    TfwRegItem *vanished = Item(HKEY_CURRENT_USER, K, "Vanished", "", rtNone, smNone, fmDelete);
    vanished->Found = vanished->Selected = true;  // its value went before the fix
    EXPECT_TRUE(ScanOne(fixed));
    EXPECT_TRUE(ScanOne(refused));
    for (TfwRegItem *i : {fixed, refused, vanished}) i->Backup();  // no document open
    EXPECT_FALSE(IsBackupActive());
    EXPECT_TRUE(ScanOne(Item(HKEY_CURRENT_USER, K, "CLEANED", "1", rtNum, smValue))) << "backed up, not yet fixed";
    for (TfwRegItem *i : {fixed, refused, vanished}) i->Fix();
    RegView64 = RegView32 = false;
    PutRaw(HKEY_CURRENT_USER, 0, K, "Cleaned", REG_DWORD, Dword(2));  // broken again
    EXPECT_FALSE(ScanOne(Item(HKEY_CURRENT_USER, K, "CLEANED", "1", rtNum, smValue)));
    EXPECT_TRUE(ScanOne(Item(HKEY_CURRENT_USER, K, "Refused", "ABC", rtBin, smValue))) << "failed fix";
    TfwRegItem probe(nullptr);
    probe.Root = HKEY_CURRENT_USER;
    probe.Key = K;
    probe.ValueName = "Vanished";
    EXPECT_FALSE(ProcessCleanRep()->Contains(probe)) << "failed delete";
    EXPECT_TRUE(ScanOne(Item(HKEY_LOCAL_MACHINE, K, "Cleaned", "1", rtNum, smValue))) << "other root";

    std::vector<TfwFoundFile> files = {{"C:\\Some\\Where\\DESKTOP.INI", 1}, {"C:\\a\\b.txt", 2},
                                       {ExpandPath("%WINDIR%\\listed.LOG"), 3}};
    FilterExceptedFiles(files);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].Path, "C:\\a\\b.txt");

    // Keys of ours are owned by the administrators, and a missing key has no owner.
    MakeKey(HKEY_CURRENT_USER, 0, K);
    EXPECT_FALSE(IsInstallerOwned(HKEY_CURRENT_USER, K));
    EXPECT_FALSE(IsInstallerOwned(HKEY_CURRENT_USER, K + "\\Missing"s));
}

TEST_F(RegItems, CleanedEntriesFileKeepsThirtyFiveDays)
{
    const std::string file = Folder + "cleanrep.xml";
    const long today = long(std::floor(DayNumberNow()));
    auto entry = [](const char *root, const char *name, long date) {
        return "    <reg root=\""s + root + "\" key=\"Software\\TovuTest\\RegItems\" name=\"" + name +
               "\" value=\"\" type=\"\" scan=\"exists\" fix=\"\" date=\"" + std::to_string(date) + "\" />\r\n";
    };
    const std::string fresh = entry("HKCU", "Fresh", today - 34);
    {
        std::string text = "<cleanrep>\r\n" + entry("HKCU", "Stale", today - 36) + fresh +
                           "    <other/>\r\n" + entry("HKCU", "Undated", 0) + "</cleanrep>\r\n";
        HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD n;
        WriteFile(h, text.data(), DWORD(text.size()), &n, nullptr);
        CloseHandle(h);
    }
    TfwCleanRep *cleaned = ProcessCleanRep();
    cleaned->Load();
    ASSERT_EQ(cleaned->OtherEntries.size(), 1u);
    EXPECT_EQ(cleaned->OtherEntries[0]->ValueName, "Fresh");
    std::string text;
    ReadFileToString(file, text);
    EXPECT_EQ(text, "<cleanrep>\r\n" + fresh + "</cleanrep>\r\n");

    // The fresh entry hides its value from the scanners.
    EXPECT_FALSE(ScanOne(Item(HKEY_CURRENT_USER, K, "fresh", "1", rtNum, smValue)));

    // Entries are written by root (HKLM, HKCR, others), each once.
    cleaned->Add(HKEY_CLASSES_ROOT, "CLSID\\{x}", "", false);
    cleaned->Add(HKEY_LOCAL_MACHINE, "Software\\A", "v", true);
    cleaned->Add(HKEY_LOCAL_MACHINE, "SOFTWARE\\a", "V", false);
    EXPECT_EQ(cleaned->MachineEntries.size(), 1u);
    ASSERT_TRUE(cleaned->Save());
    ReadFileToString(file, text);
    const std::string d = std::to_string(today);
    EXPECT_EQ(text, "<cleanrep>\r\n"
                    "    <reg root=\"HKLM\" key=\"Software\\A\" name=\"v\" value=\"\" type=\"\" is64=\"1\" scan=\"exists\""
                    " fix=\"\" date=\"" + d + "\" />\r\n"
                    "    <reg root=\"HKCR\" key=\"CLSID\\{x}\" name=\"\" value=\"\" type=\"\" scan=\"exists\" fix=\"\""
                    " date=\"" + d + "\" />\r\n" +
                        fresh + "</cleanrep>\r\n");

    // A damaged file leaves the list alone; the next save replaces the file.
    {
        HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD n;
        WriteFile(h, "\x01<<garbage", 10, &n, nullptr);
        CloseHandle(h);
    }
    cleaned->Load();
    EXPECT_EQ(cleaned->MachineEntries.size() + cleaned->ClassesEntries.size() + cleaned->OtherEntries.size(), 3u);

    TfwCleanRep elsewhere(Folder + "Missing\\cleanrep.xml");
    elsewhere.Add(HKEY_CURRENT_USER, "k", "n", false);
    EXPECT_FALSE(elsewhere.Save()) << "no folder, no file";
    EXPECT_FALSE(DirectoryExists(Folder + "Missing"));
}

TEST_F(RegItems, KeyDetailsFollowTheFoundKey)
{
    PutRaw(HKEY_CURRENT_USER, 0, K, "a", REG_SZ, "1\0"s);
    PutRaw(HKEY_CURRENT_USER, 0, K, "b", REG_SZ, "2\0"s);
    PutRaw(HKEY_CURRENT_USER, 0, K + "\\Sub"s, "c", REG_DWORD, Dword(3));
    Main.Status.Kind = TfwCategoryKind::Fix;
    TfwRegItem *key = Item(HKEY_CURRENT_USER, K, "", "", rtNone, smNone, fmDelete);
    key->Found = key->Selected = true;
    AddKeyDetails(List, *key);

    ASSERT_EQ(List->List.size(), 5u);
    EXPECT_EQ(Main.Status.FixCount, 4);
    std::vector<std::string> lines;
    for (size_t i = 1; i < List->List.size(); ++i) {
        auto *d = dynamic_cast<TfwRegItem *>(List->List[i]);
        EXPECT_TRUE(d->Found && d->Selected && d->IsDetail);
        EXPECT_EQ(d->FixMode, fmDelete);
        lines.push_back(d->Key.substr(sizeof K - 1) + "|" + d->ValueName);
    }
    std::sort(lines.begin(), lines.begin() + 2);
    EXPECT_EQ(lines, (std::vector<std::string>{"|a", "|b", "\\Sub|", "\\Sub|c"}));

    // A detail line is never fixed by itself.
    List->List.back()->Fix();
    EXPECT_EQ(GetRaw(HKEY_CURRENT_USER, 0, K + "\\Sub"s, "c"), "4:" + Dword(3));
}

// A list group of the definitions scans every entry and counts the findings.
TEST_F(RegItems, ListGroupScan)
{
    PutRaw(HKEY_CURRENT_USER, 0, K, "Good", REG_DWORD, Dword(1));
    TfwMain m;
    m.LoadDefinitionsFromText(
        "<fixwell><boost><group id=\"b\"><items type=\"list\">"
        "<reg root=\"HKCU\" key=\"Software\\TovuTest\\RegItems\" name=\"Good\" value=\"1\" type=\"num\" scan=\"value\" fix=\"value\"/>"
        "<reg root=\"HKCU\" key=\"Software\\TovuTest\\RegItems\" name=\"Bad\" value=\"1\" type=\"num\" scan=\"value\" fix=\"value\"/>"
        "<reg root=\"HKCU\" key=\"Software\\TovuTest\\RegItems\" name=\"Absent\" value=\"1\" type=\"num\" scan=\"exists\" fix=\"value\"/>"
        "</items></group></boost></fixwell>");
    ASSERT_NE(m.Boost, nullptr);
    m.ScanAll();
    TfwItems *items = m.Boost->Groups.at(0)->Items;
    EXPECT_EQ(items->Steps, 3);
    EXPECT_EQ(items->FoundCount(), 1);
    EXPECT_TRUE(items->List[1]->Found);
}

} // namespace
