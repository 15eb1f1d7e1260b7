#include "OtherThread.h"
#include "platform/RegistryU.h"
#include "platform/SystemLibraryU.h"
#include "platform/SystemPathsU.h"
#include "platform/SystemPathsUtilsU.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string Lower(std::string s)
{
    CharLowerBuffA(s.data(), static_cast<DWORD>(s.size()));
    return s;
}

// Machine field of a PE file's header; 0 when it cannot be read. Tells the
// 32-bit system folder (0x14C) from the 64-bit one (0x8664).
WORD PeMachine(const std::string &file)
{
    HANDLE h = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 0;
    char buf[1024] = {};
    DWORD got = 0;
    ReadFile(h, buf, sizeof buf, &got, nullptr);
    CloseHandle(h);
    LONG pe = *reinterpret_cast<LONG *>(buf + 0x3C);
    if (got < 64 || pe < 0 || pe + 6 > static_cast<LONG>(got) || memcmp(buf + pe, "PE\0\0", 4) != 0) return 0;
    return *reinterpret_cast<WORD *>(buf + pe + 4);
}

const WORD Machine32 = 0x14C, Machine64 = 0x8664;

WORD SystemKernelMachine()
{
    return PeMachine(SystemDir() + "kernel32.dll");
}


struct Child {
    DWORD exitCode = 0xFFFFFFFF;
    std::string output;
};

