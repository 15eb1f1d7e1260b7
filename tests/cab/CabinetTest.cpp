#include "backup/ArchiveCABU.h"
#include "backup/ArchiveU.h"
#include "backup/CabSTComps2.h"
#include "platform/DirectoryU.h"
#include "platform/FileU.h"
#include "platform/SystemPathsU.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Fixtures()
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path = self;
    return path.substr(0, path.find_last_of('\\') + 1) + "cabs\\";
}

std::string Read(const std::string &path)
{
    std::string text;
    ReadFileToString(path, text);
    return text;
}

bool Write(const std::string &path, const std::string &bytes)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD n = 0;
    WriteFile(h, bytes.data(), DWORD(bytes.size()), &n, nullptr);
    CloseHandle(h);
    return n == bytes.size();
}

// Every file below folder, as paths relative to it.
void Walk(const std::string &folder, const std::string &prefix, std::vector<std::string> &out)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((folder + "*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = fd.cFileName;
        if (name == "." || name == "..") continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) Walk(folder + name + "\\", prefix + name + "\\", out);
        else out.push_back(prefix + name);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
}

std::vector<std::string> FilesBelow(const std::string &folder)
{
    std::vector<std::string> out;
    Walk(folder, "", out);
    return out;
}

class Cabinets : public ::testing::Test {
protected:
    std::string Scratch, In, Out;

    void SetUp() override
    {
        Scratch = TempDir() + "TovuTestCab\\";
        DeleteFolder(Scratch, true);
        In = Scratch + "in\\";
        Out = Scratch + "out\\";
        ASSERT_TRUE(ForceDirectories(In, false, true));
        ASSERT_TRUE(ForceDirectories(Out, false, true));
    }
    void TearDown() override { DeleteFolder(Scratch, true); }

    // A copy of a fixture under a name of our choosing, changed by patch.
    std::string Copy(const std::string &fixture, const std::string &name,
                     const std::function<void(std::string &)> &patch = nullptr)
    {
        std::string bytes = Read(Fixtures() + fixture);
        EXPECT_FALSE(bytes.empty()) << fixture;
        if (patch) patch(bytes);
        EXPECT_TRUE(Write(In + name, bytes));
        return In + name;
    }
};

// The name of victim.cab's one entry, overwritten in place (the cabinet's
// checksums cover the data blocks only, so the library reads it as written).
std::function<void(std::string &)> RenameEntry(const std::string &name)
{
    return [name](std::string &bytes) {
        const std::string old = "aaaaaaaaaaaaaaaaaaaaaaaa.txt";
        size_t at = bytes.find(old);
        ASSERT_NE(at, std::string::npos);
        ASSERT_LE(name.size(), old.size());
        bytes.replace(at, old.size(), name + std::string(old.size() - name.size(), '\0'));
    };
}

