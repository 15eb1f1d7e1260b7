#include "RegSnapshot.h"
#include "backup/fwBackup.h"
#include "engine/fwClasses.h"
#include "engine/fwClassesEx.h"
#include "engine/fwCleanRep.h"
#include "engine/fwExceptions.h"
#include "platform/DirectoryU.h"
#include "platform/FileU.h"
#include "platform/RegistryU.h"
#include "platform/SystemPathsU.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace regtest;

const char K[] = "Software\\TovuTest\\Missing";
const REGSAM V64 = KEY_WOW64_64KEY, V32 = KEY_WOW64_32KEY;
// A folder that does not exist on drive C, so every path below it is missing.
const char Gone[] = "C:\\TovuTestMissingGone\\";

std::string Sz(const std::string &text)
{
    return text + std::string(1, '\0');
}

// "<view>|<root>\<key>|<value name>", view 64 or 32.
std::string Id(bool is64, const std::string &root, const std::string &key, const std::string &name)
{
    return std::string(is64 ? "64" : "32") + "|" + root + "\\" + key + "|" + name;
}

class MissingFiles : public ::testing::Test {
protected:
    TfwMain Main;
    TfwItemsMissingFiles *Scanner = new TfwItemsMissingFiles(&Main);
    std::string Folder, Docs;

    void SetUp() override
    {
        RegView64 = RegView32 = false;
        WipeAll();
        ASSERT_FALSE(DirectoryExists(Gone));
        Folder = TempDir() + "TovuTestMissing\\";
        Docs = Folder + "Docs\\";
        DeleteFolder(Folder, true);
        ForceDirectories(Docs, false, true);
        SetBackupDocumentsFolder(Docs);
        *ProcessExceptions(true) = TfwExceptions();
        TfwCleanRep *cleaned = EnsureCleanReport(Docs + "cleanrep.xml");
        cleaned->FileName = Docs + "cleanrep.xml";
        cleaned->Clear();
    }
    void TearDown() override
    {
        delete Scanner;
        if (IsBackupActive()) EndBackup();
        RegView64 = RegView32 = false;
        WipeAll();
        *ProcessExceptions(true) = TfwExceptions();
        ProcessCleanRep()->Clear();
        SetBackupDocumentsFolder("");
        DeleteFolder(Folder, true);
    }
    void WipeAll()
    {
        Wipe(HKEY_CURRENT_USER, 0, K);
        Wipe(HKEY_LOCAL_MACHINE, V64, K);
        Wipe(HKEY_LOCAL_MACHINE, V32, K);
    }

    std::set<std::string> Findings()
    {
        std::set<std::string> ids;
        for (TfwItem *item : Scanner->List) {
            auto *reg = dynamic_cast<TfwRegItem *>(item);
            if (!reg) continue;
            EXPECT_TRUE(reg->Found && reg->Selected);
            EXPECT_EQ(reg->FixMode, int(fmDelete));
            EXPECT_TRUE(ids.insert(Id(reg->Is64, RegRootName(reg->Root), reg->Key, reg->ValueName)).second)
                << "reported twice: " << reg->Key << "|" << reg->ValueName;
        }
        return ids;
    }

