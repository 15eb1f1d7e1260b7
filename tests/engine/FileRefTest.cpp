#include "engine/fwFileRefs.h"
#include "engine/fwTools.h"
#include "platform/DirectoryU.h"
#include "platform/FileU.h"
#include "platform/SystemPathsU.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

std::string Lower(std::string s)
{
    if (!s.empty()) CharLowerBuffA(s.data(), DWORD(s.size()));
    return s;
}

bool Touch(const std::string &path)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

class FileRefs : public ::testing::Test {
protected:
    std::string Dir;  // ends with a backslash

    void SetUp() override
    {
        Dir = TempDir() + "TovuTestRefs\\";
        DeleteFolder(Dir, true);
        ForceDirectories(Dir + "My App", false, true);
        ASSERT_TRUE(Touch(Dir + "Tool.exe"));
        ASSERT_TRUE(Touch(Dir + "My App\\Run Me.exe"));
    }
    void TearDown() override { DeleteFolder(Dir, true); }
};

TEST_F(FileRefs, CleanPathCutsAtSeparatorsAndSuffixes)
{
    struct Case {
        const char *text, *clean;
    } cases[] = {
        {"c:\\a\\b.dll,-101", "c:\\a\\b.dll"},
        {"c:\\a\\b.exe /x", "c:\\a\\b.exe "},
        {"c:\\a\\b.exe\t-x", "c:\\a\\b.exe"},
        {"c:\\a\\,1", "c:\\a\\"},
        {"c:\\a\\b.exe %1", "c:\\a\\b.exe "},
        {"c:\\a\\b.exe;c:\\d.exe", "c:\\a\\b.exe"},
        {"c:\\a\\b:stream", "c:\\a\\b"},
        {"c:\\%x%\\b.exe", "c:\\%x%\\b.exe"},  // a percent sign only counts in the name
        {"notepad.exe /a", "notepad.exe "},
        {"rundll32.exe shell32.dll,Control_RunDLL", "rundll32.exe shell32.dll"},
        {"", ""},
    };
    for (const Case &c : cases) EXPECT_EQ(CleanPath(c.text), c.clean) << c.text;
}

// In a double-byte code page a backslash or bar byte may be the second half
// of a character; it must neither split the path nor cut it. The harness runs
// this suite once more under the Japanese code page.
TEST_F(FileRefs, DoubleByteTrailBytesAreNoSeparators)
{
    if (GetACP() != 932) GTEST_SKIP() << "needs the Japanese code page, here " << GetACP();
    const std::string table = "\x95\x5c", minus = "\x81\x7c";  // trail bytes '\\' and '|'
    struct Case {
        std::string text, clean;
    } cases[] = {
        {"c:\\a\\" + table + ",1", "c:\\a\\" + table},
        {"c:\\a\\b" + minus + "c.exe /x", "c:\\a\\b" + minus + "c.exe "},
        {"c:\\" + table + "\\,1", "c:\\" + table + "\\"},
        {"c:\\a\\b" + minus + "|c.exe", "c:\\a\\b" + minus},
    };
    for (const Case &c : cases) EXPECT_EQ(CleanPath(c.text), c.clean) << c.text;

    const std::string file = Dir + table + minus + ".exe";
    ASSERT_TRUE(Touch(file));
    std::string resolved;
    EXPECT_TRUE(ResolveCommandTarget("\"" + file + "\" -x", vmBoth, resolved));
    EXPECT_TRUE(ResolveCommandTarget(file + ",0", vmBoth, resolved));
    EXPECT_FALSE(ResolveCommandTarget(Dir + table + ".exe", vmBoth, resolved));
}

