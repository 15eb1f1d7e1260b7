#include "platform/DirectoryU.h"
#include "platform/FileResourceU.h"
#include "platform/FileU.h"
#include "platform/FileVersionU.h"
#include "platform/InetU.h"
#include "platform/ShellU.h"
#include "platform/ShortcutU.h"
#include "platform/SystemPathsU.h"

#include "ScratchFiles.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// ---- helpers ---------------------------------------------------------------

void WriteBytes(const std::string &path, const std::string &bytes)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
    DWORD n = 0;
    WriteFile(h, bytes.data(), DWORD(bytes.size()), &n, nullptr);
    CloseHandle(h);
}

std::string ReadBytes(const std::string &path)
{
    std::string text;
    ReadFileToString(path, text);
    return text;
}

bool Exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

const char PendingKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// Source names of the deletions and renames scheduled for the next start,
// as the system stores them ("\??\C:\...").
std::vector<std::string> PendingSources()
{
    std::vector<std::string> sources;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, PendingKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return sources;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type, nullptr, &size) ==
            ERROR_SUCCESS && size) {
        std::string data(size, '\0');
        if (RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type,
                             reinterpret_cast<BYTE *>(data.data()), &size) == ERROR_SUCCESS) {
            // Pairs of source and target, each NUL-terminated.
            std::vector<std::string> strings;
            for (size_t p = 0; p < data.size();) {
                size_t e = data.find('\0', p);
                if (e == std::string::npos) e = data.size();
                strings.push_back(data.substr(p, e - p));
                p = e + 1;
            }
            for (size_t i = 0; i + 1 < strings.size(); i += 2)
                if (!strings[i].empty()) sources.push_back(strings[i]);
        }
    }
    RegCloseKey(key);
    return sources;
}

bool IsPending(const std::string &path)
{
    for (const std::string &s : PendingSources())
        if (lstrcmpiA(s.c_str(), ("\\??\\" + path).c_str()) == 0) return true;
    return false;
}

// Takes the entries naming marker out of the pending list, so that a later
// start of the prefix does not act on them.
void ForgetPending(const std::string &marker)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, PendingKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS)
        return;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type, nullptr, &size) ==
            ERROR_SUCCESS && size) {
        std::string data(size, '\0');
        RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type,
                         reinterpret_cast<BYTE *>(data.data()), &size);
        std::vector<std::string> strings;
        for (size_t p = 0; p < data.size();) {
            size_t e = data.find('\0', p);
            if (e == std::string::npos) e = data.size();
            strings.push_back(data.substr(p, e - p));
            p = e + 1;
        }
        std::string kept;
        bool changed = false;
        for (size_t i = 0; i + 1 < strings.size(); i += 2) {
            if (strings[i].find(marker) != std::string::npos) {
                changed = true;
                continue;
            }
            kept += strings[i] + '\0' + strings[i + 1] + '\0';
        }
        if (changed) {
            if (kept.empty())
                RegDeleteValueA(key, "PendingFileRenameOperations");
            else
                RegSetValueExA(key, "PendingFileRenameOperations", 0, REG_MULTI_SZ,
                               reinterpret_cast<const BYTE *>(kept.c_str()), DWORD(kept.size() + 1));
        }
    }
    RegCloseKey(key);
}

// A file held open by this process without delete sharing: the system
// refuses to delete it until the handle closes.
class HeldFile {
public:
    explicit HeldFile(const std::string &path)
        : h_(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                         nullptr)) {}
    ~HeldFile() { Release(); }
    void Release()
    {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
    }
    bool Ok() const { return h_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE h_;
};

// Everything a test schedules for the next start is taken back afterwards.
class Files : public scratch::Folder {
protected:
    Files() : Folder("Files") {}
    void TearDown() override
    {
        ForgetPending(marker_);
        Folder::TearDown();
    }
};

// ---- existence and size ----------------------------------------------------

TEST_F(Files, ExistenceAndSize)
{
    WriteBytes(Path("five.bin"), "12345");
    CreateDirectoryA(Path("sub").c_str(), nullptr);
    struct Case {
        std::string path;
        bool file, folder;
        int64_t size;
    } cases[] = {
        {Path("five.bin"), true, false, 5},
        {Path("sub"), false, true, 0},
        {Path("missing.bin"), false, false, -1},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(FileExists(c.path), c.file) << c.path;
        EXPECT_EQ(DirectoryExists(c.path), c.folder) << c.path;
        EXPECT_EQ(FileSize(c.path), c.size) << c.path;
    }
}