TEST_F(Cabinets, ListsAndUnpacksWhatTheToolPacked)
{
    struct Case {
        const char *Cab;
        std::vector<std::string> Names;
    } cases[] = {
        {"one.cab", {"one.txt"}},
        {"several.cab", {"alpha.txt", "big.log", "noise.bin"}},
        {"folders.cab", {"alpha.txt", "sub\\tool.exe", "sub\\deep\\note.txt"}},
        {"empty.cab", {"empty.dat"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Cab);
        DeleteFolder(Out, true);
        ForceDirectories(Out, false, true);
        TArchive archive(Fixtures() + c.Cab);
        EXPECT_EQ(archive.ArchiveType(), ArchiveTypeCAB);
        std::vector<std::string> list{"left over"};
        ASSERT_TRUE(archive.LoadArchiveContents(&list)) << archive.LastError();
        EXPECT_EQ(list, c.Names);
        ASSERT_TRUE(archive.DecompressToDir(Out, "", true)) << archive.LastError();
        EXPECT_EQ(FilesBelow(Out).size(), c.Names.size());
        for (const std::string &name : c.Names) {
            ASSERT_TRUE(FileExists(Out + name)) << name;
            EXPECT_EQ(Read(Out + name), Read(Fixtures() + "src\\" + name)) << name;
        }
    }
}

TEST_F(Cabinets, TypeComesFromTheExtension)
{
    const std::string upper = Copy("one.cab", "update.CAB");
    TArchive cab(upper);
    std::vector<std::string> list;
    EXPECT_TRUE(cab.LoadArchiveContents(&list)) << cab.LastError();

    const std::string zip = Copy("one.cab", "update.zip");
    TArchive other(zip);
    EXPECT_EQ(other.ArchiveType(), 0);
    EXPECT_FALSE(other.LoadArchiveContents(&list));
    EXPECT_EQ(other.LastError(), "Internal error in module \"ArchivesClass\": \r\n"
                                 "Archives Class is not initialized to specific type!");
    // Asked for explicitly, the same file is read as a cabinet.
    EXPECT_TRUE(other.SetArchiveType(ArchiveTypeCAB));
    EXPECT_TRUE(other.LoadArchiveContents(&list)) << other.LastError();

    EXPECT_FALSE(cab.SetArchiveType(7));
    EXPECT_NE(cab.LastError().find("Function \"SetArchiveType\" - required ArchiveType is not available!"),
              std::string::npos);
    EXPECT_EQ(cab.ArchiveTypeName(ArchiveTypeCAB), "CAB");
    EXPECT_EQ(cab.ArchiveTypeName(9), "");
    EXPECT_NE(cab.LastError().find("unknown value in parameter AArchiveType!"), std::string::npos);
}

TEST_F(Cabinets, FrameworkErrorsNameTheirCause)
{
    TArchive archive(Copy("one.cab", "u.cab"));
    EXPECT_FALSE(archive.DecompressToDir("", "", false));
    EXPECT_EQ(archive.LastError(), "Internal error in module \"ArchivesClass\": \r\n"
                                   "Function \"DecompressToDir\" - parameter TargetDit (string) is empty!");
    EXPECT_FALSE(archive.LoadArchiveContents(nullptr));
    EXPECT_NE(archive.LastError().find("parameter ResFileNames (tStrings) is nil!"), std::string::npos);

    TArchive missing(In + "gone.cab");
    std::vector<std::string> list;
    EXPECT_FALSE(missing.LoadArchiveContents(&list));
    EXPECT_EQ(missing.LastError(), "File \"" + In + "gone.cab\" does not exist!");

    Write(In + "text.cab", "This is no cabinet at all, just text long enough for a header.");
    TArchive text(In + "text.cab");
    EXPECT_FALSE(text.LoadArchiveContents(&list));
    EXPECT_NE(text.LastError().find("Cabinet file does not have the correct format"), std::string::npos)
        << text.LastError();
    EXPECT_TRUE(list.empty());
}

TEST_F(Cabinets, ReplacesAReadOnlyCopyAndKeepsTheStoredDateAndAttributes)
{
    // Entry attributes set to read-only and archive in the file table.
    const std::string cab = Copy("one.cab", "ro.cab", [](std::string &bytes) {
        size_t at = bytes.find("one.txt");
        ASSERT_NE(at, std::string::npos);
        bytes[at - 2] = 0x21;
        bytes[at - 1] = 0;
    });
    ASSERT_TRUE(Write(Out + "one.txt", "an older copy"));
    ASSERT_TRUE(SetFileAttributesA((Out + "one.txt").c_str(), FILE_ATTRIBUTE_READONLY));

    TArchive archive(cab);
    ASSERT_TRUE(archive.DecompressToDir(Out, "", false)) << archive.LastError();
    EXPECT_EQ(Read(Out + "one.txt"), Read(Fixtures() + "src\\one.txt"));
    const DWORD attributes = GetFileAttributesA((Out + "one.txt").c_str());
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_FALSE(attributes & FILE_ATTRIBUTE_HIDDEN);

    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExA((Out + "one.txt").c_str(), GetFileExInfoStandard, &data));
    FILETIME local;
    SYSTEMTIME st;
    FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
    FileTimeToSystemTime(&local, &st);
    EXPECT_EQ(st.wYear, 2020);
    EXPECT_EQ(st.wMonth, 5);
    EXPECT_EQ(st.wDay, 17);
    EXPECT_EQ(st.wHour, 10);
    EXPECT_EQ(st.wMinute, 20);
    EXPECT_EQ(st.wSecond, 30);
    SetFileAttributesA((Out + "one.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(Cabinets, OneFileAloneLeavesTheOthersAlone)
{
    ASSERT_TRUE(Write(Out + "alpha.txt", "keep me"));
    TArchive archive(Fixtures() + "folders.cab");
    ASSERT_TRUE(archive.DecompressToDir(Out, "SUB\\TOOL.EXE", false)) << archive.LastError();
    EXPECT_EQ(Read(Out + "sub\\tool.exe"), Read(Fixtures() + "src\\sub\\tool.exe"));
    EXPECT_EQ(Read(Out + "alpha.txt"), "keep me");
    EXPECT_FALSE(FileExists(Out + "sub\\deep\\note.txt"));
}

TEST(ArchiveNames, OnlyNamesBelowTheFolderPass)
{
    for (const char *good : {"tool.exe", "sub\\tool.exe", "sub/deep/a.b.c", "console.txt", "COM10", "a..b"})
        EXPECT_TRUE(IsSafeArchiveName(good)) << good;
    for (const char *bad : {"", "..", "..\\x", "sub\\..\\..\\x", "a/../../x", "\\x", "/x", "\\\\srv\\share\\x",
                            "C:\\x", "C:x", "x:stream", "CON", "nul.txt", "sub\\AUX.log", "com1", "LPT9.dat",
                            ". .\\x", "x.\\y", "x \\y", "sub\\", "a\\\\b", "a*b", "a?b", "a\"b", "a|b",
                            "a\tb"})
        EXPECT_FALSE(IsSafeArchiveName(bad)) << bad;
    EXPECT_FALSE(IsSafeArchiveName(std::string(201, 'a')));
}

TEST_F(Cabinets, HostileNamesAreRefusedAndNothingLandsOutside)
{
    const char *names[] = {"..\\evil.txt", "out\\..\\..\\evil.txt", "\\evil.txt", "C:\\evil.txt",
                           "C:evil.txt", "nul.txt", "sub\\CON", ". .\\evil.txt", "evil.txt:ads",
                           "a/../../evil.txt"};
    for (const char *name : names) {
        SCOPED_TRACE(name);
        const std::string cab = Copy("victim.cab", "v.cab", RenameEntry(name));
        TArchive archive(cab);
        std::vector<std::string> list;
        EXPECT_FALSE(archive.LoadArchiveContents(&list));
        EXPECT_TRUE(list.empty());
        EXPECT_FALSE(archive.DecompressToDir(Out, "", true));
        EXPECT_FALSE(archive.LastError().empty());

        // The unpacking itself refuses too, for a caller that never listed.
        TSTCabReader reader;
        std::vector<std::pair<std::string, std::string>> written;
        std::string error;
        EXPECT_FALSE(reader.Extract(cab, Out, "", "", written, error));
        EXPECT_TRUE(written.empty());
        EXPECT_NE(error.find("outside the target folder"), std::string::npos) << error;

        EXPECT_TRUE(FilesBelow(Out).empty());
        EXPECT_EQ(FilesBelow(Scratch), std::vector<std::string>{"in\\v.cab"});
        EXPECT_FALSE(FileExists(TempDir() + "evil.txt"));
        EXPECT_FALSE(FileExists(SystemDiskRoot() + "evil.txt"));
    }
}

// Whatever a damaged cabinet holds: no crash, nothing outside the folder, and
// a reported success means every listed file is really there.
void ExpectContained(const std::string &scratch, const std::string &cab, const std::string &out)
{
    TArchive archive(cab);
    std::vector<std::string> list;
    const bool listed = archive.LoadArchiveContents(&list);
    const bool unpacked = archive.DecompressToDir(out, "", false);
    if (!listed) {
        EXPECT_TRUE(list.empty());
    }
    if (unpacked) {
        EXPECT_TRUE(listed);
        for (const std::string &name : list) EXPECT_TRUE(FileExists(out + name)) << name;
    } else {
        EXPECT_FALSE(archive.LastError().empty());
    }
    for (const std::string &file : FilesBelow(scratch))
        EXPECT_TRUE(file == "in\\m.cab" || file.compare(0, 4, "out\\") == 0) << file;
}

TEST_F(Cabinets, TruncatedAndOverstatedTablesAreRefused)
{
    const std::string whole = Read(Fixtures() + "folders.cab");
    for (size_t size = 0; size < whole.size(); ++size) {
        SCOPED_TRACE(size);
        Copy("folders.cab", "m.cab", [size](std::string &b) { b.resize(size); });
        ExpectContained(Scratch, In + "m.cab", Out);
        std::vector<std::string> list;
        TArchive archive(In + "m.cab");
        // The table ends at byte 111; a shorter file cannot list.
        if (size < 112) {
            EXPECT_FALSE(archive.LoadArchiveContents(&list));
        }
        DeleteFolder(Out, true);
    }
    struct Patch {
        const char *What;
        size_t At;
        std::string Bytes;
    } patches[] = {
        {"file count beyond the table", 28, std::string("\xff\xff", 2)},
        {"table offset beyond the file", 16, std::string("\x00\x00\x01\x00", 4)},
        {"table offset at the last byte", 16, std::string("\xa3\x00\x00\x00", 4)},
        {"folder count beyond the file", 26, std::string("\xff\x00", 2)},
        {"cabinet size beyond the file", 8, std::string("\xff\xff\xff\x7f", 4)},
    };
    for (const Patch &p : patches) {
        SCOPED_TRACE(p.What);
        Copy("folders.cab", "m.cab", [&p](std::string &b) { b.replace(p.At, p.Bytes.size(), p.Bytes); });
        ExpectContained(Scratch, In + "m.cab", Out);
        DeleteFolder(Out, true);
    }
    // A name that never ends.
    Copy("victim.cab", "m.cab", [](std::string &b) {
        size_t at = b.find("aaaa");
        b.resize(at);
        b += std::string(300, 'b');
    });
    TArchive endless(In + "m.cab");
    std::vector<std::string> list;
    EXPECT_FALSE(endless.LoadArchiveContents(&list));
}

TEST_F(Cabinets, MutatedCabinetsNeverEscapeOrCrash)
{
    std::mt19937 random(20261211);
    for (const char *fixture : {"folders.cab", "one.cab", "several.cab"}) {
        const std::string whole = Read(Fixtures() + fixture);
        // several.cab is mostly compressed data: its header and table are the
        // interesting part, so mutations there stay near the front.
        const size_t span = std::min<size_t>(whole.size(), 200);
        const int rounds = std::string(fixture) == "several.cab" ? 40 : 150;
        for (int round = 0; round < rounds; ++round) {
            std::string bytes = whole;
            const int changes = 1 + int(random() % 4);
            for (int c = 0; c < changes; ++c) {
                size_t at = random() % span;
                switch (random() % 4) {
                case 0: bytes[at] = char(random()); break;
                case 1: bytes[at] = 0; break;
                case 2: bytes[at] = char(0xff); break;
                default: bytes[at] = (random() % 2) ? '\\' : '.'; break;
                }
            }
            SCOPED_TRACE(std::string(fixture) + " round " + std::to_string(round));
            ASSERT_TRUE(Write(In + "m.cab", bytes));
            ExpectContained(Scratch, In + "m.cab", Out);
            DeleteFolder(Out, true);
            ForceDirectories(Out, false, true);
            if (HasFailure()) return;
        }
    }
}

}  // namespace
