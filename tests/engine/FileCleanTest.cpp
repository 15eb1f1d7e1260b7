// The clean category's file entries, the wildcard search under them and the
// recycle-bin scanner. Scratch tests work in a folder under %TEMP%; the
// scenario plants uniquely named files in the places the shipped document
// names and removes exactly what it planted.
#include "../platform/ScratchFiles.h"
#include "engine/fwClasses.h"
#include "engine/fwClassesEx.h"
#include "engine/fwExceptions.h"
#include "engine/fwTools.h"
#include "platform/DirectoryU.h"
#include "platform/FileU.h"
#include "platform/SystemPathsU.h"
#include "platform/SystemPathsUtilsU.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string Lower(std::string s)
{
    if (!s.empty()) CharLowerBuffA(&s[0], DWORD(s.size()));
    return s;
}

bool WriteBytes(const std::string &path, size_t size)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    std::string bytes(size, 'x');
    DWORD written = 0;
    bool ok = size == 0 || (WriteFile(h, bytes.data(), DWORD(size), &written, nullptr) && written == size);
    CloseHandle(h);
    return ok;
}

// path -> size, paths lower-cased so that the system's case does not matter.
std::map<std::string, int64_t> AsMap(const std::vector<TfwFoundFile> &list)
{
    std::map<std::string, int64_t> m;
    for (const auto &f : list) m[Lower(f.Path)] = f.Size;
    return m;
}

