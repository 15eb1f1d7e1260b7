#include "app/fwUpdate.h"
#include "platform/DirectoryU.h"
#include "platform/FileU.h"
#include "platform/Sha256U.h"
#include "platform/SystemPathsU.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

const std::string Sum(64, 'a');

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

std::vector<std::string> Names(const std::string &folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((folder + "*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do
        if (std::string(fd.cFileName) != "." && std::string(fd.cFileName) != "..") names.push_back(fd.cFileName);
    while (FindNextFileA(h, &fd));
    FindClose(h);
    return names;
}

std::string Ver(const std::string &ent, const std::string &url, const std::string &sha = Sum,
                const std::string &size = "10")
{
    std::string v = "<Ver ENT=\"" + ent + "\" URL=\"" + url + "\"";
    if (!sha.empty()) v += " SHA256=\"" + sha + "\"";
    if (!size.empty()) v += " Size=\"" + size + "\"";
    return v + "/>";
}

std::string Answer(const std::string &vers, const std::string &silent = "<Silent>0</Silent>",
                   const std::string &status = "OK")
{
    return "<?xml version=\"1.0\"?><Result Status=\"" + status + "\"><Vers>" + vers + "</Vers>" + silent +
           "</Result>";
}

TEST(UpdateAnswer, FilesAreReadInOrderWithTheirChecks)
{
    TUpdateOffer offer;
    const std::string upper(64, 'A');
    ASSERT_TRUE(ParseUpdateAnswer(Answer(Ver("TRAY", "http://127.0.0.1:8080/update/files/tovu.cab?r=2") +
                                             Ver("MAIN", "https://h.example/f/Tovu.exe", upper, "123")),
                                  false, true, offer));
    ASSERT_EQ(offer.Files.size(), 2u);
    EXPECT_EQ(offer.Files[0].Entry, "TRAY");
    EXPECT_EQ(offer.Files[0].Address, "http://127.0.0.1:8080/update/files/tovu.cab?r=2");
    EXPECT_EQ(offer.Files[0].Size, 10);
    EXPECT_EQ(offer.Files[1].Sha256, std::string(64, 'a'));
    EXPECT_EQ(offer.Files[1].Size, 123);
    EXPECT_FALSE(offer.Silent);

    EXPECT_TRUE(ParseUpdateAnswer(Answer(Ver("A", "http://h/a.cab"), "<Silent> 1 </Silent>"), false, true, offer));
    EXPECT_TRUE(offer.Silent);
    // No files: nothing is silent.
    EXPECT_TRUE(ParseUpdateAnswer(Answer("", "<Silent>1</Silent>"), true, true, offer));
    EXPECT_TRUE(offer.Files.empty());
    EXPECT_FALSE(offer.Silent);
}

TEST(UpdateAnswer, NothingIsOfferedWithoutAnOkOrWithAnyDoubtfulFile)
{
    struct Case {
        const char *What;
        std::string Text;
        bool Manual, Setting;
    } cases[] = {
        {"no update", "<Result Status=\"NONE\"/>", true, true},
        {"status in another case", Answer(Ver("A", "http://h/a.cab"), "", "ok"), true, true},
        {"automatic check switched off", Answer(Ver("A", "http://h/a.cab")), false, false},
        {"not XML", "Service Unavailable", true, true},
        {"empty answer", "", true, true},
        {"no digest", Answer(Ver("A", "http://h/a.cab", "")), true, true},
        {"short digest", Answer(Ver("A", "http://h/a.cab", std::string(63, 'a'))), true, true},
        {"digest not hex", Answer(Ver("A", "http://h/a.cab", std::string(64, 'g'))), true, true},
        {"size not a number", Answer(Ver("A", "http://h/a.cab", Sum, "12kB")), true, true},
        {"negative size", Answer(Ver("A", "http://h/a.cab", Sum, "-1")), true, true},
        {"relative address", Answer(Ver("A", "/update/files/a.cab")), true, true},
        {"file address", Answer(Ver("A", "file://C:/a.cab")), true, true},
        {"name leaving the folder", Answer(Ver("A", "http://h/..")), true, true},
        {"encoded separator", Answer(Ver("A", "http://h/x%5c..%5cTovu.exe")), true, true},
        {"device name", Answer(Ver("A", "http://h/update/CON")), true, true},
        {"no name", Answer(Ver("A", "http://h/update/")), true, true},
        {"same name twice", Answer(Ver("A", "http://h/a/t.cab") + Ver("B", "http://h/b/T.CAB")), true, true},
        {"one bad among good", Answer(Ver("A", "http://h/a.cab") + Ver("B", "http://h/b.cab", "")), true, true},
    };
    for (const Case &c : cases) {
        TUpdateOffer offer;
        offer.Silent = true;
        ParseUpdateAnswer(c.Text, c.Manual, c.Setting, offer);
        EXPECT_TRUE(offer.Files.empty()) << c.What;
        EXPECT_FALSE(offer.Silent) << c.What;
    }
    // A manual check reads the files whatever the automatic setting says.
    TUpdateOffer offer;
    EXPECT_TRUE(ParseUpdateAnswer(Answer(Ver("A", "http://h/a.cab")), true, false, offer));
    EXPECT_EQ(offer.Files.size(), 1u);
}

TEST(UpdateRules, FileNameFromTheAddress)
{
    struct Case {
        const char *Address, *Name;
    } cases[] = {
        {"http://h/update/files/TovuTray.exe?x=1/y", "TovuTray.exe"},
        {"  https://h/a/tovu-1.0.0.2.cab  ", "tovu-1.0.0.2.cab"},
        {"http://h/a/", ""},
        {"http://h/a/..", ""},
        {"http://h/a/nul.cab", ""},
        {"http://h/a/x%2F..", ""},
        {"http://h/a/C:x.exe", ""},
    };
    for (const Case &c : cases) EXPECT_EQ(UpdateFileName(c.Address), c.Name) << c.Address;
}

TEST(UpdateRules, CheckAndUpdateIntervals)
{
    const double now = 45000.5;
    struct Case {
        bool Known;
        double Last;
        bool Check, Update;
    } cases[] = {
        {false, 0, true, true},
        {true, now, false, false},
        {true, now - 0.99, false, false},
        {true, now - 1.0, true, false},
        {true, now + 1.5, true, false},  // a clock set back counts as far away
        {true, now - 2.0, true, false},  // the install role's "two days ago"
        {true, now - 3.0, true, true},
        {true, now + 4.0, true, true},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(DailyCheckDue(c.Known, c.Last, now), c.Check) << c.Last - now;
        EXPECT_EQ(AutomaticUpdateDue(c.Known, c.Last, now), c.Update) << c.Last - now;
    }
}

TEST(UpdateRules, TimeLeftText)
{
    EXPECT_EQ(UpdateTimeText(3725), L"1 h 2 min ");
    EXPECT_EQ(UpdateTimeText(65), L"1 min 5 sec");
    EXPECT_EQ(UpdateTimeText(7), L"7 sec");
    EXPECT_EQ(UpdateTimeText(7200), L"2 h ");
    EXPECT_EQ(UpdateTimeText(0), L"0 sec");
}

class Install : public ::testing::Test {
protected:
    std::string Scratch, Program, Update;

    void SetUp() override
    {
        Scratch = TempDir() + "TovuTestUpdate\\";
        DeleteFolder(Scratch, true);
        Program = Scratch + "Program\\";
        Update = Program + "Update\\";
        ASSERT_TRUE(ForceDirectories(Update, false, true));
        ASSERT_TRUE(Write(Program + "Tovu.exe", "old main program\n"));
        ASSERT_TRUE(Write(Program + "TovuTray.exe", "old tray program\n"));
        ASSERT_TRUE(Write(Program + "a.dll", "old library\n"));
    }
    void TearDown() override
    {
        DeleteFolder(Scratch, true);
    }

    std::string Download(const std::string &fixture, const std::string &name)
    {
        EXPECT_TRUE(CopyFileA((Fixtures() + fixture).c_str(), (Update + name).c_str(), FALSE)) << fixture;
        return Update + name;
    }

    void ExpectOldProgram()
    {
        EXPECT_EQ(Read(Program + "Tovu.exe"), "old main program\n");
        EXPECT_EQ(Read(Program + "TovuTray.exe"), "old tray program\n");
        EXPECT_EQ(Read(Program + "a.dll"), "old library\n");
        EXPECT_FALSE(FileExists(Program + "Tovu.new"));
        EXPECT_FALSE(FileExists(Program + "TovuTray.new"));
    }
};

TEST_F(Install, BothProgramsFromACabinetTakeTheirPlaces)
{
    bool ready = false;
    int next = 0;
    ASSERT_TRUE(InstallDownloads({Download("update.cab", "tovu.cab")}, Update, Program, ready, [&] { ++next; }));
    EXPECT_EQ(Read(Program + "Tovu.exe"), "new main program\n");
    EXPECT_EQ(Read(Program + "TovuTray.exe"), "new tray program\n");
    EXPECT_EQ(Read(Program + "a.dll"), "old library\n");
    EXPECT_FALSE(ready);
    EXPECT_EQ(next, 1);
    // No ".old" copies, no cabinet, nothing unpacked left behind.
    EXPECT_TRUE(Names(Update).empty());
    EXPECT_EQ(Names(Program).size(), 4u);  // the three files and Update
}

TEST_F(Install, AFileInUseIsPlacedAsNew)
{
    // Held without delete sharing: it can be neither renamed nor replaced, as
    // a running program on a system that refuses the rename.
    HANDLE busy = CreateFileA((Program + "Tovu.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(busy, INVALID_HANDLE_VALUE);
    bool ready = false;
    const bool ok = InstallDownloads({Download("update.cab", "tovu.cab")}, Update, Program, ready);
    CloseHandle(busy);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(ready);
    EXPECT_EQ(Read(Program + "Tovu.exe"), "old main program\n");
    EXPECT_EQ(Read(Program + "Tovu.new"), "new main program\n");
    EXPECT_EQ(Read(Program + "TovuTray.exe"), "new tray program\n");
    EXPECT_TRUE(Names(Update).empty());
}

TEST_F(Install, APlainFileIsMovedAndACabinetThatDoesNotUnpackChangesNothing)
{
    bool ready = false;
    ASSERT_TRUE(Write(Update + "a.dll", "new library\n"));
    ASSERT_TRUE(InstallDownloads({Update + "a.dll"}, Update, Program, ready));
    EXPECT_EQ(Read(Program + "a.dll"), "new library\n");
    ASSERT_TRUE(Write(Program + "a.dll", "old library\n"));

    std::string cut = Read(Fixtures() + "update.cab");
    cut.resize(cut.size() - 10);
    ASSERT_TRUE(Write(Update + "tovu.cab", cut));
    ASSERT_TRUE(Write(Update + "a.dll", "new library\n"));
    EXPECT_FALSE(InstallDownloads({Update + "a.dll", Update + "tovu.cab"}, Update, Program, ready));
    ExpectOldProgram();
    EXPECT_FALSE(ready);
    EXPECT_TRUE(Names(Update).empty());
}

TEST_F(Install, AFileThatCannotBePutInPlacePutsBackTheOnesBefore)
{
    // A folder where the tray program should go: a.dll is replaced first,
    // then the tray program cannot be written and a.dll must come back.
    ASSERT_TRUE(DeleteFileA((Program + "TovuTray.exe").c_str()));
    ASSERT_TRUE(ForceDirectories(Program + "TovuTray.exe", false, false));
    bool ready = false;
    EXPECT_FALSE(InstallDownloads({Download("rollback.cab", "r.cab")}, Update, Program, ready));
    EXPECT_EQ(Read(Program + "a.dll"), "old library\n");
    EXPECT_FALSE(FileExists(Program + "a.old"));
    EXPECT_TRUE(DirectoryExists(Program + "TovuTray.exe"));
    EXPECT_TRUE(Names(Update).empty());
}

TEST_F(Install, ADownloadMustBeTheAnnouncedFile)
{
    const std::string path = Download("update.cab", "tovu.cab");
    TUpdateFile file;
    ASSERT_TRUE(FileSha256Hex(path, file.Sha256));
    file.Size = FileSize(path);
    EXPECT_TRUE(DownloadMatches(path, file));

    TUpdateFile wrongSize = file;
    wrongSize.Size += 1;
    EXPECT_FALSE(DownloadMatches(path, wrongSize));
    TUpdateFile noSize = file;
    noSize.Size = -1;
    EXPECT_TRUE(DownloadMatches(path, noSize));

    std::string bytes = Read(path);
    bytes[bytes.size() / 2] ^= 1;
    ASSERT_TRUE(Write(path, bytes));
    EXPECT_FALSE(DownloadMatches(path, file));
    EXPECT_FALSE(DownloadMatches(Update + "missing.cab", file));
    TUpdateFile noDigest = file;
    noDigest.Sha256.clear();
    EXPECT_FALSE(DownloadMatches(path, noDigest));
}

}  // namespace