// Runs a program with its standard output and error collected.
Child RunChild(const std::string &commandLine)
{
    Child child;
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return child;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = writeEnd;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi = {};
    std::string cmd = commandLine;
    BOOL started = CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(writeEnd);
    if (started) {
        char buf[4096];
        DWORD got;
        while (ReadFile(readEnd, buf, sizeof buf, &got, nullptr) && got > 0) child.output.append(buf, got);
        WaitForSingleObject(pi.hProcess, 60000);
        GetExitCodeProcess(pi.hProcess, &child.exitCode);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    CloseHandle(readEnd);
    return child;
}

using Getter = std::string (*)();

struct NamedGetter {
    const char *name;
    Getter get;
};

const NamedGetter Folders[] = {
    {"WindowsDir", WindowsDir},
    {"SystemDir", SystemDir},
    {"SystemDir32", SystemDir32},
    {"SystemDir64", SystemDir64},
    {"SystemDiskRoot", SystemDiskRoot},
    {"TempDir", TempDir},
    {"UserProfileDir", UserProfileDir},
    {"AppDataDir", AppDataDir},
    {"CommonAppDataDir", CommonAppDataDir},
    {"FavoritesDir", FavoritesDir},
    {"DesktopDir", DesktopDir},
    {"CommonDesktopDir", CommonDesktopDir},
    {"StartMenuDir", StartMenuDir},
    {"CommonStartMenuDir", CommonStartMenuDir},
    {"ProgramsDir", ProgramsDir},
    {"CommonProgramsDir", CommonProgramsDir},
    {"StartupDir", StartupDir},
    {"CommonStartupDir", CommonStartupDir},
    {"UserDocumentsDir", UserDocumentsDir},
    {"AllUsersDocumentsDir", AllUsersDocumentsDir},
    {"DownloadedProgramFilesDir", DownloadedProgramFilesDir},
    {"ProgramFilesDir", ProgramFilesDir},
    {"ProgramFiles32Dir", ProgramFiles32Dir},
    {"ProgramFiles64Dir", ProgramFiles64Dir},
    {"CommonFilesDir", CommonFilesDir},
    {"CommonFiles32Dir", CommonFiles32Dir},
    {"CommonFiles64Dir", CommonFiles64Dir},
};

// Run in a fresh process by the version test below (and harmlessly in the
// normal run): reports the version class, and checks that folders cached by a
// thread that selected the 64-bit registry view are still this program's own.
TEST(SystemPathsChild, ReportAndFirstUse)
{
    RegView64 = true;
    std::string programFiles = ProgramFilesDir();
    RegView64 = false;
    std::string expected;
    ASSERT_TRUE(RegReadStr(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
                           expected));
    EXPECT_EQ(programFiles, expected + "\\");
    // Before Vista these come from the Shell Folders values.
    EXPECT_FALSE(AppDataDir().empty());
    EXPECT_FALSE(CommonAppDataDir().empty());
    EXPECT_FALSE(FavoritesDir().empty());
    OSVERSIONINFOEXA vi = {};
    vi.dwOSVersionInfoSize = sizeof vi;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExA(reinterpret_cast<OSVERSIONINFOA *>(&vi));
#pragma GCC diagnostic pop
    std::printf("OSCLASS=%d (%lu.%lu type %u sp %u)\n", OSVersionClass(), vi.dwMajorVersion, vi.dwMinorVersion,
                vi.wProductType, vi.wServicePackMajor);
    std::fflush(stdout);
}

// Libraries loaded on demand come from the system folder only; a name that
// carries a path of its own is refused.
TEST(SystemPaths, OnDemandLibrariesComeFromTheSystemFolder)
{
    char sys[MAX_PATH] = {};
    UINT n = GetSystemDirectoryA(sys, MAX_PATH);
    ASSERT_GT(n, 0u);
    HMODULE lib = LoadSystemLibrary("version.dll");
    ASSERT_NE(lib, nullptr);
    char where[MAX_PATH] = {};
    GetModuleFileNameA(lib, where, MAX_PATH);
    EXPECT_EQ(lstrcmpiA(std::string(where).substr(0, n).c_str(), sys), 0) << where;
    for (const char *name : {"", "..\\version.dll", "C:\\version.dll", "sub/version.dll", "tovu-no-such.dll"})
        EXPECT_EQ(LoadSystemLibrary(name), nullptr) << name;
}

TEST(SystemPaths, VersionClassFollowsReportedVersion)
{
    char self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
    const std::string exeName = "tovu_osclass_" + std::to_string(GetCurrentProcessId()) + ".exe";
    const std::string copy = TempDir() + exeName;
    const std::string overrideKey = "Software\\Wine\\AppDefaults\\" + exeName;
    struct Cleanup {
        std::string key, file;
        ~Cleanup()
        {
            RegRemoveKeyTree(HKEY_CURRENT_USER, key, true);
            DeleteFileA(file.c_str());
        }
    } cleanup{overrideKey, copy};
    ASSERT_TRUE(CopyFileA(self, copy.c_str(), FALSE));

    // One case each side of the XP/Vista line, where the folder sources change;
    // each child is slow under Wine and VersionClassOfRecord covers every class.
    // (Wine 10 reports "win7" as a 6.1 server, so it cannot stand for Windows 7.)
    struct Case {
        const char *version;
        int cls;
    };
    const Case cases[] = {{"winxp", OSClassXPSP2}, {"vista", OSClassVista}};
    for (const auto &c : cases) {
        ASSERT_TRUE(RegWriteStr(HKEY_CURRENT_USER, overrideKey, "Version", c.version));
        Child child = RunChild("\"" + copy + "\" --gtest_filter=SystemPathsChild.*");
        EXPECT_EQ(child.exitCode, 0u) << c.version << "\n" << child.output;
        size_t at = child.output.find("OSCLASS=");
        int cls = at == std::string::npos ? -1 : std::atoi(child.output.c_str() + at + 8);
        EXPECT_EQ(cls, c.cls) << c.version << "\n" << child.output;
    }
}

TEST(SystemPaths, VersionClassOfRecord)
{
    const DWORD NT = VER_PLATFORM_WIN32_NT, W9x = VER_PLATFORM_WIN32_WINDOWS;
    struct Case {
        DWORD platform, major, minor;
        bool workstation;
        DWORD sp;
        int cls;
    };
    const Case cases[] = {
        {W9x, 4, 0, true, 0, OSClassWin95},    {W9x, 4, 10, true, 0, OSClassWin98},
        {W9x, 4, 90, true, 0, OSClassWinMe},   {VER_PLATFORM_WIN32s, 3, 10, true, 0, OSClassWin95},
        {NT, 4, 0, true, 6, OSClassNT4},       {NT, 3, 51, false, 0, OSClassNT4},
        {NT, 5, 0, false, 4, OSClassWin2000},  {NT, 5, 1, true, 1, OSClassXP},
        {NT, 5, 1, true, 2, OSClassXPSP2},     {NT, 5, 2, true, 2, OSClassXPSP2},  // XP x64
        {NT, 5, 2, false, 2, OSClassServer2003}, {NT, 6, 0, true, 0, OSClassVista},
        {NT, 6, 0, false, 2, OSClassServer2008}, {NT, 6, 1, false, 1, OSClassServer2008R2},
        {NT, 6, 1, true, 1, OSClassWin7},      {NT, 6, 2, true, 0, OSClassWin7},
        {NT, 10, 0, true, 0, OSClassWin7},     {NT, 10, 0, false, 0, OSClassServer2008R2},
    };
    for (const auto &c : cases)
        EXPECT_EQ(OSVersionClassOf(c.platform, c.major, c.minor, c.workstation, c.sp), c.cls)
            << c.platform << " " << c.major << "." << c.minor << " ws=" << c.workstation;
}

TEST(SystemPaths, KnownFoldersAreCachedFolders)
{
    for (const auto &f : Folders) {
        std::string path = f.get();
        if (path.empty()) continue;
        EXPECT_EQ(path.back(), '\\') << f.name << " " << path;
        EXPECT_EQ(path.find('\0'), std::string::npos) << f.name;
        EXPECT_EQ(f.get(), path) << f.name;
    }
    for (Getter always : {WindowsDir, SystemDir, SystemDiskRoot, TempDir, UserProfileDir, AppDataDir,
                          CommonAppDataDir, ProgramFilesDir, ProgramFiles64Dir, CommonFilesDir, UserDocumentsDir})
        EXPECT_FALSE(always().empty());

    char buf[MAX_PATH];
    GetWindowsDirectoryA(buf, MAX_PATH);
    EXPECT_EQ(WindowsDir(), std::string(buf) + "\\");
    EXPECT_EQ(SystemDiskRoot(), WindowsDir().substr(0, 3));
    EXPECT_NE(GetFileAttributesA(TempDir().c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(TempDir().find('~'), std::string::npos) << TempDir();
    // The temporary folder lies in the profile, which the reverse list relies on.
    EXPECT_EQ(Lower(TempDir()).rfind(Lower(UserProfileDir()), 0), 0u);
}

TEST(SystemPaths, FoldersOfBothViews)
{
    if (Is64BitOS()) {
        EXPECT_EQ(Lower(SystemDir32()), Lower(WindowsDir() + "SysWOW64\\"));
        EXPECT_NE(Lower(ProgramFiles64Dir()), Lower(ProgramFilesDir()));
        EXPECT_NE(Lower(CommonFiles64Dir()), Lower(CommonFilesDir()));
        EXPECT_EQ(Lower(ProgramFiles32Dir()), Lower(ProgramFilesDir()));
        if (OSVersionClass() > OSClassServer2003) {
            EXPECT_EQ(SystemDir64(), WindowsDir() + "sysnative\\");
            EXPECT_EQ(PeMachine(SystemDir64() + "kernel32.dll"), Machine64);
        }
    } else {
        EXPECT_EQ(SystemDir32(), SystemDir());
        EXPECT_EQ(SystemDir64(), SystemDir());
        EXPECT_EQ(ProgramFiles64Dir(), ProgramFilesDir());
        EXPECT_EQ(CommonFiles64Dir(), CommonFilesDir());
    }
}

TEST(SystemPaths, RedirectionPerThreadAndNested)
{
    ASSERT_EQ(SystemKernelMachine(), Machine32);
    if (!Is64BitOS()) {
        EXPECT_TRUE(DisableFsRedirection());
        EXPECT_EQ(SystemKernelMachine(), Machine32);
        EXPECT_TRUE(RevertFsRedirection());
        return;
    }

    ASSERT_TRUE(DisableFsRedirection());
    EXPECT_EQ(SystemKernelMachine(), Machine64);
    WORD other = 0;
    OtherThread([&] { other = SystemKernelMachine(); });
    EXPECT_EQ(other, Machine32);

    // An inner pair (a helper called while the caller has it off) must not
    // switch redirection back on under the caller.
    ASSERT_TRUE(DisableFsRedirection());
    EXPECT_TRUE(RevertFsRedirection());
    EXPECT_EQ(SystemKernelMachine(), Machine64);
    EXPECT_TRUE(RevertFsRedirection());
    EXPECT_EQ(SystemKernelMachine(), Machine32);
    EXPECT_FALSE(RevertFsRedirection());
    EXPECT_EQ(SystemKernelMachine(), Machine32);

    // The scoped form restores on every way out.
    auto probe = [](bool early) -> WORD {
        TFsRedirectionOff off;
        if (!off.Ok() || early) return SystemKernelMachine();
        try {
            throw 1;
        } catch (int) {
        }
        return SystemKernelMachine();
    };
    EXPECT_EQ(probe(true), Machine64);
    EXPECT_EQ(SystemKernelMachine(), Machine32);
    EXPECT_EQ(probe(false), Machine64);
    EXPECT_EQ(SystemKernelMachine(), Machine32);
}

class SystemPathsExpand : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetEnvironmentVariableA("TOVU_PATHS_DIR", "C:\\Some\\Dir");
        SetEnvironmentVariableA("TOVU_PATHS_UNC", "\\\\srv\\share");
        SetEnvironmentVariableA("TOVU_PATHS_LONG", std::string(1100, 'x').c_str());
        SetEnvironmentVariableA("TOVU_PATHS_NOSUCH", nullptr);
    }
    void TearDown() override
    {
        for (const char *name : {"TOVU_PATHS_DIR", "TOVU_PATHS_UNC", "TOVU_PATHS_LONG"})
            SetEnvironmentVariableA(name, nullptr);
    }
};

TEST_F(SystemPathsExpand, Texts)
{
    struct Case {
        std::string text, expected;
    };
    const std::string win = WindowsDir();
    const Case cases[] = {
        {"%windir%\\system32", win + "system32"},
        {"%SYSTEMROOT%", win},
        {"%ProgramFiles%%TEMP%", ProgramFilesDir() + TempDir()},
        {"%tovu_paths_nosuch%\\x", "%TOVU_PATHS_NOSUCH%\\x"},
        {"%tovu_paths_dir%\\x", "C:\\Some\\Dir\\x"},
        {"%TOVU_PATHS_LONG%\\x", "%TOVU_PATHS_LONG%\\x"},
        {"\\SystemRoot\\System32\\drivers\\x.sys", win + "System32\\drivers\\x.sys"},
        {"\\systemroot\\x", win + "x"},
        {"\\SystemRootX\\x", "\\SystemRootX\\x"},
        {"C:\\a\\\\b", "C:\\a\\\\b"},
        {"%WINDIR", "%WINDIR"},
        {"%WINDIR%x%y", win + "x%y"},
        {"%SYSROOT%\\found*\\*.chk", SystemDiskRoot() + "found*\\*.chk"},
        {"%SystemDiskRoot%\\x", SystemDiskRoot() + "x"},
        {"%COMMONPROGRAMFILES(x86)%\\x", CommonFiles32Dir() + "x"},
        {"\\\\server\\share\\%tovu_paths_nosuch%", "\\\\server\\share\\%TOVU_PATHS_NOSUCH%"},
        {"%TOVU_PATHS_UNC%\\x", "\\\\srv\\share\\x"},
        {"", ""},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ExpandPath(c.text), c.expected) << c.text;
        if (!Is64BitOS()) EXPECT_EQ(ExpandPath64(c.text), c.expected) << c.text;
    }
}