// A junction at link (an existing empty folder) pointing at target; false
// where the file system has none.
bool MakeJunction(const std::string &link, const std::string &target)
{
    HANDLE h = CreateFileA(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    std::string t = target;
    if (t.back() == '\\') t.pop_back();
    std::wstring print(t.begin(), t.end()), sub = L"\\??\\" + print;
    std::vector<BYTE> buf(16 + (sub.size() + print.size() + 2) * sizeof(WCHAR));
    auto put16 = [&](size_t at, size_t v) { buf[at] = BYTE(v); buf[at + 1] = BYTE(v >> 8); };
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    memcpy(&buf[0], &tag, 4);
    put16(4, buf.size() - 8);
    put16(8, 0);
    put16(10, sub.size() * 2);
    put16(12, (sub.size() + 1) * 2);
    put16(14, print.size() * 2);
    memcpy(&buf[16], sub.c_str(), (sub.size() + 1) * 2);
    memcpy(&buf[16 + (sub.size() + 1) * 2], print.c_str(), (print.size() + 1) * 2);
    DWORD got = 0;
    bool ok = DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buf.data(), DWORD(buf.size()), nullptr, 0, &got, nullptr);
    CloseHandle(h);
    return ok && (GetFileAttributesA(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
}

class FileClean : public scratch::Folder {
protected:
    FileClean() : scratch::Folder("FileClean") {}

    TfwMain Main;

    void SetUp() override
    {
        scratch::Folder::SetUp();
        *ProcessExceptions(true) = TfwExceptions();
    }
    void TearDown() override
    {
        *ProcessExceptions(true) = TfwExceptions();
        scratch::Folder::TearDown();
    }

    // Creates the file with its folders below the scratch folder.
    std::string Put(const std::string &relative, size_t size)
    {
        std::string path = Path(relative);
        ForceDirectories(path.substr(0, path.find_last_of('\\') + 1), false, true);
        EXPECT_TRUE(WriteBytes(path, size)) << path;
        return path;
    }

    TfwFileItem *Item(TfwItems *owner, const std::string &path, int fix = ffClean, bool is64 = false)
    {
        auto *i = new TfwFileItem(owner);
        i->Path = path;
        i->ScanExists = true;
        i->FixMode = fix;
        i->Is64 = is64;
        owner->Add(i);
        return i;
    }
};

TEST_F(FileClean, SearchPatterns)
{
    Put("a.log", 10);
    Put("b.LOG", 20);
    Put("c.txt", 5);
    Put("setup.logging", 7);  // the short name "SETUP~1.LOG" matches "*.log"
    Put("sub\\d.log", 3);
    Put("sub\\deep\\e.log", 4);
    Put("found.000\\x.chk", 11);
    Put("found.001\\y.chk", 12);
    Put("found.001\\inner\\z.chk", 13);
    Put("lost\\w.chk", 14);
    Put("Profiles\\p1.default\\Cache\\f1", 100);
    Put("Profiles\\p2.default\\Cache\\deep\\f2", 200);
    Put("Profiles\\p3.default\\NoCache\\g", 300);
    ForceDirectories(Path("empty"), false, true);

    const struct {
        const char *what;
        std::string pattern;
        bool recurse;
        std::vector<std::pair<std::string, int64_t>> expected;  // relative to the scratch folder
    } cases[] = {
        {"name pattern, no subfolders", dir_ + "*.log", false, {{"a.log", 10}, {"b.LOG", 20}}},
        {"folder entry walks everything",
         dir_ + "sub\\",
         false,
         {{"sub\\d.log", 3}, {"sub\\deep\\", 0}, {"sub\\deep\\e.log", 4}}},
        {"wildcard folder level, files of that level only",
         dir_ + "found*\\*.chk",
         false,
         {{"found.000\\x.chk", 11}, {"found.001\\y.chk", 12}}},
        {"wildcard in the middle of a folder entry",
         dir_ + "Profiles\\*\\Cache\\",
         false,
         {{"Profiles\\p1.default\\Cache\\f1", 100},
          {"Profiles\\p2.default\\Cache\\deep\\", 0},
          {"Profiles\\p2.default\\Cache\\deep\\f2", 200}}},
        {"recurse on *.* equals the folder entry",
         dir_ + "found.001\\*.*",
         true,
         {{"found.001\\y.chk", 12}, {"found.001\\inner\\", 0}, {"found.001\\inner\\z.chk", 13}}},
        {"macros are expanded, blanks trimmed",
         "  %TEMP%" + marker_ + "\\lost\\*.chk ",
         false,
         {{"lost\\w.chk", 14}}},
        {"empty folder", dir_ + "empty\\", false, {}},
        {"missing folder", dir_ + "missing\\*.log", false, {}},
        {"missing wildcard level", dir_ + "missing*\\*.log", false, {}},
        {"empty pattern", "   ", false, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<TfwFoundFile> list;
        FindFiles(c.pattern, list, c.recurse);
        std::map<std::string, int64_t> want;
        int64_t sum = 0;
        for (const auto &e : c.expected) {
            want[Lower(dir_ + e.first)] = e.second;
            sum += e.second;
        }
        EXPECT_EQ(AsMap(list), want);
        EXPECT_EQ(list.size(), want.size()) << "an entry listed twice";
        EXPECT_EQ(SumSizes(list), sum);
        // A folder's content follows the folder's own entry.
        for (size_t i = 0; i < list.size(); ++i)
            for (size_t j = 0; j < i; ++j)
                EXPECT_FALSE(list[i].Path.back() == '\\' &&
                             Lower(list[j].Path).compare(0, list[i].Path.size(), Lower(list[i].Path)) == 0)
                    << list[j].Path << " before " << list[i].Path;
    }

    // The list is appended to, never cleared.
    std::vector<TfwFoundFile> list = {{"kept", 1}};
    FindFiles(dir_ + "a.log", list, false);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].Path, "kept");
}

TEST_F(FileClean, ListSubfolders)
{
    Put("one\\f.txt", 1);
    Put("Two\\deeper\\f.txt", 1);
    Put("three.txt", 1);

    std::vector<std::string> bare, full;
    ListSubfolders(dir_, bare, false);
    ListSubfolders("%TEMP%" + marker_, full, true);  // without the trailing backslash
    std::sort(bare.begin(), bare.end());
    std::sort(full.begin(), full.end());
    EXPECT_EQ(bare, (std::vector<std::string>{"Two", "one"}));
    ASSERT_EQ(full.size(), 2u);
    EXPECT_EQ(Lower(full[0]), Lower(dir_ + "two\\"));
    EXPECT_EQ(Lower(full[1]), Lower(dir_ + "one\\"));

    std::vector<std::string> none;
    ListSubfolders(dir_ + "missing", none, true);
    ListSubfolders("", none, true);
    EXPECT_TRUE(none.empty());
}

TEST_F(FileClean, FilesOf4GiBCountWithTheirFullSize)
{
    const int64_t big = (int64_t(1) << 32) + 5;  // its low 32 bits alone would say 5
    const std::string path = Path("huge.tmp");
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD start = GetTickCount();
    LARGE_INTEGER at;
    at.QuadPart = big;
    bool sized = SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && SetEndOfFile(h);
    CloseHandle(h);
    if (!sized) GTEST_SKIP() << "this file system cannot hold a file of 4 GiB (error " << GetLastError() << ")";
    if (GetTickCount() - start > 20000) GTEST_SKIP() << "sizing a 4 GiB file is not quick here; not repeated";
    Put("small.tmp", 7);

    std::vector<TfwFoundFile> list;
    FindFiles(dir_ + "*.tmp", list, false);
    EXPECT_EQ(AsMap(list)[Lower(path)], big);
    EXPECT_EQ(SumSizes(list), big + 7);

    TfwItemsList items(&Main);
    TfwFileItem *file = Item(&items, dir_ + "*.tmp");
    TfwFileItem *folder = Item(&items, dir_);
    items.Scan();
    EXPECT_EQ(file->Size, big + 7);
    EXPECT_EQ(folder->Size, big + 7);
    EXPECT_EQ(items.FoundSize(), 2 * (big + 7));
    file->Fix();
    EXPECT_FALSE(FileExists(path));
}

TEST_F(FileClean, PatternFixDeletesExactlyWhatTheScanFound)
{
    const std::string a = Put("a.tmp", 100), b = Put("b.tmp", 23), other = Put("c.dat", 9);
    TfwItemsList items(&Main);
    TfwFileItem *item = Item(&items, dir_ + "*.tmp");

    items.Scan();
    ASSERT_TRUE(item->Found);
    EXPECT_TRUE(item->Selected);
    EXPECT_EQ(item->Size, 123);
    ASSERT_TRUE(item->Files);
    EXPECT_EQ(AsMap(*item->Files), (std::map<std::string, int64_t>{{Lower(a), 100}, {Lower(b), 23}}));

    // A second scan of a found entry measures nothing new.
    const std::string late = Put("late.tmp", 50);
    item->Scan();
    EXPECT_EQ(item->Size, 123);

    // Switched off by the user: nothing is touched.
    item->Selected = false;
    items.Fix();
    EXPECT_TRUE(FileExists(a) && FileExists(b));

    item->Selected = true;
    items.Fix();
    EXPECT_FALSE(FileExists(a));
    EXPECT_FALSE(FileExists(b));
    EXPECT_TRUE(FileExists(late)) << "created after the scan";
    EXPECT_TRUE(FileExists(other));
    EXPECT_FALSE(item->Files) << "the fix gives the list up";

    // Without a list of the scan the fix searches again.
    TfwFileItem *again = Item(&items, dir_ + "*.tmp");
    again->Found = again->Selected = true;
    again->Fix();
    EXPECT_FALSE(FileExists(late));
    EXPECT_TRUE(FileExists(other));

    // Entries that cannot be fixed or scanned.
    TfwFileItem *noFix = Item(&items, dir_ + "*.dat", ffNone);
    TfwFileItem *noScan = Item(&items, dir_ + "*.dat");
    noScan->ScanExists = false;
    noFix->Scan();
    noScan->Scan();
    EXPECT_TRUE(noFix->Found);
    EXPECT_FALSE(noScan->Found);
    noFix->Fix();
    EXPECT_TRUE(FileExists(other));
}

TEST_F(FileClean, FolderEntryCountsEverythingBelowAndCleansWhatIsThereNow)
{
    Put("temp\\a.tmp", 10);
    Put("temp\\sub\\b.tmp", 20);
    Put("temp\\sub\\deeper\\c.tmp", 30);
    Put("gone\\x.tmp", 1);
    TfwItemsList items(&Main);
    TfwFileItem *clean = Item(&items, dir_ + "temp\\");
    TfwFileItem *del = Item(&items, "%TEMP%" + marker_ + "\\gone\\", ffDelete);

    items.Scan();
    ASSERT_TRUE(clean->Found);
    EXPECT_EQ(clean->Size, 60);
    EXPECT_FALSE(clean->Files) << "a folder entry keeps no list";
    EXPECT_EQ(del->Size, 1);
    EXPECT_EQ(items.FoundCount(), 2);

    const std::string late = Put("temp\\sub\\late.tmp", 5);
    items.Fix();
    EXPECT_TRUE(DirectoryExists(Path("temp"))) << "clean keeps the folder";
    std::vector<TfwFoundFile> left;
    FindFiles(dir_ + "temp\\", left, false);
    EXPECT_TRUE(left.empty()) << left.size() << " entries left, the first " << left.front().Path;
    EXPECT_FALSE(FileExists(late));
    EXPECT_FALSE(DirectoryExists(Path("gone"))) << "del removes the folder";
    EXPECT_TRUE(DirectoryExists(dir_));

    // An empty folder is nothing to clean.
    TfwFileItem *empty = Item(&items, dir_ + "temp\\");
    empty->Scan();
    EXPECT_FALSE(empty->Found);
}

TEST_F(FileClean, WildcardFolderEntryDeletesTheFilesAndKeepsTheMatchedFolders)
{
    Put("Profiles\\p1\\Cache\\a", 1);
    Put("Profiles\\p1\\Cache\\sub\\b", 2);
    Put("Profiles\\p1\\Cache\\keep.dat", 3);
    Put("Profiles\\p1\\prefs.js", 4);
    Put("Profiles\\p2\\Cache\\c", 5);
    ProcessExceptions(true)->FileExceptions = {Lower(Path("Profiles\\p1\\Cache\\keep.dat"))};
    for (int fix : {ffClean, ffDelete}) {
        SCOPED_TRACE(fix);
        TfwItemsList items(&Main);
        TfwFileItem *item = Item(&items, dir_ + "Profiles\\*\\Cache\\", fix);
        items.Scan();
        if (fix == ffClean) EXPECT_EQ(item->Size, 1 + 2 + 5);
        else EXPECT_TRUE(item->Found) << "the folders are still there";
        items.Fix();
        EXPECT_FALSE(FileExists(Path("Profiles\\p1\\Cache\\a")));
        EXPECT_FALSE(FileExists(Path("Profiles\\p1\\Cache\\sub\\b")));
        EXPECT_FALSE(FileExists(Path("Profiles\\p2\\Cache\\c")));
        EXPECT_TRUE(FileExists(Path("Profiles\\p1\\Cache\\keep.dat")));
        EXPECT_TRUE(FileExists(Path("Profiles\\p1\\prefs.js")));
        EXPECT_TRUE(DirectoryExists(Path("Profiles\\p1\\Cache\\sub")));
        EXPECT_TRUE(DirectoryExists(Path("Profiles\\p2\\Cache")));
    }
}

TEST_F(FileClean, ExceptionsAndDesktopIniAreNeverCountedOrDeletedByPatterns)
{
    const std::string keep = Put("keep.log", 1000), ini = Put("desktop.ini", 2000), ini2 = Put("sub\\Desktop.INI", 4000);
    const std::string drop = Put("drop.log", 1);
    Put("sub\\drop.log", 2);
    ProcessExceptions(true)->FileExceptions = {Lower(keep)};

    TfwItemsList items(&Main);
    TfwFileItem *logs = Item(&items, dir_ + "*.log");
    TfwFileItem *all = Item(&items, dir_ + "*.*");
    TfwFileItem *folder = Item(&items, dir_);
    items.Scan();
    EXPECT_EQ(logs->Size, 1);
    EXPECT_EQ(all->Size, 1);
    EXPECT_EQ(folder->Size, 3) << "excepted files stay out of a folder entry's size";

    logs->Fix();
    all->Fix();
    EXPECT_FALSE(FileExists(drop));
    EXPECT_TRUE(FileExists(keep));
    EXPECT_TRUE(FileExists(ini));
    EXPECT_TRUE(FileExists(ini2));

    // Nothing but excepted files: nothing found.
    TfwFileItem *only = Item(&items, dir_ + "*.ini");
    only->Scan();
    EXPECT_FALSE(only->Found);
}

TEST_F(FileClean, LinksToFoldersAreNeverEntered)
{
    const std::string outside = Put("outside\\precious.dat", 10);
    Put("tree\\a.tmp", 1);
    Put("tree\\Profiles\\real\\Cache\\c.tmp", 2);
    ForceDirectories(Path("tree\\loop"), false, true);
    ForceDirectories(Path("tree\\away"), false, true);
    ForceDirectories(Path("tree\\Profiles\\linked"), false, true);
    if (!MakeJunction(Path("tree\\loop"), Path("tree")) || !MakeJunction(Path("tree\\away"), Path("outside")) ||
        !MakeJunction(Path("tree\\Profiles\\linked"), Path("outside")))
        GTEST_SKIP() << "no junctions on this file system (error " << GetLastError() << ")";
    ForceDirectories(Path("outside\\Cache"), false, true);
    const std::string outsideCache = Put("outside\\Cache\\cached.dat", 20);

    std::vector<TfwFoundFile> list;
    FindFiles(dir_ + "tree\\", list, false);
    std::map<std::string, int64_t> m = AsMap(list);
    EXPECT_EQ(m.count(Lower(Path("tree\\loop\\"))), 1u) << "listed";
    EXPECT_EQ(m.count(Lower(Path("tree\\away\\"))), 1u);
    EXPECT_EQ(SumSizes(list), 3) << "nothing behind a link counted";

    TfwItemsList items(&Main);
    TfwFileItem *caches = Item(&items, dir_ + "tree\\Profiles\\*\\Cache\\");
    TfwFileItem *folder = Item(&items, dir_ + "tree\\");
    items.Scan();
    EXPECT_EQ(caches->Size, 2);
    EXPECT_EQ(folder->Size, 3);
    items.Fix();
    EXPECT_FALSE(FileExists(Path("tree\\a.tmp")));
    EXPECT_TRUE(FileExists(outside));
    EXPECT_TRUE(FileExists(outsideCache));
}

TEST_F(FileClean, UnresolvedMacroNeverNamesTheCurrentFolder)
{
    const std::string a = Put("%TOVUNOSUCHMACRO%\\a.tmp", 10), b = Put("%TOVUNOSUCHMACRO%\\sub\\b.tmp", 20);
    char saved[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, saved), 0u);
    ASSERT_TRUE(SetCurrentDirectoryA(dir_.c_str()));
    std::vector<TfwFoundFile> reached;
    FindFiles("%TOVUNOSUCHMACRO%\\*.tmp", reached, false);

    TfwItemsList items(&Main);
    TfwFileItem *pattern = Item(&items, "%TOVUNOSUCHMACRO%\\*.tmp");
    TfwFileItem *folder = Item(&items, "%TOVUNOSUCHMACRO%\\", ffDelete);
    items.Scan();
    const bool found = pattern->Found || folder->Found;
    pattern->Found = pattern->Selected = folder->Found = folder->Selected = true;
    items.Fix();
    SetCurrentDirectoryA(saved);

    ASSERT_EQ(reached.size(), 1u) << "the relative folder is there to be reached";
    EXPECT_FALSE(found);
    EXPECT_TRUE(FileExists(a));
    EXPECT_TRUE(FileExists(b));
}

