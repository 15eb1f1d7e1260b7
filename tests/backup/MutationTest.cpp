// Generated mutations of real documents (backup documents, the postponed
// startup list, the cleaned-entries list, the translation table): truncated
// anywhere, one entry's line broken by hostile bytes, cut or doubled. No
// reader may crash, and every entry the mutation did not touch must still be
// read.
#include "RegSnapshot.h"
#include "backup/fwBackup.h"
#include "config/IniFileWU.h"
#include "engine/fwCleanRep.h"
#include "engine/fwClassesEx.h"
#include "platform/DirectoryU.h"
#include "platform/FileU.h"
#include "platform/SystemPathsU.h"
#include "startup/fwStartup.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

const char K[] = "Software\\TovuTest\\Mutation";

void WriteText(const std::string &path, const std::string &text)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
    DWORD n;
    WriteFile(h, text.data(), DWORD(text.size()), &n, nullptr);
    CloseHandle(h);
}

// A document as its writer lays it out: a head, one line per entry (each
// carrying the entry's own name), a tail.
struct TDocument {
    std::string Head;
    std::vector<std::string> Lines;  // without line ends
    std::string Tail;
    std::vector<std::string> Names;  // the name each line carries

    std::string Text(int broken = -1, const std::string &replacement = {}) const
    {
        std::string t = Head;
        for (size_t i = 0; i < Lines.size(); ++i) t += (int(i) == broken ? replacement : Lines[i]) + "\r\n";
        return t + Tail;
    }
};

using TReader = std::function<std::set<std::string>(const std::string &text)>;

// Runs the reader over every mutation and reports the first entry lost.
void CheckCorpus(const TDocument &doc, const TReader &read)
{
    std::set<std::string> all(doc.Names.begin(), doc.Names.end());
    ASSERT_EQ(read(doc.Text()), all) << "the unmutated document reads whole";
    std::mt19937 rng(4711);
    const std::string hostile[] = {"<", ">", "\"", "&", "#", "#G", "#2", "'", "\x01"s, "\0"s, "\xFF", "</", "/>", "=",
                                   "<!--", "]]>", "\r", "\t"};
    size_t mutations = 0;
    for (size_t i = 0; i < doc.Lines.size(); ++i) {
        const std::string &line = doc.Lines[i];
        std::vector<std::string> variants;
        for (size_t cut = 0; cut < line.size(); cut += 5) variants.push_back(line.substr(0, cut));
        for (int n = 0; n < 40; ++n) {
            std::string v = line;
            size_t at = rng() % (v.size() + 1);
            switch (rng() % 4) {
            case 0: v.insert(at, hostile[rng() % (sizeof hostile / sizeof hostile[0])]); break;
            case 1: v.erase(at, rng() % 12); break;
            case 2:
                if (at < v.size()) v[at] = char(rng() & 0xFF);
                break;
            default: v.insert(at, v.substr(at, rng() % 20)); break;
            }
            variants.push_back(v);
        }
        for (const std::string &v : variants) {
            ++mutations;
            std::set<std::string> got = read(doc.Text(int(i), v));
            for (size_t j = 0; j < doc.Names.size(); ++j)
                if (j != i && !got.count(doc.Names[j])) {
                    ADD_FAILURE() << "entry " << doc.Names[j] << " lost when line " << i << " became: " << v;
                    return;
                }
        }
    }
    // Cut anywhere: the entries wholly before the cut still read.
    const std::string whole = doc.Text();
    for (size_t cut = 0; cut <= whole.size(); ++cut) {
        ++mutations;
        std::set<std::string> got = read(whole.substr(0, cut));
        size_t end = doc.Head.size();
        for (size_t j = 0; j < doc.Lines.size(); ++j) {
            end += doc.Lines[j].size() + 2;
            if (end <= cut && !got.count(doc.Names[j])) {
                ADD_FAILURE() << "entry " << doc.Names[j] << " lost when the document was cut at " << cut;
                return;
            }
        }
    }
    EXPECT_GT(mutations, 200u);
}

class Mutations : public ::testing::Test {
protected:
    std::string Folder;
    void SetUp() override
    {
        Folder = TempDir() + "TovuTestMutation\\";
        DeleteFolder(Folder, true);
        ForceDirectories(Folder, false, true);
        regtest::Wipe(HKEY_CURRENT_USER, 0, K);
    }
    void TearDown() override
    {
        regtest::Wipe(HKEY_CURRENT_USER, 0, K);
        DeleteFolder(Folder, true);
    }
};