    // Plants sound and broken values in the scratch keys; returns what a scan
    // must report.
    std::set<std::string> Plant()
    {
        const std::string k = K;
        const std::string existing = Folder + "Present App.exe";
        HANDLE h = CreateFileA(existing.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        EXPECT_NE(h, INVALID_HANDLE_VALUE);
        CloseHandle(h);
        std::set<std::string> want;
        SetEnvironmentVariableA("TOVU_TEST_UNSET", nullptr);
        auto broken = [&](HKEY root, REGSAM view, const std::string &key, const std::string &name, DWORD type,
                          const std::string &text, bool reported64, bool reported32) {
            PutRaw(root, view, key, name, type, Sz(text));
            const std::string rn = root == HKEY_CURRENT_USER ? "HKCU" : "HKLM";
            // Without WOW64 there is one view: whatever a view would report is
            // reported once, by the only pass.
            if (reported32 || (reported64 && !Is64BitOS())) want.insert(Id(false, rn, key, name));
            if (reported64 && Is64BitOS()) want.insert(Id(true, rn, key, name));
        };
        // HKCU\Software is one key for both views: each value once, from the first pass.
        const std::string vendor = k + "\\Vendor";
        broken(HKEY_CURRENT_USER, 0, vendor, "Path", REG_SZ, std::string(Gone) + "app.exe", false, true);
        broken(HKEY_CURRENT_USER, 0, vendor, "Exp", REG_EXPAND_SZ, "%SystemDrive%\\TovuTestMissingGone\\b.dll", false,
               true);
        broken(HKEY_CURRENT_USER, 0, vendor, "", REG_SZ, "\"" + std::string(Gone) + "c.exe\" /run", false, true);
        broken(HKEY_CURRENT_USER, 0, vendor, "Padded", REG_SZ, "  " + std::string(Gone) + "d.exe  ", false, true);
        // Sound or never examined.
        const char *sound[][2] = {
            {"Exists", nullptr},
            {"Dir", nullptr},
            {"Sys", "%SystemRoot%\\notepad.exe"},
            {"Bare", "gone-app.exe"},
            {"List", "C:\\TovuTestMissingGone\\a.exe;C:\\TovuTestMissingGone\\b.exe"},
            {"Net", "\\\\server\\share\\TovuTestMissingGone\\x.exe"},
            {"Unset", "C:\\%TOVU_TEST_UNSET%\\x.exe"},
            {"BlankAfterSlash", "C:\\TovuTestMissingGone\\ x.exe"},
            {"CR", "C:\\TovuTestMissingGone\\x.exe\r\nC:\\TovuTestMissingGone\\y.exe"},
        };
        for (auto &s : sound) {
            std::string text = s[1] ? s[1] : std::string(s[0]) == "Exists" ? "\"" + existing + "\" /x" : Folder;
            PutRaw(HKEY_CURRENT_USER, 0, vendor, s[0], std::string(s[0]) == "Sys" ? REG_EXPAND_SZ : REG_SZ, Sz(text));
        }
        PutRaw(HKEY_CURRENT_USER, 0, vendor, "Multi", REG_MULTI_SZ, Sz(std::string(Gone) + "m.exe") + '\0');
        PutRaw(HKEY_CURRENT_USER, 0, vendor, "Bin", REG_BINARY, std::string(Gone) + "b.exe");
        // Characters no narrow code page carries (Devanagari): the narrow text
        // is not the stored path, so the value is left alone.
        {
            HKEY key;
            std::wstring wide = L"C:\\TovuTestMissingGone\\\x0915\x093F.exe";
            if (RegCreateKeyExA(HKEY_CURRENT_USER, vendor.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) ==
                0) {
                RegSetValueExW(key, L"Wide", 0, REG_SZ, reinterpret_cast<const BYTE *>(wide.c_str()),
                               DWORD((wide.size() + 1) * sizeof(wchar_t)));
                RegCloseKey(key);
            }
        }
        // Taken out by the process-wide exception list.
        broken(HKEY_CURRENT_USER, 0, vendor, "Excepted", REG_SZ, std::string(Gone) + "e.exe", false, false);
        TfwRegException ex;
        ex.Root = HKEY_CURRENT_USER;
        ex.Key = "SOFTWARE\\TOVUTEST\\MISSING\\VENDOR";
        ex.ValueName = "EXCEPTED";
        ex.Ignore = 2;
        ProcessExceptions(true)->RegExceptions.push_back(ex);

        // Ignored key with one special subtree below it.
        broken(HKEY_CURRENT_USER, 0, k + "\\Ign", "P", REG_SZ, std::string(Gone) + "i.exe", false, false);
        broken(HKEY_CURRENT_USER, 0, k + "\\Ign\\Other", "P", REG_SZ, std::string(Gone) + "i.exe", false, false);
        broken(HKEY_CURRENT_USER, 0, k + "\\Ign\\Keep", "P", REG_SZ, std::string(Gone) + "k.exe", false, true);
        broken(HKEY_CURRENT_USER, 0, k + "\\Ign\\Keep\\Sub", "P", REG_SZ, std::string(Gone) + "k.exe", false, true);
        // The scanner's own exception list: key part anywhere in the path, any case.
        broken(HKEY_CURRENT_USER, 0, k + "\\Sys\\control\\crashcontrol", "dumpfile", REG_SZ,
               std::string(Gone) + "memory.dmp", false, false);
        broken(HKEY_CURRENT_USER, 0, k + "\\Sys\\control\\crashcontrol", "Other", REG_SZ,
               std::string(Gone) + "memory.dmp", false, true);
        // Depth: level 25 below the scan root is examined, level 26 is not.
        std::string deep = k;
        for (int level = 1; level <= 26; ++level) {
            deep += "\\L" + std::to_string(level);
            if (level >= 24)
                broken(HKEY_CURRENT_USER, 0, deep, "V", REG_SZ, std::string(Gone) + "deep.exe", false, level <= 25);
        }
        // HKLM\Software differs per view: a key in each view is its own value.
        broken(HKEY_LOCAL_MACHINE, V64, k + "\\Only64", "P", REG_SZ, std::string(Gone) + "p.exe", true, false);
        broken(HKEY_LOCAL_MACHINE, V32, k + "\\Only32", "P", REG_SZ, std::string(Gone) + "p.exe", false, true);
        broken(HKEY_LOCAL_MACHINE, V64, k + "\\Both", "P", REG_SZ, std::string(Gone) + "p.exe", true, false);
        broken(HKEY_LOCAL_MACHINE, V32, k + "\\Both", "P", REG_SZ, std::string(Gone) + "p.exe", false, true);
        return want;
    }

    void UseScratchLists()
    {
        Scanner->ScanList = {"HKCU\\" + std::string(K), "HKLM\\" + std::string(K)};
        Scanner->IgnoreList = {"hkcu\\software\\tovutest\\missing\\IGN"};
        Scanner->SpecialList = {"HKCU\\Software\\TovuTest\\Missing\\Ign\\Keep"};
        Scanner->ExceptList = {"\\Control\\CrashControl=DUMPFILE"};
    }
};

TEST_F(MissingFiles, ReportsEachMissingFileOnceAndNothingElse)
{
    // The scratch key shared by both views is one key: what the test relies on.
    PutRaw(HKEY_CURRENT_USER, V64, K, "probe", REG_SZ, Sz("x"));
    ASSERT_EQ(GetRaw(HKEY_CURRENT_USER, V32, K, "probe"), GetRaw(HKEY_CURRENT_USER, V64, K, "probe"));
    Wipe(HKEY_CURRENT_USER, 0, K);

    const std::set<std::string> want = Plant();
    UseScratchLists();
    Scanner->Scan();
    EXPECT_EQ(Findings(), want);
    EXPECT_EQ(Scanner->Steps, Is64BitOS() ? 4 : 2);
    EXPECT_FALSE(RegView64 || RegView32);  // the scan leaves the thread's view as it found it

    // The value as read, untrimmed, is what the item holds.
    for (TfwItem *item : Scanner->List) {
        auto *reg = static_cast<TfwRegItem *>(item);
        if (reg->ValueName == "Padded") EXPECT_EQ(reg->Value, "  " + std::string(Gone) + "d.exe  ");
    }
}

TEST_F(MissingFiles, ScratchAreaWithoutBrokenValuesReportsNothing)
{
    const std::string existing = Folder + "tool.exe";
    HANDLE h = CreateFileA(existing.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    PutRaw(HKEY_CURRENT_USER, 0, std::string(K) + "\\A", "Tool", REG_SZ, Sz(existing + ",-1"));
    PutRaw(HKEY_CURRENT_USER, 0, std::string(K) + "\\A", "Folder", REG_SZ, Sz(Folder));
    PutRaw(HKEY_LOCAL_MACHINE, V64, std::string(K) + "\\B", "", REG_EXPAND_SZ, Sz("%SystemRoot%\\regedit.exe"));
    PutRaw(HKEY_LOCAL_MACHINE, V32, std::string(K) + "\\B", "", REG_SZ, Sz("\"" + existing + "\" /q"));
    UseScratchLists();
    Scanner->Scan();
    EXPECT_EQ(Findings(), std::set<std::string>());
}

TEST_F(MissingFiles, FixRemovesExactlyTheFindingsAndTheBackupRestoresThem)
{
    Plant();
    const auto hkcu = Snapshot(HKEY_CURRENT_USER, 0, K);
    const auto hklm64 = Snapshot(HKEY_LOCAL_MACHINE, V64, K);
    const auto hklm32 = Snapshot(HKEY_LOCAL_MACHINE, V32, K);
    UseScratchLists();
    Scanner->Scan();
    const std::set<std::string> found = Findings();
    ASSERT_FALSE(found.empty());

    BeginBackup(bkFix, L"Missing files");
    Scanner->Backup();
    const std::string document = EndBackup();
    ASSERT_FALSE(document.empty());
    Scanner->Fix();

    // Every finding is gone; every other value and every key is as it was (the
    // default-value finding takes only that value, never its key).
    auto check = [&](HKEY root, REGSAM view, const std::map<std::string, std::string> &before) {
        const auto after = Snapshot(root, view, K);
        const std::string rn = root == HKEY_CURRENT_USER ? "HKCU" : "HKLM";
        for (const auto &[rel, raw] : before) {
            size_t bar = rel.find('|');
            if (bar == std::string::npos) {
                EXPECT_TRUE(after.count(rel)) << "key lost: " << rel;
                continue;
            }
            const std::string key = std::string(K) + rel.substr(0, bar);
            const std::string name = rel.substr(bar + 1);
            const bool removed = found.count(Id(view == V64, rn, key, name)) > 0;
            if (removed) EXPECT_FALSE(after.count(rel)) << "not fixed: " << rel;
            else EXPECT_EQ(after.count(rel) ? after.at(rel) : "<none>", raw) << "changed: " << rel;
        }
    };
    check(HKEY_CURRENT_USER, 0, hkcu);
    if (Is64BitOS()) check(HKEY_LOCAL_MACHINE, V64, hklm64);
    check(HKEY_LOCAL_MACHINE, V32, hklm32);

    // The fixed values are remembered as cleaned: a new scan does not offer
    // them again.
    TfwItemsMissingFiles again(&Main);
    again.ScanList = Scanner->ScanList;
    again.IgnoreList = Scanner->IgnoreList;
    again.SpecialList = Scanner->SpecialList;
    again.ExceptList = Scanner->ExceptList;
    again.Scan();
    EXPECT_TRUE(again.List.empty());

    TfwBackup backup(document);
    EXPECT_GT(Restore(backup), 0);
    EXPECT_EQ(Snapshot(HKEY_CURRENT_USER, 0, K), hkcu);
    EXPECT_EQ(Snapshot(HKEY_LOCAL_MACHINE, V64, K), hklm64);
    EXPECT_EQ(Snapshot(HKEY_LOCAL_MACHINE, V32, K), hklm32);
}

TEST_F(MissingFiles, StopEndsTheScanAndKeepsWhatWasFound)
{
    Plant();
    UseScratchLists();
    Main.Stopped = true;
    Scanner->Scan();
    EXPECT_TRUE(Scanner->List.empty());
}

// The shipped lists over the whole prefix registry: every finding must name a
// file that is really missing, and the walk must honour the ignore list.
TEST_F(MissingFiles, ShippedListsReportOnlyMissingFiles)
{
    TfwMain shipped;
    shipped.LoadDefinitions();
    TfwGroup *group = shipped.GroupById("reg-missing-files");
    ASSERT_NE(group, nullptr);
    auto *items = dynamic_cast<TfwItemsMissingFiles *>(group->Items);
    ASSERT_NE(items, nullptr);
    ASSERT_FALSE(items->ScanList.empty());

    DWORD start = GetTickCount();
    items->Scan();
    DWORD took = GetTickCount() - start;
    std::printf("[ shipped lists ] %u findings in %lu ms\n", unsigned(items->List.size()), (unsigned long)took);

    for (TfwItem *item : items->List) {
        auto *reg = static_cast<TfwRegItem *>(item);
        const std::string full = RegFullKeyName(reg->Root, reg->Key);
        std::string upper = full;
        CharUpperBuffA(upper.data(), DWORD(upper.size()));
        if (upper.rfind("HKCU\\SOFTWARE\\MICROSOFT\\", 0) == 0 || upper.rfind("HKLM\\SOFTWARE\\MICROSOFT\\", 0) == 0) {
            const std::string below = upper.substr(24);
            EXPECT_TRUE(below.rfind("INSTALLER", 0) == 0 || below.rfind("WINDOWS\\CURRENTVERSION\\UNINSTALL", 0) == 0)
                << "ignored key walked: " << full;
        }
        // Independent look at the file: expand the text, take the path up to
        // the first blank after the last backslash's name part, probe both
        // file-system views.
        char expanded[2048] = {};
        std::string text = reg->Value;
        size_t b = text.find_first_not_of(" \t\"");
        text = b == std::string::npos ? "" : text.substr(b);
        ExpandEnvironmentStringsA(text.c_str(), expanded, sizeof expanded);
        std::string path = expanded;
        path = path.substr(0, path.find_first_of("\","));
        bool seen = FileExists(path) || DirectoryExists(path);
        {
            TFsRedirectionOff off;
            seen = seen || FileExists(path) || DirectoryExists(path);
        }
        EXPECT_FALSE(seen) << full << "\\" << reg->ValueName << " = " << reg->Value;
        std::printf("  %s%s\\%s = %s\n", reg->Is64 ? "[64] " : "", full.c_str(), reg->ValueName.c_str(),
                    reg->Value.c_str());
    }
}

} // namespace