TEST_F(FileClean, LockedFileStaysAndTheRunGoesOn)
{
    const std::string locked = Put("a\\locked.tmp", 10), free1 = Put("a\\free.tmp", 20), free2 = Put("b\\free.tmp", 30);
    TfwItemsList items(&Main);
    TfwFileItem *first = Item(&items, dir_ + "a\\*.tmp");
    TfwFileItem *second = Item(&items, dir_ + "b\\*.tmp");
    items.Scan();
    ASSERT_TRUE(first->Found && second->Found);

    HANDLE h = CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    items.Fix();
    EXPECT_TRUE(FileExists(locked));
    EXPECT_FALSE(FileExists(free1));
    EXPECT_FALSE(FileExists(free2)) << "the item after the failure was fixed too";

    // The folder clean goes past it as well.
    Put("a\\more.tmp", 1);
    TfwFileItem *folder = Item(&items, dir_ + "a\\");
    folder->Scan();
    folder->Fix();
    CloseHandle(h);
    EXPECT_TRUE(FileExists(locked));
    EXPECT_FALSE(FileExists(Path("a\\more.tmp")));
}

TEST_F(FileClean, Entry64SeesTheNativeSystemFolder)
{
    const std::string name = marker_;  // unique per run
    TfwItemsList items(&Main);
    TfwFileItem *item64 = Item(&items, "%SYSDIR64%\\" + name + "\\*.log", ffClean, true);
    TfwFileItem *item32 = Item(&items, "%SYSDIR%\\" + name + "\\*.log");
    if (!Is64BitOS()) {
        items.Scan();
        EXPECT_FALSE(item64->Found);
        GTEST_SKIP() << "a 32-bit system has no native 64-bit folder";
    }
    // Redirection off, SystemDir is the native folder; on, the 32-bit one.
    const std::string native = SystemDir() + name + "\\", wow = native;
    struct Cleanup {
        std::string folder;
        ~Cleanup()
        {
            {
                TFsRedirectionOff off;
                DeleteFolder(folder, true);
            }
            DeleteFolder(folder, true);
        }
    } cleanup{native};
    {
        TFsRedirectionOff off;
        ASSERT_TRUE(off.Ok());
        ASSERT_TRUE(ForceDirectories(native, false, true));
        ASSERT_TRUE(WriteBytes(native + "x.log", 64));
    }
    ASSERT_TRUE(ForceDirectories(wow, false, true));
    ASSERT_TRUE(WriteBytes(wow + "y.log", 32));
    ASSERT_FALSE(FileExists(wow + "x.log")) << "the two views are the same folder here";

    items.Scan();
    EXPECT_TRUE(FileExists(wow + "y.log")) << "redirection is back on after the scan";
    EXPECT_TRUE(item64->Found);
    EXPECT_EQ(item64->Size, 64);
    EXPECT_EQ(item32->Size, 32);

    item64->Fix();
    EXPECT_TRUE(FileExists(wow + "y.log"));
    {
        TFsRedirectionOff off;
        EXPECT_FALSE(FileExists(native + "x.log"));
    }

    // A 64-bit folder entry measures the folder its fix cleans: the native
    // program folder, not this program's.
    const std::string pf64 = ExpandPath64("%PROGRAMFILES%\\" + name + "\\");
    const std::string pf32 = ExpandPath("%PROGRAMFILES%\\" + name + "\\");
    ASSERT_NE(Lower(pf64), Lower(pf32));
    Cleanup c64{pf64}, c32{pf32};
    ASSERT_TRUE(ForceDirectories(pf64, false, true) && WriteBytes(pf64 + "a.dat", 640));
    ASSERT_TRUE(ForceDirectories(pf32, false, true) && WriteBytes(pf32 + "b.dat", 320));
    TfwFileItem *folder64 = Item(&items, "%PROGRAMFILES%\\" + name + "\\", ffClean, true);
    folder64->Scan();
    EXPECT_EQ(folder64->Size, 640);
    folder64->Fix();
    EXPECT_FALSE(FileExists(pf64 + "a.dat"));
    EXPECT_TRUE(FileExists(pf32 + "b.dat"));
}