// Commands that start with a bare program name are judged by the program,
// or, for the system's DLL host, by the library it is to load.
TEST_F(FileRefs, BareProgramWithArguments)
{
    ASSERT_TRUE(Touch(Dir + "setup.dll"));
    struct Case {
        std::string command;
        bool resolves;
    } cases[] = {
        {"RunDll32 " + Dir + "setup.dll,LaunchSetup \"x\"", true},
        {"rundll32.exe shell32.dll,Control_RunDLL", true},
        {"rundll32.exe " + Dir + "gone.dll,Entry", false},
        {"RUNDLL32.EXE", true},
        {"notepad.exe " + Dir + "readme.txt", true},
        {"nosuchprogram.exe " + Dir + "setup.dll", false},
        {"\"nosuchprogram.exe\" " + Dir + "setup.dll", false},
        {Dir + "gone.exe " + Dir + "setup.dll", false},
    };
    for (const Case &c : cases)
        for (int mode : {vmBoth, vm32}) {
            std::string resolved;
            EXPECT_EQ(ResolveCommandTarget(c.command, mode, resolved), c.resolves) << c.command << " mode " << mode;
        }
}

TEST_F(FileRefs, ResolvesTheReferenceForms)
{
    const std::string lowerDir = Lower(Dir);
    struct Case {
        std::string text;
        bool found;
        std::string path;  // expected out path when not empty
    } cases[] = {
        {"\"" + Dir + "Tool.exe\" -x \"c:\\nothere\\y.exe\"", true, lowerDir + "tool.exe"},
        // The text after the closing quote is never looked at.
        {"\"" + Dir + "nothere.exe\" " + Dir + "Tool.exe", false, ""},
        {"notepad.exe", true, ""},
        {"notepad.exe /a", true, "notepad.exe"},
        {Dir + "Tool.exe,-101", true, lowerDir + "tool.exe"},
        {"%SystemRoot%\\notepad.exe", true, ""},
        {Dir + "My App", true, ""},
        {"  " + Dir + "My App\\Run Me.exe -x  ", true, lowerDir + "my app\\run me.exe"},
        {Dir + "Tool.exe -x y\\z", true, lowerDir + "tool.exe"},
        {Dir + "Tool -x", false, ""},  // completion needs the full name in the text
        {Dir + "nothere.exe", false, ""},
        {Dir + "No Folder\\x.exe -y", false, ""},
        {"", false, ""},
        {"\"", false, ""},
    };
    for (const Case &c : cases) {
        std::string path;
        EXPECT_EQ(ResolveCommandTarget(c.text, vmBoth, path), c.found) << c.text;
        if (c.found && !c.path.empty()) EXPECT_EQ(path, c.path) << c.text;
    }
}

TEST_F(FileRefs, MissingFileIsFalseInEveryModeAndRedirectionIsRestored)
{
    const std::string texts[] = {Dir + "nothere.exe", "\"" + Dir + "nothere.exe\" /x",
                                 "%SystemRoot%\\system32\\tovu-no-such.dll,-5", "C:\\tovu-no-such\\a b\\c.exe -x"};
    for (int mode : {vmBoth, vm32, vm64}) {
        for (const std::string &text : texts) {
            std::string path;
            EXPECT_FALSE(ResolveCommandTarget(text, mode, path)) << mode << " " << text;
            EXPECT_FALSE(ResolveFileRef(text, mode, path)) << mode << " " << text;
        }
        // Every disable has been matched: a revert now has nothing to undo.
        if (Is64BitOS()) EXPECT_FALSE(RevertFsRedirection()) << mode;
    }
}

// A program on a share, or on a drive letter that is not there now (an
// unplugged stick), cannot be checked: no scanner may call its entry broken.
TEST_F(FileRefs, ReferencesOffTheFixedDrivesAreNotCheckable)
{
    std::string absent;
    DWORD mask = GetLogicalDrives();
    for (int i = 25; i >= 3 && absent.empty(); --i)
        if (!(mask & (1u << i))) absent = std::string(1, char('A' + i)) + ":\\Stick\\tool.exe";
    ASSERT_FALSE(absent.empty());
    const std::string texts[] = {absent, "\"" + absent + "\" /tray", "\\\\server\\share\\tool.exe",
                                 "\"\\\\server\\share\\a b\\tool.exe\" -x"};
    for (int mode : {vmBoth, vm32, vm64})
        for (const std::string &text : texts) {
            std::string path;
            EXPECT_TRUE(ResolveCommandTarget(text, mode, path)) << mode << " " << text;
        }
    std::string path;
    EXPECT_FALSE(ResolveFileRef("\\\\?\\C:\\tovu-no-such\\x.exe", vmBoth, path)) << "a local path in long form";
}