TEST_F(Files, ForceDirectoriesWithAndWithoutParents)
{
    const std::string deep = Path("a\\b\\c\\");
    EXPECT_TRUE(ForceDirectories(deep, false, true));
    EXPECT_TRUE(DirectoryExists(Path("a")));
    EXPECT_TRUE(DirectoryExists(Path("a\\b")));
    EXPECT_TRUE(DirectoryExists(deep));
    EXPECT_TRUE(ForceDirectories(deep, false, true)) << "an existing folder counts as success";

    // Without parents: one creation, whose own result is the answer.
    EXPECT_FALSE(ForceDirectories(Path("a"), false, false)) << "already exists";
    EXPECT_FALSE(ForceDirectories(Path("x\\y"), false, false)) << "parent missing";
    EXPECT_FALSE(DirectoryExists(Path("x")));
    EXPECT_TRUE(ForceDirectories(Path("x"), false, false));

    char drive[3] = {dir_[0], ':', 0};
    EXPECT_TRUE(ForceDirectories(drive, false, true));
    EXPECT_TRUE(ForceDirectories(std::string(drive) + "\\", false, true));
}

TEST_F(Files, ForceDirectoriesGrantsEveryoneToEachNewFolder)
{
    ASSERT_TRUE(ForceDirectories(Path("open\\inner"), true, true));
    ASSERT_TRUE(ForceDirectories(Path("plain"), false, true));
    EXPECT_FALSE(scratch::EveryoneCanChange(Path("plain")));
    if (!scratch::CreationDescriptorsKept(dir_))
        GTEST_SKIP() << "this system ignores descriptors given at creation";
    EXPECT_TRUE(scratch::EveryoneCanChange(Path("open")));
    EXPECT_TRUE(scratch::EveryoneCanChange(Path("open\\inner")));
}

// ---- deleting --------------------------------------------------------------