// ---- the shipped clean groups against planted files --------------------------

// Every file entry of the document's clean lists gets a planted file: each "*"
// becomes a unique name, a folder entry gets a file in a unique subfolder.
// Scanning before and after planting must differ by exactly the planted bytes.
// Only planted files are deleted: a pattern's fix is handed the planted part of
// its list; folder entries, whose fix empties the whole (shared) folder, are
// fixed in the scratch tests above.
class FileCleanScenario : public testing::Test {
protected:
    std::string U;
    struct Planted {
        std::string path;  // native path for a 64-bit entry
        bool is64;
    };
    std::vector<Planted> files;
    std::vector<std::pair<std::string, bool>> folders;  // created by the test, outermost first

    void SetUp() override
    {
        U = "TovuTest" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(GetTickCount());
        *ProcessExceptions(true) = TfwExceptions();
    }
    void TearDown() override
    {
        for (const auto &f : files) {
            std::unique_ptr<TFsRedirectionOff> off;
            if (f.is64) off = std::make_unique<TFsRedirectionOff>();
            DeleteFileForce(f.path);
        }
        for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
            std::unique_ptr<TFsRedirectionOff> off;
            if (it->second) off = std::make_unique<TFsRedirectionOff>();
            // Only what this test created; every file planted is gone by now.
            DeleteFolder(it->first, true);
        }
        *ProcessExceptions(true) = TfwExceptions();
    }

    // False when the file was there before (then it is not the test's).
    bool Plant(const std::string &path, size_t size, bool is64)
    {
        std::unique_ptr<TFsRedirectionOff> off;
        if (is64) off = std::make_unique<TFsRedirectionOff>();
        if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
        // Remember the outermost folder that is missing.
        std::string folder = path.substr(0, path.find_last_of('\\') + 1);
        std::string missing;
        for (std::string f = folder; f.size() > 3 && !DirectoryExists(f);) {
            missing = f;
            f = f.substr(0, f.find_last_of('\\', f.size() - 2) + 1);
        }
        if (!ForceDirectories(folder, false, true)) return false;
        if (!missing.empty()) folders.push_back({missing, is64});
        if (!WriteBytes(path, size)) return false;
        files.push_back({path, is64});
        return true;
    }
};