TEST_F(SystemPathsExpand, ModesPickTheirFolders)
{
    struct Case {
        const char *text;
        std::string mode32, mode64;
    };
    const Case cases[] = {
        {"%PROGRAMFILES%\\a", ProgramFilesDir() + "a", ProgramFiles64Dir() + "a"},
        {"%COMMONFILES%\\a", CommonFilesDir() + "a", CommonFiles64Dir() + "a"},
        {"%COMMONPROGRAMFILES%\\a", CommonFilesDir() + "a", CommonFiles64Dir() + "a"},
        {"%PROGRAMFILES32%\\a", ProgramFiles32Dir() + "a", ProgramFiles32Dir() + "a"},
        {"%PROGRAMFILES64%\\a", ProgramFiles64Dir() + "a", ProgramFiles64Dir() + "a"},
        {"%SYSDIR%\\a", SystemDir() + "a", SystemDir() + "a"},
        {"%SYSDIR64%\\a", SystemDir64() + "a", SystemDir64() + "a"},
        {"%SYSDIRWOW64%\\a", SystemDir32() + "a", SystemDir32() + "a"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ExpandPath(c.text), c.mode32) << c.text;
        EXPECT_EQ(ExpandPath64(c.text), c.mode64) << c.text;
    }
    if (Is64BitOS())
        EXPECT_NE(ExpandPath("%PROGRAMFILES%"), ExpandPath64("%PROGRAMFILES%"));
    if (Is64BitOS() && OSVersionClass() > OSClassServer2003)
        EXPECT_EQ(ExpandPath("%SYSDIR64%\\a"), WindowsDir() + "sysnative\\a");

}