TEST_F(Mutations, BackupDocuments)
{
    // A real document from the recorder: typed and raw entries, a deleted
    // value, an empty key.
    const std::string key = K;
    regtest::PutRaw(HKEY_CURRENT_USER, 0, key, "a", REG_SZ, "q\"uote & <lt> #\0"s);
    regtest::PutRaw(HKEY_CURRENT_USER, 0, key, "b", REG_DWORD, "\x01\x02\x03\x04"s);
    regtest::PutRaw(HKEY_CURRENT_USER, 0, key, "c", REG_QWORD, "\x01\x02\x03\x04\x05\x06\x07\x08"s);
    regtest::PutRaw(HKEY_CURRENT_USER, 0, key + "\\Sub", "d", REG_MULTI_SZ, "x\0y\0\0"s);
    regtest::MakeKey(HKEY_CURRENT_USER, 0, key + "\\Empty");
    SetBackupDocumentsFolder(Folder);
    BeginBackup(bkFix, L"mutations");
    BackupKey(HKEY_CURRENT_USER, key, false, false);
    BackupValue(HKEY_CURRENT_USER, key, "gone", false, false);
    const std::string path = EndBackup();
    SetBackupDocumentsFolder("");
    ASSERT_FALSE(path.empty());
    std::string text;
    ASSERT_TRUE(ReadFileToString(path, text));
    DeleteFileA(path.c_str());

    TDocument doc;
    size_t first = text.find("\r\n") + 2;
    doc.Head = text.substr(0, first);
    size_t end = text.rfind("</backup>");
    doc.Tail = text.substr(end);
    for (size_t at = first; at < end;) {
        size_t eol = text.find("\r\n", at);
        std::string line = text.substr(at, eol - at);
        doc.Lines.push_back(line);
        size_t n = line.find(" key=\"") + 6;
        size_t m = line.find("\" name=\"", n);
        std::string name = line.substr(n, m - n) + "|" + line.substr(m + 8, line.find('"', m + 8) - m - 8);
        doc.Names.push_back(name);
        at = eol + 2;
    }
    ASSERT_GE(doc.Lines.size(), 5u);

    const std::string file = Folder + "fix_20260101_000000.xml";
    CheckCorpus(doc, [&](const std::string &t) {
        WriteText(file, t);
        TfwBackup backup(file);
        Restore(backup);
        std::set<std::string> names;
        for (const TfwRegEntry &e : backup.Items) names.insert(e.Key + "|" + e.ValueName);
        return names;
    });
}

TEST_F(Mutations, StartupList)
{
    TfwAllRunItems list(true);
    const std::string file = list.FileName();
    ASSERT_FALSE(file.empty());
    std::string saved;
    const bool had = ReadFileToString(file, saved);
    TDocument doc;
    doc.Head = "<startup>\r\n";
    doc.Tail = "</startup>\r\n";
    for (int i = 0; i < 5; ++i) {
        auto item = std::make_unique<TfwRegRunItem>();
        item->IsUser = true;
        item->App = "App \"" + std::to_string(i) + "\" & <co>";
        item->Name = "run" + std::to_string(i);
        item->Value = "\"C:\\Program Files\\App" + std::to_string(i) + "\\app.exe\" /tray #1";
        item->Priority = i;
        item->Is64 = i % 2;
        list.Items.push_back(std::move(item));
        doc.Names.push_back("run" + std::to_string(i));
    }
    // The lines exactly as the list writes them.
    std::string text = list.Text();
    for (size_t at = doc.Head.size(); at < text.size() - doc.Tail.size();) {
        size_t eol = text.find("\r\n", at);
        doc.Lines.push_back(text.substr(at, eol - at));
        at = eol + 2;
    }
    ASSERT_EQ(doc.Lines.size(), 5u);
    ForceDirectories(file.substr(0, file.find_last_of('\\') + 1), false, true);
    CheckCorpus(doc, [&](const std::string &t) {
        WriteText(file, t);
        TfwAllRunItems read(true);
        read.Load();
        std::set<std::string> names;
        for (const auto &item : read.Items) names.insert(item->Name);
        return names;
    });
    DeleteFileA(file.c_str());
    if (had) WriteText(file, saved);
}

TEST_F(Mutations, CleanedEntriesList)
{
    const std::string file = Folder + "cleanrep.xml";
    TfwCleanRep list(file);
    TDocument doc;
    doc.Head = "<cleanrep>\r\n";
    doc.Tail = "</cleanrep>\r\n";
    for (int i = 0; i < 5; ++i) {
        std::string name = "clean\"" + std::to_string(i) + "&<>";
        list.Add(HKEY_CURRENT_USER, K, name, false);
        doc.Names.push_back(name);
    }
    ASSERT_TRUE(list.Save());
    std::string text;
    ASSERT_TRUE(ReadFileToString(file, text));
    for (size_t at = doc.Head.size(); at < text.size() - doc.Tail.size();) {
        size_t eol = text.find("\r\n", at);
        std::string line = text.substr(at, eol - at);
        doc.Lines.push_back(line.substr(line.find_first_not_of(' ')));
        at = eol + 2;
    }
    ASSERT_EQ(doc.Lines.size(), 5u);
    CheckCorpus(doc, [&](const std::string &t) {
        WriteText(file, t);
        TfwCleanRep read(file);
        read.Load();
        std::set<std::string> names;
        for (const auto &e : read.OtherEntries) names.insert(e->ValueName);
        return names;
    });
}

TEST_F(Mutations, TranslationTable)
{
    const std::string file = Folder + "lng.ini";
    TDocument doc;
    doc.Head = "\xEF\xBB\xBF[Languages]\r\nen=English\r\n[de]\r\n";
    for (int i = 0; i < 6; ++i) {
        std::string key = "Key" + std::to_string(i);
        doc.Lines.push_back(key + "=Text " + std::to_string(i) + " \xC3\xA4 %BRAND% %s|%d");
        doc.Names.push_back(key);
    }
    CheckCorpus(doc, [&](const std::string &t) {
        WriteText(file, t);
        TIniFileW ini(file);
        std::set<std::string> names;
        for (const auto &[name, value] : ini.ReadSectionValues("de"))
            if (value.find("Text ") == 0) names.insert(name);
        return names;
    });
}

} // namespace