std::string Replace(std::string s, const std::string &from, const std::string &to)
{
    for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size()) s.replace(at, from.size(), to);
    return s;
}

std::map<TfwFileItem *, int64_t> ScanCleanLists(TfwMain &m)
{
    std::map<TfwFileItem *, int64_t> sizes;
    for (TfwGroup *g : m.Clean->Groups) {
        if (g->ItemsType != "list") continue;
        g->Scan();
        for (TfwItem *i : g->Items->List)
            if (auto *f = dynamic_cast<TfwFileItem *>(i)) sizes[f] = f->Size;
    }
    return sizes;
}

TEST_F(FileCleanScenario, ShippedCleanGroupsFindAndFixPlantedFiles)
{
    TfwMain before;
    before.LoadDefinitions();
    ASSERT_TRUE(before.Clean);
    std::map<TfwFileItem *, int64_t> base = ScanCleanLists(before);
    // Items of the second tree in the same order as the first.
    std::vector<TfwFileItem *> baseItems;
    for (TfwGroup *g : before.Clean->Groups)
        if (g->ItemsType == "list")
            for (TfwItem *i : g->Items->List) baseItems.push_back(dynamic_cast<TfwFileItem *>(i));

    struct Plan {
        std::string path;    // where the file was written ("" when not planted)
        std::string listed;  // the path the entry's search reports it under
        int64_t size = 0;
    };
    std::vector<Plan> planted;  // per item, in item order
    size_t entries = 0, skipped = 0;
    for (size_t n = 0; n < baseItems.size(); ++n) {
        TfwFileItem *i = baseItems[n];
        if (!i) {
            planted.push_back({});
            continue;
        }
        ++entries;
        if (i->Is64 && !Is64BitOS()) {
            planted.push_back({});
            continue;
        }
        std::string p = Replace(i->Path, "*", U);
        if (i->IsFolderEntry()) p += U + "\\" + U + ".tmp";
        const std::string listed = ExpandPath(p);
        // Planted in the native folder for a 64-bit entry: with redirection
        // off the system folder is the native one.
        if (i->Is64) p = Replace(p, "%SYSDIR64%", "%SYSDIR%");
        const std::string path = ExpandPath(p);
        const int64_t size = 1000 + 37 * int64_t(n);
        if (!Plant(path, size_t(size), i->Is64)) {
            ++skipped;
            std::printf("[ note ] not planted (exists or cannot be made): %s\n", path.c_str());
            planted.push_back({});
            continue;
        }
        planted.push_back({path, listed, size});
    }
    // Excepted files beside them are never counted.
    const std::string winUpdate = ExpandPath("%WINDIR%\\WindowsUpdate.log");
    const std::string tracing = ExpandPath("%SYSDIR32%\\wbem\\Logs\\WMITracing.log");
    const std::string ini = ExpandPath("%WINDIR%\\Temp\\" + U + "\\desktop.ini");
    for (const std::string &p : {winUpdate, tracing, ini}) Plant(p, 5000, false);

    TfwMain after;
    after.LoadDefinitions();
    std::map<TfwFileItem *, int64_t> now = ScanCleanLists(after);
    std::vector<TfwFileItem *> afterItems;
    for (TfwGroup *g : after.Clean->Groups)
        if (g->ItemsType == "list")
            for (TfwItem *i : g->Items->List) afterItems.push_back(dynamic_cast<TfwFileItem *>(i));
    ASSERT_EQ(afterItems.size(), baseItems.size());
    EXPECT_GE(entries, 25u) << "the document's clean lists";
    EXPECT_LE(skipped, 1u);

    for (size_t n = 0; n < afterItems.size(); ++n) {
        TfwFileItem *i = afterItems[n];
        if (!i || planted[n].path.empty()) continue;
        SCOPED_TRACE(i->Path);
        EXPECT_TRUE(i->Found);
        EXPECT_EQ(now[i] - base[baseItems[n]], planted[n].size);
        if (i->IsFolderEntry()) {
            EXPECT_FALSE(i->Files);
            continue;
        }
        ASSERT_TRUE(i->Files);
        std::map<std::string, int64_t> found = AsMap(*i->Files);
        EXPECT_EQ(found[Lower(planted[n].listed)], planted[n].size);
        for (const std::string &p : {winUpdate, tracing}) EXPECT_EQ(found.count(Lower(p)), 0u) << p;
        // The fix gets the planted part of the list only.
        std::vector<TfwFoundFile> mine;
        for (const auto &f : *i->Files)
            if (Lower(f.Path) == Lower(planted[n].listed)) mine.push_back(f);
        ASSERT_EQ(mine.size(), 1u);
        *i->Files = mine;
        i->Fix();
        std::unique_ptr<TFsRedirectionOff> off;
        if (i->Is64) off = std::make_unique<TFsRedirectionOff>();
        EXPECT_EQ(GetFileAttributesA(planted[n].path.c_str()), INVALID_FILE_ATTRIBUTES) << "not deleted";
    }
}