TEST(SystemPathsMacro, ReverseSubstitution)
{
    struct Case {
        std::string path, expected;
        bool is64;
    };
    std::vector<Case> cases = {
        {Lower(ProgramFilesDir()) + "App\\X.exe", "%PROGRAMFILES%\\App\\X.exe", false},
        {TempDir() + "f.tmp", "%TEMP%\\f.tmp", false},
        {AppDataDir() + "Vendor\\a.dat", "%APPDATA%\\Vendor\\a.dat", false},
        {UserProfileDir() + "x.txt", "%USERPROFILE%\\x.txt", false},
        {WindowsDir() + "notepad.exe", "%WINDIR%\\notepad.exe", false},
        {SystemDir() + "x.dll", "%SYSDIR%\\x.dll", false},
        {SystemDiskRoot() + "x.txt", "%SystemDiskRoot%\\x.txt", false},
        {SystemDir() + "x.dll", "%SYSDIR32%\\x.dll", true},
    };
    if (Is64BitOS()) {
        cases.push_back({ProgramFilesDir() + "a", "%PROGRAMFILES32%\\a", true});
        cases.push_back({ProgramFiles64Dir() + "a", "%PROGRAMFILES%\\a", true});
        cases.push_back({CommonFiles64Dir() + "a", "%COMMONFILES%\\a", true});
        cases.push_back({SystemDir32() + "a", "%SYSDIR32%\\a", false});
    } else {
        // One program folder: the 64-bit instance tries the 32-bit name first,
        // and both names expand to the same folder here.
        cases.push_back({ProgramFilesDir() + "a", "%PROGRAMFILES32%\\a", true});
        cases.push_back({ProgramFilesDir() + "a", "%PROGRAMFILES%\\a", false});
    }
    for (const auto &c : cases) {
        bool replaced = false;
        EXPECT_EQ(PathToMacro(c.path, c.is64, &replaced), c.expected) << c.path << " is64=" << c.is64;
        EXPECT_TRUE(replaced) << c.path;
    }

    bool replaced = true;
    EXPECT_EQ(PathToMacro("Q:\\elsewhere\\x", false, &replaced), "Q:\\elsewhere\\x");
    EXPECT_FALSE(replaced);
    // Only whole folders match.
    std::string pf = ProgramFilesDir();
    std::string sibling = pf.substr(0, pf.size() - 1) + "Extra\\x";
    EXPECT_EQ(PathToMacro(sibling), "%SystemDiskRoot%\\" + sibling.substr(3));
}