TEST_F(Files, DeleteFileForceClearsReadOnly)
{
    const std::string file = Path("readonly.txt");
    WriteBytes(file, "x");
    ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_FALSE(DeleteFileA(file.c_str())) << "fixture: the first attempt must fail";
    WriteBytes(Path("again.txt"), "x");
    SetFileAttributesA(Path("again.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);

    EXPECT_TRUE(DeleteFileForce(file));
    EXPECT_FALSE(Exists(file));
    EXPECT_TRUE(DeleteFileOrSchedule(Path("again.txt"), false));
    EXPECT_FALSE(Exists(Path("again.txt")));

    EXPECT_FALSE(DeleteFileForce(Path("missing.txt")));
    EXPECT_FALSE(DeleteFileOrSchedule(Path("missing.txt"), true));
    CreateDirectoryA(Path("folder").c_str(), nullptr);
    EXPECT_FALSE(DeleteFileForce(Path("folder")));
    EXPECT_TRUE(DirectoryExists(Path("folder")));
}

// The forced delete opens a file up only for itself, and only when it was
// refused: a second name of the file (a hard link, whose access list is the
// other name's too) or a file held open keeps its access list and attributes.
TEST_F(Files, DeleteFileForceOpensNoDoors)
{
    auto accessList = [](const std::string &path) {
        std::vector<BYTE> sd(4096);
        DWORD need = 0;
        if (!GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, sd.data(), DWORD(sd.size()), &need))
            return std::string("unreadable");
        return std::string(reinterpret_cast<const char *>(sd.data()), GetSecurityDescriptorLength(sd.data()));
    };
    const std::string outside = Path("outside.txt"), link = Path("link.txt"), held = Path("held.txt");
    WriteBytes(outside, "keep");
    if (!CreateHardLinkA(link.c_str(), outside.c_str(), nullptr)) GTEST_SKIP() << "no hard links here";
    ASSERT_TRUE(SetFileAttributesA(link.c_str(), FILE_ATTRIBUTE_READONLY));
    WriteBytes(held, "x");
    ASSERT_TRUE(SetFileAttributesA(held.c_str(), FILE_ATTRIBUTE_READONLY));
    HeldFile holder(held);
    ASSERT_TRUE(holder.Ok());

    for (const std::string &file : {link, held}) {
        SCOPED_TRACE(file);
        const std::string before = accessList(file);
        ASSERT_FALSE(DeleteFileA(file.c_str())) << "fixture: the first attempt must fail";
        EXPECT_FALSE(DeleteFileForce(file));
        EXPECT_TRUE(FileExists(file));
        EXPECT_EQ(accessList(file), before) << "the access list is as it was";
        EXPECT_EQ(GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_READONLY, DWORD(FILE_ATTRIBUTE_READONLY));
    }
    EXPECT_EQ(accessList(outside), accessList(link));
}

TEST_F(Files, FileInUseIsScheduledOnlyWhenAllowed)
{
    const std::string file = Path("busy.dll");
    WriteBytes(file, "x");
    HeldFile held(file);
    ASSERT_TRUE(held.Ok());
    ASSERT_FALSE(DeleteFileA(file.c_str())) << "fixture: the file must be undeletable";

    EXPECT_FALSE(DeleteFileForce(file));
    EXPECT_FALSE(DeleteFileOrSchedule(file, false));
    EXPECT_FALSE(IsPending(file));
    EXPECT_TRUE(FileExists(file));

    EXPECT_TRUE(DeleteFileOrSchedule(file, true));
    EXPECT_TRUE(IsPending(file));
}

TEST_F(Files, DeleteFolderRemovesNestedContent)
{
    for (const char *root : {"withslash", "noslash"}) {
        ForceDirectories(Path(std::string(root) + "\\one\\two"), false, true);
        WriteBytes(Path(std::string(root) + "\\top.txt"), "t");
        WriteBytes(Path(std::string(root) + "\\one\\two\\deep.txt"), "d");
        const std::string ro = Path(std::string(root) + "\\one\\ro.txt");
        WriteBytes(ro, "r");
        SetFileAttributesA(ro.c_str(), FILE_ATTRIBUTE_READONLY);
    }
    EXPECT_FALSE(DeleteFolder(Path("noslash"), false)) << "not empty, contents kept";
    EXPECT_TRUE(FileExists(Path("noslash\\top.txt")));

    EXPECT_TRUE(DeleteFolder(Path("withslash\\"), true));
    EXPECT_FALSE(Exists(Path("withslash")));
    EXPECT_TRUE(DeleteFolder(Path("noslash"), true));
    EXPECT_FALSE(Exists(Path("noslash")));
    EXPECT_FALSE(DeleteFolder(Path("noslash"), true)) << "already gone";
}

TEST_F(Files, EmptyFolderKeepsFolderAndGoesOnPastFailures)
{
    const std::string box = Path("box\\");
    ForceDirectories(box + "sub\\subsub", false, true);
    WriteBytes(box + "a.txt", "a");
    WriteBytes(box + "sub\\b.txt", "b");
    WriteBytes(box + "sub\\subsub\\c.txt", "c");
    WriteBytes(box + "z.txt", "z");

    EXPECT_TRUE(EmptyFolder(box));
    EXPECT_TRUE(DirectoryExists(box));
    EXPECT_FALSE(Exists(box + "a.txt"));
    EXPECT_FALSE(Exists(box + "sub"));
    EXPECT_FALSE(Exists(box + "z.txt"));

    // One entry that cannot go: the rest still goes, the answer is false.
    WriteBytes(box + "a.txt", "a");
    WriteBytes(box + "m.txt", "m");
    WriteBytes(box + "z.txt", "z");
    HeldFile held(box + "m.txt");
    ASSERT_TRUE(held.Ok());
    EXPECT_FALSE(EmptyFolder(Path("box")));
    EXPECT_FALSE(Exists(box + "a.txt"));
    EXPECT_FALSE(Exists(box + "z.txt"));
    EXPECT_TRUE(Exists(box + "m.txt"));

    EXPECT_FALSE(EmptyFolder(Path("nothing-here")));
}

TEST_F(Files, DeleteFolderOrScheduleSchedulesWhatIsInUse)
{
    const std::string box = Path("box");
    ForceDirectories(box + "\\sub", false, true);
    WriteBytes(box + "\\free.txt", "f");
    WriteBytes(box + "\\sub\\busy.txt", "b");
    HeldFile held(box + "\\sub\\busy.txt");
    ASSERT_TRUE(held.Ok());

    EXPECT_FALSE(DeleteFolderOrSchedule(box, true, false));
    EXPECT_FALSE(Exists(box + "\\free.txt"));
    EXPECT_FALSE(IsPending(box));

    EXPECT_TRUE(DeleteFolderOrSchedule(box, true, true));
    EXPECT_TRUE(IsPending(box + "\\sub\\busy.txt"));
    EXPECT_TRUE(IsPending(box + "\\sub"));
    EXPECT_TRUE(IsPending(box));
    // The file's entry must come before its folders, or the folders are not
    // empty when the system gets to them.
    std::vector<std::string> order = PendingSources();
    auto at = [&](const std::string &p) {
        for (size_t i = 0; i < order.size(); ++i)
            if (lstrcmpiA(order[i].c_str(), ("\\??\\" + p).c_str()) == 0) return int(i);
        return -1;
    };
    EXPECT_LT(at(box + "\\sub\\busy.txt"), at(box + "\\sub"));
    EXPECT_LT(at(box + "\\sub"), at(box));

    held.Release();
    EXPECT_TRUE(DeleteFolderOrSchedule(box, true, true));
    EXPECT_FALSE(Exists(box));
}

// A link inside a folder being deleted is removed as a link; what it points
// at is not the folder's content.
TEST_F(Files, DeleteFolderDoesNotFollowFolderLinks)
{
    const std::string outside = Path("outside");
    ForceDirectories(outside, false, true);
    WriteBytes(outside + "\\keep.txt", "k");
    const std::string doomed = Path("doomed");
    ForceDirectories(doomed, false, true);
    WriteBytes(doomed + "\\own.txt", "o");
    const std::string link = doomed + "\\link";
    if (!CreateSymbolicLinkA(link.c_str(), outside.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY))
        GTEST_SKIP() << "no folder links here (error " << GetLastError() << ")";
    DWORD attr = GetFileAttributesA(link.c_str());
    if (attr == INVALID_FILE_ATTRIBUTES || !(attr & FILE_ATTRIBUTE_REPARSE_POINT))
        GTEST_SKIP() << "links are not reported as reparse points here";

    EXPECT_TRUE(EmptyFolder(doomed));
    EXPECT_TRUE(FileExists(outside + "\\keep.txt"));
    ASSERT_TRUE(CreateSymbolicLinkA(link.c_str(), outside.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY));
    EXPECT_TRUE(DeleteFolder(doomed, true));
    EXPECT_FALSE(Exists(doomed));
    EXPECT_TRUE(FileExists(outside + "\\keep.txt"));

    // A link given as the folder itself goes as a link too.
    ASSERT_TRUE(CreateSymbolicLinkA(Path("top").c_str(), outside.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY));
    EXPECT_TRUE(DeleteFolder(Path("top"), true));
    EXPECT_FALSE(Exists(Path("top")));
    EXPECT_TRUE(FileExists(outside + "\\keep.txt"));
}

// ---- copying, access, reading ----------------------------------------------

TEST_F(Files, CopyFileExOverwriteRules)
{
    const std::string src = Path("src.txt"), dst = Path("dst.txt");
    WriteBytes(src, "new content");
    WriteBytes(dst, "old");

    EXPECT_FALSE(CopyFileEx(Path("missing.txt"), Path("any.txt"), false, true));
    EXPECT_FALSE(Exists(Path("any.txt")));
    EXPECT_FALSE(CopyFileEx(src, dst, false, false));
    EXPECT_EQ(ReadBytes(dst), "old");

    SetFileAttributesA(dst.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(CopyFileEx(src, dst, false, true)) << "a read-only target is force-deleted";
    EXPECT_EQ(ReadBytes(dst), "new content");

    EXPECT_TRUE(CopyFileEx(src, Path("fresh.txt"), false, false));
    EXPECT_EQ(ReadBytes(Path("fresh.txt")), "new content");

    HeldFile held(dst);
    EXPECT_FALSE(CopyFileEx(src, dst, false, true)) << "target in use";
    EXPECT_EQ(ReadBytes(dst), "new content");
}

TEST_F(Files, CopyFileExAndGrantEveryoneFile)
{
    const std::string src = Path("src.txt");
    WriteBytes(src, "x");
    ASSERT_FALSE(scratch::EveryoneCanChange(src));
    EXPECT_TRUE(GrantEveryoneFile(src));
    EXPECT_TRUE(scratch::EveryoneCanChange(src));
    EXPECT_FALSE(GrantEveryoneFile(Path("missing.txt")));

    ASSERT_TRUE(CopyFileEx(src, Path("plain.txt"), false, false));
    ASSERT_TRUE(CopyFileEx(Path("plain.txt"), Path("shared.txt"), true, false));
    EXPECT_TRUE(scratch::EveryoneCanChange(Path("shared.txt")));
}

TEST_F(Files, ReadFileToStringAndTextHelpers)
{
    const std::string bytes("line\r\n\0\xff tail", 13);
    WriteBytes(Path("data.bin"), bytes);
    std::string text = "stale";
    EXPECT_TRUE(ReadFileToString(Path("data.bin"), text));
    EXPECT_EQ(text, bytes);
    text = "stale";
    EXPECT_FALSE(ReadFileToString(Path("missing.bin"), text));
    EXPECT_EQ(text, "");
    WriteBytes(Path("empty.bin"), "");
    EXPECT_TRUE(ReadFileToString(Path("empty.bin"), text));
    EXPECT_EQ(text, "");

    SetEnvironmentVariableA("TOVU_FILES_VAR", "abc");
    EXPECT_EQ(ExpandEnvVars("<%TOVU_FILES_VAR%>%TOVU_FILES_NONE%"), "<abc>%TOVU_FILES_NONE%");
    EXPECT_EQ(ExpandEnvVars(""), "");
    EXPECT_EQ(CutAtNul(std::string("ab\0cd", 5)), "ab");
    EXPECT_EQ(CutAtNul("abc"), "abc");
}

// ---- resources and versions ------------------------------------------------

// One node of a version resource in the 32-bit format: sizes, type, UTF-16
// key, value and children, each part aligned to 4 bytes.
std::string VersionNode(const std::wstring &key, const std::string &value, WORD valueLength,
                        WORD type, const std::vector<std::string> &children)
{
    auto align = [](std::string &s) { s.resize((s.size() + 3) & ~size_t(3), '\0'); };
    std::string n(6, '\0');
    n.append(reinterpret_cast<const char *>(key.c_str()), (key.size() + 1) * 2);
    align(n);
    n += value;
    for (const std::string &c : children) {
        align(n);
        n += c;
    }
    WORD length = WORD(n.size());
    std::memcpy(&n[0], &length, 2);
    std::memcpy(&n[2], &valueLength, 2);
    std::memcpy(&n[4], &type, 2);
    return n;
}

std::string StringNode(const std::wstring &key, const std::wstring &text)
{
    std::string value(reinterpret_cast<const char *>(text.c_str()), (text.size() + 1) * 2);
    return VersionNode(key, value, WORD(text.size() + 1), 1, {});
}

// A version block whose translation list names code page 04E4 while its only
// string table is 040904B0, as many real files have it.
std::string MismatchedVersionBlock()
{
    VS_FIXEDFILEINFO fixed = {};
    fixed.dwSignature = 0xFEEF04BD;
    fixed.dwStrucVersion = 0x00010000;
    fixed.dwFileVersionMS = MAKELONG(2, 1);
    fixed.dwFileVersionLS = MAKELONG(4, 3);
    fixed.dwProductVersionMS = fixed.dwFileVersionMS;
    fixed.dwProductVersionLS = fixed.dwFileVersionLS;
    fixed.dwFileOS = VOS_NT_WINDOWS32;
    fixed.dwFileType = VFT_APP;
    std::string fixedBytes(reinterpret_cast<const char *>(&fixed), sizeof fixed);

    std::string table = VersionNode(L"040904B0", "", 0, 1,
                                    {StringNode(L"CompanyName", L"Tovu Test"),
                                     StringNode(L"FileVersion", L"1.2.3.4")});
    std::string strings = VersionNode(L"StringFileInfo", "", 0, 1, {table});
    const WORD pair[2] = {0x0409, 0x04E4};
    std::string var = VersionNode(L"Translation", std::string(reinterpret_cast<const char *>(pair), 4),
                                  4, 0, {});
    std::string vars = VersionNode(L"VarFileInfo", "", 0, 1, {var});
    return VersionNode(L"VS_VERSION_INFO", fixedBytes, WORD(sizeof fixed), 0, {strings, vars});
}

// A copy of this test program whose resources are replaced by a version block
// and one text resource.
bool MakeResourceFixture(const std::string &path, const std::string &text)
{
    char self[MAX_PATH];
    if (!GetModuleFileNameA(nullptr, self, MAX_PATH) || !CopyFileA(self, path.c_str(), FALSE))
        return false;
    HANDLE update = BeginUpdateResourceA(path.c_str(), TRUE);
    if (!update) return false;
    std::string block = MismatchedVersionBlock();
    const WORD neutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
    bool ok = UpdateResourceA(update, MAKEINTRESOURCEA(16), MAKEINTRESOURCEA(1), neutral,
                              block.data(), DWORD(block.size())) &&
              UpdateResourceA(update, MAKEINTRESOURCEA(10), "TOVUTEXT", neutral,
                              const_cast<char *>(text.data()), DWORD(text.size()));
    return EndUpdateResourceA(update, !ok) && ok;
}

TEST_F(Files, TextResources)
{
    std::vector<std::string> own, viaEmptyName;
    EXPECT_TRUE(LoadTextResource("DATA", own));
    EXPECT_FALSE(own.empty());
    EXPECT_TRUE(LoadTextResourceFrom("", "DATA", viaEmptyName));
    EXPECT_EQ(viaEmptyName, own);
    std::vector<std::string> none = {"stale"};
    EXPECT_FALSE(LoadTextResource("TOVU_NO_SUCH_RESOURCE", none));
    EXPECT_TRUE(none.empty());

    const std::string fixture = Path("withres.exe");
    ASSERT_TRUE(MakeResourceFixture(fixture, "one\r\ntwo\nthree\r\rfive\r\n"));
    std::vector<std::string> lines;
    EXPECT_TRUE(LoadTextResourceFrom(fixture, "TOVUTEXT", lines));
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", "three", "", "five"}));
    EXPECT_FALSE(LoadTextResourceFrom(fixture, "DATA", lines));
    EXPECT_FALSE(LoadTextResourceFrom(Path("missing.exe"), "TOVUTEXT", lines));
    // Loaded as data and let go: the file can be deleted at once.
    EXPECT_TRUE(DeleteFileA(fixture.c_str()));
}

TEST_F(Files, VersionOfSystemFile)
{
    const std::string dll = SystemDir() + "kernel32.dll";
    ASSERT_TRUE(FileExists(dll)) << dll;
    TFileVersion v(dll);
    ASSERT_TRUE(v.Valid());
    EXPECT_GT(v.BlockSize(), 0u);
    EXPECT_EQ(v.FileName(), dll);
    const std::string tr = v.Translation();
    EXPECT_EQ(tr.size(), 8u) << tr;
    EXPECT_EQ(tr.find_first_not_of("0123456789ABCDEF"), std::string::npos) << tr;
    EXPECT_FALSE(v.StringValue("FileVersion").empty());
    EXPECT_FALSE(v.ProductVersion().empty());
    EXPECT_EQ(v.StringValue("TovuNoSuchName"), "");

    VS_FIXEDFILEINFO fixed;
    ASSERT_TRUE(v.FixedInfo(fixed));
    const std::string text = FileVersionText(dll);
    EXPECT_EQ(text, std::to_string(HIWORD(fixed.dwFileVersionMS)) + "." +
                        std::to_string(LOWORD(fixed.dwFileVersionMS)) + "." +
                        std::to_string(HIWORD(fixed.dwFileVersionLS)) + "." +
                        std::to_string(LOWORD(fixed.dwFileVersionLS)));
    EXPECT_NE(text, "0.0.0.0");
}

TEST_F(Files, VersionFallsBackToFirstStringTable)
{
    const std::string fixture = Path("versioned.exe");
    ASSERT_TRUE(MakeResourceFixture(fixture, "x"));
    TFileVersion v(fixture);
    ASSERT_TRUE(v.Valid());
    EXPECT_EQ(v.Translation(), "040904E4");
    EXPECT_EQ(v.StringValue("CompanyName"), "Tovu Test");
    EXPECT_EQ(v.StringValue("FileVersion"), "1.2.3.4");
    EXPECT_EQ(v.ProductVersion(), "");
    EXPECT_EQ(FileVersionText(fixture), "1.2.3.4");
}

TEST_F(Files, NoVersionBlock)
{
    WriteBytes(Path("plain.txt"), "no version here");
    for (const std::string &path : {Path("plain.txt"), Path("missing.dll")}) {
        TFileVersion v(path);
        EXPECT_FALSE(v.Valid()) << path;
        EXPECT_EQ(v.Translation(), "") << path;
        EXPECT_EQ(v.StringValue("FileVersion"), "") << path;
        EXPECT_EQ(FileVersionText(path), "0.0.0.0") << path;
    }
}

TEST(FilesLocale, UserLanguageCodeIsTwoLowerCaseLetters)
{
    const std::string code = UserLanguageCode();
    ASSERT_GE(code.size(), 2u) << code;
    ASSERT_LE(code.size(), 3u) << code;
    for (char c : code) EXPECT_TRUE(c >= 'a' && c <= 'z') << code;
}

// ---- shortcuts -------------------------------------------------------------

class Shortcuts : public Files {
protected:
    void SetUp() override
    {
        Files::SetUp();
        com_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    }
    void TearDown() override
    {
        if (com_) CoUninitialize();
        Files::TearDown();
    }

    bool MakeLink(const std::string &lnk, const std::string &target, const std::string &args)
    {
        IShellLinkA *link = nullptr;
        if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                    reinterpret_cast<void **>(&link))))
            return false;
        IPersistFile *file = nullptr;
        bool ok = SUCCEEDED(link->SetPath(target.c_str())) &&
                  SUCCEEDED(link->SetArguments(args.c_str())) &&
                  SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file)));
        if (ok) {
            std::wstring wide(lnk.begin(), lnk.end());
            ok = SUCCEEDED(file->Save(wide.c_str(), TRUE));
            file->Release();
        }
        link->Release();
        return ok;
    }

    bool com_ = false;
};