// ---- recycle bin ---------------------------------------------------------------

// The shell is replaced: under Wine the bin is the host user's trash.
struct FakeBin {
    static inline bool queryOk, infoOk;
    static inline int64_t size, items;
    static inline int emptied, iconUpdates;
    static inline bool lastConfirm, lastProgress, lastSound;
    static inline std::string lastRoot;

    static bool IsEmpty() { return !queryOk || (size == 0 && items == 0); }
    static bool Info(int64_t &s, int64_t &i)
    {
        s = infoOk ? size : 0;
        i = infoOk ? items : 0;
        return infoOk;
    }
    static bool Empty(const std::string &root, bool confirm, bool progress, bool sound)
    {
        ++emptied;
        lastRoot = root;
        lastConfirm = confirm;
        lastProgress = progress;
        lastSound = sound;
        return true;
    }
    static void UpdateIcon() { ++iconUpdates; }
};

class RecycleBin : public testing::Test {
protected:
    TfwRecycleBinShell saved = TfwItemsRecycleBin::Shell;
    void SetUp() override { TfwItemsRecycleBin::Shell = {FakeBin::IsEmpty, FakeBin::Info, FakeBin::Empty, FakeBin::UpdateIcon}; }
    void TearDown() override { TfwItemsRecycleBin::Shell = saved; }
};

