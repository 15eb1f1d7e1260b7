// Shared set-up of the registration-scanner scenario tests: a scratch folder
// with files that exist, a fix tree that runs one scanner, the backup folder
// and the list of cleaned entries moved into the scratch folder, and an
// independent, deliberately simple existence check for what scanners report.
#pragma once

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

#include <string>
#include <vector>

namespace scantest {

const REGSAM V64 = KEY_WOW64_64KEY, V32 = KEY_WOW64_32KEY;

inline std::string Lower(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

inline bool Contains(const std::string &text, const std::string &part)
{
    return Lower(text).find(Lower(part)) != std::string::npos;
}

inline bool WriteBytes(const std::string &path, const std::string &bytes)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD n = 0;
    bool ok = WriteFile(h, bytes.data(), DWORD(bytes.size()), &n, nullptr) && n == bytes.size();
    CloseHandle(h);
    return ok;
}

// True when the text plainly names an existing file or folder: the quoted
// part or the whole text, environment variables expanded, cut at the first
// comma, looked up as it is (with redirection on and off) or, for a bare name,
// on the search path. It knows fewer forms than the engine, so it never says
// "exists" where the engine could rightly say "missing".
inline bool PlainlyExists(const std::string &text)
{
    std::string t = text;
    while (!t.empty() && t[0] == ' ') t.erase(0, 1);
    if (!t.empty() && t[0] == '"') {
        size_t close = t.find('"', 1);
        t = close == std::string::npos ? t.substr(1) : t.substr(1, close - 1);
    }
    size_t comma = t.find(',');
    if (comma != std::string::npos) t.resize(comma);
    while (!t.empty() && t.back() == ' ') t.pop_back();
    if (t.empty()) return false;
    char buf[2048];
    DWORD n = ExpandEnvironmentStringsA(t.c_str(), buf, sizeof buf);
    if (n > 0 && n <= sizeof buf) t = buf;
    if (GetFileAttributesA(t.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    {
        TFsRedirectionOff off;
        if (GetFileAttributesA(t.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    }
    if (t.find('\\') == std::string::npos) {
        char found[MAX_PATH];
        if (SearchPathA(nullptr, t.c_str(), ".exe", MAX_PATH, found, nullptr)) return true;
    }
    return false;
}

// Whether the 32-bit and the 64-bit view reach the same key below parent,
// seen through the raw registry: a probe subkey made in the 32-bit view is
// looked for in the 64-bit one.
inline bool SharedInBothViews(HKEY root, const std::string &parent)
{
    const std::string probe = parent + "\\TovuViewProbe";
    regtest::Wipe(root, V32, probe);
    regtest::Wipe(root, V64, probe);
    regtest::MakeKey(root, V32, probe);
    bool shared = regtest::KeyExists(root, V64, probe);
    regtest::Wipe(root, V32, probe);
    regtest::Wipe(root, V64, probe);
    return shared;
}

class ScanTest : public ::testing::Test {
protected:
    std::string Folder;  // scratch folder, with a backslash

    void SetUp() override
    {
        RegView64 = RegView32 = false;
        *ProcessExceptions(true) = TfwExceptions();
        Folder = TempDir() + "TovuTestScan\\";
        DeleteFolder(Folder, true);
        ForceDirectories(Folder + "Backup", false, true);
        // Whoever made the process-wide list first, these tests own its file.
        TfwCleanRep *cleaned = EnsureCleanReport(Folder + "Backup\\cleanrep.xml");
        cleaned->FileName = Folder + "Backup\\cleanrep.xml";
        cleaned->Clear();
        SetBackupDocumentsFolder(Folder + "Backup\\");
    }
    void TearDown() override
    {
        RegView64 = RegView32 = false;
        *ProcessExceptions(true) = TfwExceptions();
        ProcessCleanRep()->Clear();
        SetBackupDocumentsFolder("");
        DeleteFolder(Folder, true);
    }

    // A file that exists in the scratch folder.
    std::string Existing(const std::string &name)
    {
        std::string path = Folder + name;
        EXPECT_TRUE(WriteBytes(path, "MZ")) << path;
        return path;
    }
};

// A fix category with one group that runs the scanner; the scan counts into
// the fix category as a real run does.
struct FixTree {
    TfwMain Main;
    TfwGroup *Group = nullptr;

    template <class T>
    T *Make()
    {
        Main.Fix = new TfwCategory(&Main, TfwCategoryKind::Fix);
        Group = new TfwGroup(&Main);
        Group->Id = "under-test";
        auto *scanner = new T(&Main);
        Group->Items = scanner;
        Main.Fix->Groups.push_back(Group);
        return scanner;
    }

    // Runs the scan; returns the problems counted while it ran.
    int Scan()
    {
        Main.Status.Clear();
        Main.Status.Kind = TfwCategoryKind::Fix;
        Main.Status.Phase = TfwPhase::Scanning;
        Group->Items->Scan();
        RegView64 = RegView32 = false;
        return Main.Status.FixCount;
    }

    // Keeps only the findings for which ours is true selected, then runs the
    // repair with its backup document.
    template <class F>
    void FixOnly(F ours)
    {
        for (TfwItem *i : Group->Items->List) i->Selected = ours(i);
        Main.FixCategories(TfwCategoryKind::Fix);
        RegView64 = RegView32 = false;
    }
};

// The one fix document of the scratch backup folder, restored.
inline int RestoreOnlyBackup()
{
    TfwBackups backups;
    backups.Load();
    EXPECT_EQ(backups.FixBackups.size(), 1u);
    if (backups.FixBackups.size() != 1) return -1;
    int n = Restore(*backups.FixBackups[0]);
    RegView64 = RegView32 = false;
    return n;
}

} // namespace scantest