TEST(SystemPathsMacro, ReplacerAddsShortNamesOfExistingFolders)
{
    const std::string folder = TempDir() + "Tovu Paths Long Folder Name";
    CreateDirectoryA(folder.c_str(), nullptr);
    char shortBuf[MAX_PATH];
    DWORD n = GetShortPathNameA(folder.c_str(), shortBuf, MAX_PATH);
    ASSERT_GT(n, 0u);
    const std::string shortForm(shortBuf, n);
    ASSERT_NE(Lower(shortForm), Lower(folder)) << "no short name generated";

    TPathReplacerStr r;
    r.ShortNames = true;
    r.Add("", "%EMPTY%");
    r.Add(folder, "%LONGF%");
    r.Add(TempDir() + "Tovu Paths Missing Folder", "%MISSING%");
    EXPECT_EQ(r.Entries().size(), 3u);

    std::string result;
    EXPECT_TRUE(r.Replace(Lower(shortForm) + "\\Sub\\File.TXT", result));
    EXPECT_EQ(result, "%LONGF%\\Sub\\File.TXT");
    EXPECT_TRUE(r.Replace(folder + "\\a", result));
    EXPECT_EQ(result, "%LONGF%\\a");
    EXPECT_TRUE(r.Replace(TempDir() + "tovu paths missing folder\\b", result));
    EXPECT_EQ(result, "%MISSING%\\b");
    EXPECT_FALSE(r.Replace(folder, result));  // the folder itself has no trailing backslash
    EXPECT_EQ(result, folder);

    RemoveDirectoryA(folder.c_str());
}

} // namespace