TEST_F(RecycleBin, CountsAndFixDecision)
{
    const struct {
        const char *what;
        bool queryOk, infoOk;
        int64_t size, items;
        int count;
        int64_t bytes;
    } cases[] = {
        {"empty", true, true, 0, 0, 0, 0},
        {"3 items, 1000 bytes", true, true, 1000, 3, 3, 1000},
        {"query fails", false, false, 1000, 3, 0, 0},
        {"not empty, figures unknown", true, false, 1000, 3, 1, 0},
        {"more items than the tree counts", true, true, int64_t(6) << 30, int64_t(INT_MAX) + 10, INT_MAX,
         int64_t(6) << 30},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        FakeBin::queryOk = c.queryOk;
        FakeBin::infoOk = c.infoOk;
        FakeBin::size = c.size;
        FakeBin::items = c.items;
        FakeBin::emptied = FakeBin::iconUpdates = 0;
        TfwMain m;
        std::unique_ptr<TfwItems> items(CreateScanner("recycle-bin", &m));
        auto *bin = dynamic_cast<TfwItemsRecycleBin *>(items.get());
        ASSERT_TRUE(bin);
        bin->Scan();
        EXPECT_EQ(bin->FoundCount(), c.count);
        EXPECT_EQ(bin->FoundSize(), c.bytes);
        EXPECT_EQ(bin->SelectedCount(), c.count);
        EXPECT_EQ(bin->SelectedSize(), c.bytes);
        bin->Fix();
        EXPECT_EQ(FakeBin::emptied, c.count > 0 ? 1 : 0);
        EXPECT_EQ(FakeBin::iconUpdates, FakeBin::emptied);
        if (FakeBin::emptied) {
            EXPECT_EQ(FakeBin::lastRoot, "") << "all drives";
            EXPECT_FALSE(FakeBin::lastConfirm || FakeBin::lastProgress || FakeBin::lastSound);
        }
    }
}

TEST_F(RecycleBin, EmptyBinGroupIsNotFixed)
{
    FakeBin::queryOk = FakeBin::infoOk = true;
    FakeBin::size = FakeBin::items = 0;
    FakeBin::emptied = 0;
    TfwMain m;
    m.Clean = new TfwCategory(&m, TfwCategoryKind::Clean);
    auto *g = new TfwGroup(&m);
    g->Id = "recycle-bin";
    g->Items = CreateScanner("recycle-bin", &m);
    m.Clean->Groups.push_back(g);
    m.ScanAll();
    EXPECT_EQ(m.Clean->SelectedSize(), 0);
    m.FixCategories(TfwCategoryKind::Clean);
    EXPECT_EQ(FakeBin::emptied, 0);

    FakeBin::size = 1000;
    FakeBin::items = 3;
    m.ScanAll();
    EXPECT_EQ(m.Clean->SelectedSize(), 1000);
    m.FixCategories(TfwCategoryKind::Clean);
    EXPECT_EQ(FakeBin::emptied, 1);
}

} // namespace