TEST_F(FileRefs, FileOnlyInTheNativeSystemFolderIsFoundByEveryMode)
{
    if (!Is64BitOS()) GTEST_SKIP() << "no 64-bit system folder on a 32-bit system";
    char windows[MAX_PATH] = {};
    ASSERT_GT(GetWindowsDirectoryA(windows, MAX_PATH), 0u);
    const std::string native = std::string(windows) + "\\system32\\TovuTestNativeOnly.dll";
    {
        TFsRedirectionOff off;
        ASSERT_TRUE(off.Ok());
        ASSERT_TRUE(Touch(native));
    }
    // Seen through redirection the file is not there: only the native folder holds it.
    EXPECT_FALSE(FileExists(native));
    for (int mode : {vm64, vmBoth, vm32}) {
        std::string path;
        EXPECT_TRUE(ResolveCommandTarget("%SystemRoot%\\system32\\TovuTestNativeOnly.dll,-3", mode, path)) << mode;
        EXPECT_EQ(path, Lower(native)) << mode;
    }
    EXPECT_FALSE(FileExists(native));  // redirection restored after every probe
    {
        TFsRedirectionOff off;
        DeleteFileA(native.c_str());
        EXPECT_FALSE(FileExists(native));
    }
}

TEST_F(FileRefs, FindFileHelpers)
{
    std::string p = Dir + "My App\\Run Me.exe /quiet now";
    EXPECT_TRUE(FindFileBeforeSpace(p));
    EXPECT_EQ(p, Lower(Dir) + "my app\\run me.exe");

    p = Dir + "Tool.exe  -a -b";  // double blank: the second one is skipped
    EXPECT_TRUE(FindFileBeforeSpace(p));
    EXPECT_EQ(p, Lower(Dir) + "tool.exe");

    p = "no backslash here.exe x";
    EXPECT_FALSE(FindFileBeforeSpace(p));

    // A folder counts unless the folder walk is switched off.
    p = Dir + "My App";
    EXPECT_TRUE(FindFileInPath(p, false));
    p = Dir + "My App";
    EXPECT_FALSE(FindFileInPath(p, true));
    // Extension completion finds the listed file whose name the text contains.
    p = Dir + "tool.exe /q";
    EXPECT_TRUE(FindFileInPath(p, true));
    EXPECT_EQ(p, Lower(Dir) + "tool.exe");
}

TEST(FixedDrives, DriveListAndFixedDriveTest)
{
    TLogicalDrives drives(0x5u | (1u << 25) | (1u << 28));
    ASSERT_EQ(drives.Drives().size(), 3u);
    EXPECT_EQ(drives.Drives()[0].Root(), "A:\\");
    EXPECT_EQ(drives.Drives()[1].Root(), "C:\\");
    EXPECT_EQ(drives.Drives()[2].Root(), "Z:\\");

    ASSERT_EQ(GetDriveTypeA("C:\\"), UINT(DRIVE_FIXED));
    // A letter the system does not have at all.
    std::string absent;
    DWORD mask = GetLogicalDrives();
    for (int i = 25; i >= 3 && absent.empty(); --i)
        if (!(mask & (1u << i))) absent = std::string(1, char('A' + i)) + ":\\tool.exe";
    ASSERT_FALSE(absent.empty());

    SetEnvironmentVariableA("TOVU_TEST_UNSET", nullptr);
    struct Case {
        std::string text;
        bool fixed;
    } cases[] = {
        {"C:\\Program Files\\App\\app.exe", true},
        {"c:\\app.exe", true},
        {"\"C:\\Program Files\\App\\app.exe\" -x", true},
        {"\"C:\\Program Files\\App\\app.exe", false},  // no closing quote
        {"%SystemRoot%\\system32\\x.dll", true},
        {"C:\\%TOVU_TEST_UNSET%\\x.exe", false},
        {"C:\\dir\\x.exe %1", true},
        {"\\\\server\\share\\x.exe", false},
        {absent, false},
        {"app.exe", false},
        {"", false},
    };
    for (const Case &c : cases) EXPECT_EQ(IsOnFixedDrive(c.text), c.fixed) << c.text;
}

} // namespace