TEST_F(Shortcuts, TargetWithAndWithoutArguments)
{
    const std::string target = Path("tool.exe");
    WriteBytes(target, "MZ");
    ASSERT_TRUE(MakeLink(Path("tool.lnk"), target, "/x \"a b\""));
    ASSERT_TRUE(MakeLink(Path("bare.lnk"), target, ""));

    EXPECT_EQ(ShortcutTarget(Path("tool.lnk"), false), target);
    EXPECT_EQ(ShortcutTarget(Path("tool.lnk"), true), "\"" + target + "\" /x \"a b\"");
    EXPECT_EQ(ShortcutTarget(Path("bare.lnk"), false), target);

    // Extension in any case; only ".lnk" files are read at all.
    ASSERT_TRUE(CopyFileA(Path("tool.lnk").c_str(), Path("UPPER.LNK").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(Path("tool.lnk").c_str(), Path("link.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(Path("tool.lnk").c_str(), Path("tool.lnk.bak").c_str(), FALSE));
    EXPECT_EQ(ShortcutTarget(Path("UPPER.LNK"), false), target);
    EXPECT_EQ(ShortcutTarget(Path("link.exe"), false), "");
    EXPECT_EQ(ShortcutTarget(Path("tool.lnk.bak"), false), "");
    EXPECT_EQ(ShortcutTarget(Path("missing.lnk"), false), "");
    WriteBytes(Path("junk.lnk"), "not a shell link");
    EXPECT_EQ(ShortcutTarget(Path("junk.lnk"), true), "");
}

// ---- shell and addresses -----------------------------------------------------

TEST(FilesInet, URLFileName)
{
    const struct {
        const char *url, *name;
    } cases[] = {
        {"dir/sub/setup.cab?x=1", "setup.cab"},
        {"http://host/path/tovu.cab", "tovu.cab"},
        {"http://host/get.cab?from=http://mirror/other.cab", "get.cab"},
        {"setup.exe", "setup.exe"},
        {"http://host/dir/", ""},
        {"", ""},
    };
    for (const auto &c : cases) EXPECT_EQ(URLFileName(c.url), c.name) << c.url;
}

TEST_F(Files, ShellOpenOfMissingFileFails)
{
    EXPECT_FALSE(ShellOpen(Path("missing.exe")));
    EXPECT_FALSE(ShellOpen(Path("missing.exe"), "/x", nullptr, dir_));
}

LRESULT CALLBACK PlainWindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    return DefWindowProcA(w, m, wp, lp);
}

TEST(FilesShell, IsIEFrameOpenSeesWindowsOfThatClass)
{
    if (IsIEFrameOpen()) GTEST_SKIP() << "a browser window is already open";
    WNDCLASSA wc = {};
    wc.lpfnWndProc = PlainWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "IEFrame";
    ASSERT_TRUE(RegisterClassA(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS);
    HWND w = CreateWindowA("IEFrame", "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                           wc.hInstance, nullptr);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(IsIEFrameOpen());
    DestroyWindow(w);
    EXPECT_FALSE(IsIEFrameOpen());
    UnregisterClassA("IEFrame", wc.hInstance);
}

} // namespace
