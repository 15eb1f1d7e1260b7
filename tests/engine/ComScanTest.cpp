// COM registrations that point at nothing: planted under unique identifiers
// in the classes root of the prefix, scanned with the rest of the prefix's
// registrations, repaired and restored.
#include "ScanTestKit.h"

#include "engine/fwScanners.h"
#include "engine/fwExceptions.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <map>
#include <set>

namespace {

using namespace std::string_literals;
using namespace regtest;
using namespace scantest;

// Every identifier planted here carries this mark.
const char Mark[] = "70F0C1A5";
std::string Guid(int n)
{
    char buf[64];
    snprintf(buf, sizeof buf, "{%s-0000-4E57-9C1A-7F0E0A11%04X}", Mark, n);
    return buf;
}

std::string Sz(const std::string &text) { return text + '\0'; }

// The text of a value read raw, without the type prefix and trailing NULs.
std::string RawText(HKEY root, REGSAM view, const std::string &key, const std::string &name)
{
    std::string raw = GetRaw(root, view, key, name);
    if (raw == "<none>") return {};
    raw = raw.substr(raw.find(':') + 1);
    while (!raw.empty() && raw.back() == '\0') raw.pop_back();
    return raw;
}

TfwRegItem *Reg(TfwItem *i) { return dynamic_cast<TfwRegItem *>(i); }

bool Ours(TfwItem *i) { return Reg(i) && Contains(Reg(i)->Key, Mark); }

// Our findings as "Is64|Key|ValueName", details marked with a leading "  ".
std::multiset<std::string> OurLines(TfwItems *items)
{
    std::multiset<std::string> out;
    for (TfwItem *i : items->List) {
        if (!Ours(i)) continue;
        TfwRegItem *r = Reg(i);
        EXPECT_TRUE(r->Found && r->Selected) << r->Key;
        EXPECT_EQ(r->Root, HKEY_CLASSES_ROOT);
        EXPECT_EQ(r->FixMode, fmDelete);
        out.insert((r->IsDetail ? "  " : "") + std::to_string(r->Is64) + "|" + r->Key + "|" + r->ValueName);
    }
    return out;
}

// The views a finding of a classes-root key is expected in: both when the
// views hold separate keys, else once, from the 32-bit pass.
std::vector<bool> ExpectedViews(const char *rootKey)
{
    if (!Is64BitOS() || SharedInBothViews(HKEY_CLASSES_ROOT, rootKey)) return {false};
    return {false, true};
}

class ComScan : public ScanTest {
protected:
    void SetUp() override
    {
        ScanTest::SetUp();
        WipeOurs();
    }
    void TearDown() override
    {
        WipeOurs();
        ScanTest::TearDown();
    }
    void WipeOurs()
    {
        for (const char *root : {"CLSID", "Interface", "TypeLib"})
            for (int n = 0; n < 0x40; ++n)
                for (REGSAM v : {V32, V64}) Wipe(HKEY_CLASSES_ROOT, v, root + "\\"s + Guid(n));
    }
};

TEST_F(ComScan, ClassesWhoseServersAreGone)
{
    const std::string gone = Folder + "gone\\srv.dll";
    const std::string broken = "CLSID\\" + Guid(1);
    const std::vector<REGSAM> views = Is64BitOS() ? std::vector<REGSAM>{V32, V64} : std::vector<REGSAM>{V32};
    for (REGSAM v : views) {
        PutRaw(HKEY_CLASSES_ROOT, v, broken, "", REG_SZ, Sz("Tovu test class"));
        PutRaw(HKEY_CLASSES_ROOT, v, broken + "\\InprocServer32", "", REG_SZ, Sz(gone));
        PutRaw(HKEY_CLASSES_ROOT, v, broken + "\\InprocServer32", "ThreadingModel", REG_SZ, Sz("Apartment"));
        PutRaw(HKEY_CLASSES_ROOT, v, broken + "\\ProgID", "", REG_SZ, Sz("Tovu.Test.1"));
    }
    // A missing in-process server does not matter while the local server
    // (quoted, with arguments) is there.
    const std::string other = "CLSID\\" + Guid(2);
    PutRaw(HKEY_CLASSES_ROOT, V32, other + "\\InprocServer32", "", REG_SZ, Sz(gone));
    PutRaw(HKEY_CLASSES_ROOT, V32, other + "\\LocalServer32", "", REG_SZ,
           Sz("\"" + Existing("tool.exe") + "\" /automation"));
    // No server value to judge: an empty one, or no server subkey at all.
    PutRaw(HKEY_CLASSES_ROOT, V32, "CLSID\\" + Guid(3) + "\\InprocServer32", "", REG_SZ, Sz("  "));
    PutRaw(HKEY_CLASSES_ROOT, V32, "CLSID\\" + Guid(4) + "\\ProgID", "", REG_SZ, Sz("Tovu.NoServer"));
    // Broken, but excepted by the definitions.
    PutRaw(HKEY_CLASSES_ROOT, V32, "CLSID\\" + Guid(5) + "\\LocalServer32", "", REG_SZ, Sz(Folder + "gone.exe"));
    TfwMain defs;
    defs.LoadDefinitionsFromText("<fixwell><exceptions><reg root=\"HKCR\" key=\"CLSID\\" + Guid(5) +
                                 "\" ignore=\"key\"/></exceptions></fixwell>");

    std::map<REGSAM, std::map<std::string, std::string>> before;
    for (REGSAM v : views) before[v] = Snapshot(HKEY_CLASSES_ROOT, v, broken);

    FixTree tree;
    auto *scanner = tree.Make<TfwItemsCLSID>();
    const int counted = tree.Scan();
    EXPECT_EQ(counted, int(scanner->List.size())) << "every finding and detail line is counted";
    EXPECT_EQ(scanner->Step, scanner->Steps);
    EXPECT_EQ(scanner->Steps, Is64BitOS() ? 2 : 1);

    std::multiset<std::string> expected;
    for (bool is64 : ExpectedViews("CLSID")) {
        const std::string v = std::to_string(is64) + "|";
        expected.insert(v + broken + "|");
        expected.insert("  " + v + broken + "\\InprocServer32|");
        expected.insert("  " + v + broken + "\\InprocServer32|ThreadingModel");
        expected.insert("  " + v + broken + "\\ProgID|");
    }
    EXPECT_EQ(OurLines(scanner), expected);

    // What the prefix itself gave: no reported class has a server that plainly exists.
    static const char *const servers[] = {"InprocServer32", "LocalServer32", "InprocHandler32",
                                          "InprocServer",   "LocalServer",   "InprocHandler"};
    int foreign = 0, existing = 0;
    for (TfwItem *i : scanner->List) {
        TfwRegItem *r = Reg(i);
        if (Ours(i) || r->IsDetail) continue;
        ++foreign;
        for (const char *s : servers) {
            std::string value = RawText(HKEY_CLASSES_ROOT, r->Is64 ? V64 : V32, r->Key + "\\" + s, "");
            if (PlainlyExists(value)) {
                ++existing;
                ADD_FAILURE() << r->Key << "\\" << s << " = " << value;
            }
        }
    }
    EXPECT_EQ(existing, 0) << "of " << foreign << " findings of the prefix";

    // The repair deletes exactly our broken class, in each view it was found
    // in; the backup puts every value back.
    tree.FixOnly(Ours);
    for (REGSAM v : views) EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, v, broken));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, V32, other));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, V32, "CLSID\\" + Guid(3)));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, V32, "CLSID\\" + Guid(5)));
    EXPECT_GT(RestoreOnlyBackup(), 0);
    for (REGSAM v : views) EXPECT_EQ(Snapshot(HKEY_CLASSES_ROOT, v, broken), before[v]) << "view " << v;

    // Restored entries stay hidden from the scanners for a while.
    FixTree again;
    again.Make<TfwItemsCLSID>();
    again.Scan();
    EXPECT_TRUE(OurLines(again.Group->Items).empty());
}

// A stop request ends each pass at its first progress check; both passes
// still count as done.
TEST_F(ComScan, StopEndsEachPass)
{
    PutRaw(HKEY_CLASSES_ROOT, V32, "CLSID\\" + Guid(6) + "\\LocalServer32", "", REG_SZ, Sz(Folder + "gone.exe"));
    FixTree tree;
    auto *scanner = tree.Make<TfwItemsCLSID>();
    tree.Main.Stopped = true;
    EXPECT_EQ(tree.Scan(), 0);
    EXPECT_TRUE(scanner->List.empty());
    EXPECT_EQ(scanner->Step, scanner->Steps);
    EXPECT_EQ(scanner->Pass64, Is64BitOS());
}

// Keys the system's installer service owns are not ours to judge: the
// service puts them back, and deleting them can break the system.
TEST_F(ComScan, InstallerOwnedClassesAreLeftAlone)
{
    if (OSVersionClass() <= OSClassServer2003) GTEST_SKIP() << "the installer service owns no keys before Vista";
    const std::string owned = "CLSID\\" + Guid(8), plain = "CLSID\\" + Guid(9);
    for (const std::string &key : {owned, plain})
        PutRaw(HKEY_CLASSES_ROOT, V32, key + "\\InprocServer32", "", REG_SZ, Sz(Folder + "gone.dll"));
    {
        PSID installer = nullptr;
        ASSERT_TRUE(ConvertStringSidToSidA("S-1-5-80-956008885-3418522649-1831038044-1850242994-2273714754",
                                           &installer));
        HKEY k;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, owned.c_str(), 0, WRITE_OWNER | V32, &k), 0);
        const DWORD rc = SetSecurityInfo(k, SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, installer, nullptr,
                                         nullptr, nullptr);
        RegCloseKey(k);
        LocalFree(installer);
        ASSERT_EQ(rc, DWORD(ERROR_SUCCESS));
    }
    ASSERT_TRUE(IsInstallerOwned(HKEY_CLASSES_ROOT, owned));
    ASSERT_FALSE(IsInstallerOwned(HKEY_CLASSES_ROOT, plain));

    FixTree tree;
    auto *scanner = tree.Make<TfwItemsCLSID>();
    tree.Scan();
    std::set<std::string> keys;
    for (const std::string &line : OurLines(scanner))
        if (line.rfind("  ", 0) != 0) keys.insert(line.substr(line.find('|') + 1));
    EXPECT_EQ(keys, std::set<std::string>{plain + "|"});
}

TEST_F(ComScan, InterfacesWhoseTypeLibraryIsNotRegistered)
{
    const std::string unknownLib = Guid(0x3F), soundLib = Guid(0x20);
    PutRaw(HKEY_CLASSES_ROOT, V32, "TypeLib\\" + soundLib + "\\1.0\\0\\win32", "", REG_SZ, Sz(Existing("a.tlb")));

    const std::string named = "Interface\\" + Guid(0x11), blank = "Interface\\" + Guid(0x12);
    PutRaw(HKEY_CLASSES_ROOT, V32, named + "\\TypeLib", "", REG_SZ, Sz(unknownLib));
    PutRaw(HKEY_CLASSES_ROOT, V32, named + "\\TypeLib", "Version", REG_SZ, Sz("1.0"));
    PutRaw(HKEY_CLASSES_ROOT, V32, blank + "\\TypeLib", "", REG_SZ, Sz(" "));
    PutRaw(HKEY_CLASSES_ROOT, V32, "Interface\\" + Guid(0x13) + "\\ProxyStubClsid32", "", REG_SZ, Sz(Guid(0x3E)));
    PutRaw(HKEY_CLASSES_ROOT, V32, "Interface\\" + Guid(0x14) + "\\TypeLib", "", REG_SZ, Sz(soundLib));
    MakeKey(HKEY_CLASSES_ROOT, V32, "Interface\\" + Guid(0x15) + "\\TypeLib");  // no default value

    FixTree tree;
    auto *scanner = tree.Make<TfwItemsInterfaces>();
    const int counted = tree.Scan();
    EXPECT_EQ(counted, int(scanner->List.size())) << "every finding and detail line is counted";
    std::multiset<std::string> expected = {
        "0|" + named + "|", "  0|" + named + "\\TypeLib|", "  0|" + named + "\\TypeLib|Version",
        "0|" + blank + "|", "  0|" + blank + "\\TypeLib|"};
    EXPECT_EQ(OurLines(scanner), expected);

    int registered = 0;
    for (TfwItem *i : scanner->List) {
        TfwRegItem *r = Reg(i);
        if (Ours(i) || r->IsDetail) continue;
        const REGSAM v = r->Is64 ? V64 : V32;
        std::string lib = RawText(HKEY_CLASSES_ROOT, v, r->Key + "\\TypeLib", "");
        if (!lib.empty() && KeyExists(HKEY_CLASSES_ROOT, v, "TypeLib\\" + lib)) {
            ++registered;
            ADD_FAILURE() << r->Key << " names " << lib;
        }
    }
    EXPECT_EQ(registered, 0);
}

TEST_F(ComScan, TypeLibrariesWhoseFilesAreGone)
{
    auto lib = [](int n) { return "TypeLib\\" + Guid(n); };
    const std::string gone = lib(0x21), absentFile = lib(0x23);
    PutRaw(HKEY_CLASSES_ROOT, V32, gone + "\\1.0", "", REG_SZ, Sz("Tovu test library"));
    PutRaw(HKEY_CLASSES_ROOT, V32, gone + "\\1.0\\0\\win32", "", REG_SZ, Sz(Folder + "gone\\lib.tlb"));
    PutRaw(HKEY_CLASSES_ROOT, V32, gone + "\\1.0\\FLAGS", "", REG_SZ, Sz("0"));
    PutRaw(HKEY_CLASSES_ROOT, V32, gone + "\\1.0\\HELPDIR", "", REG_SZ, Sz(Folder));
    // A resource index after an existing file.
    PutRaw(HKEY_CLASSES_ROOT, V32, lib(0x22) + "\\1.0\\0\\win32", "", REG_SZ, Sz(Existing("lib.tlb") + "\\2"));
    // The file is gone although its folder exists.
    PutRaw(HKEY_CLASSES_ROOT, V32, absentFile + "\\2.1\\409\\win32", "", REG_SZ, Sz(Folder + "absent.tlb"));
    // Gone for 32-bit programs, there for 64-bit ones.
    const std::string only64 = lib(0x24);
    PutRaw(HKEY_CLASSES_ROOT, V32, only64 + "\\1.0\\0\\win32", "", REG_SZ, Sz(Folder + "gone\\x.tlb"));
    PutRaw(HKEY_CLASSES_ROOT, V32, only64 + "\\1.0\\0\\win64", "", REG_SZ, Sz(Existing("lib64.tlb")));
    // Nothing to judge.
    PutRaw(HKEY_CLASSES_ROOT, V32, lib(0x25) + "\\1.0\\0\\win16", "", REG_SZ, Sz(Folder + "gone\\16.tlb"));

    FixTree tree;
    auto *scanner = tree.Make<TfwItemsTypelib>();
    const int counted = tree.Scan();
    EXPECT_EQ(counted, int(scanner->List.size())) << "every finding and detail line is counted";
    std::multiset<std::string> expected = {
        "0|" + gone + "|",
        "  0|" + gone + "\\1.0|",
        "  0|" + gone + "\\1.0\\0|",
        "  0|" + gone + "\\1.0\\0\\win32|",
        "  0|" + gone + "\\1.0\\FLAGS|",
        "  0|" + gone + "\\1.0\\HELPDIR|",
        "0|" + absentFile + "|",
        "  0|" + absentFile + "\\2.1|",
        "  0|" + absentFile + "\\2.1\\409|",
        "  0|" + absentFile + "\\2.1\\409\\win32|",
    };
    if (!Is64BitOS()) {
        expected.insert("0|" + only64 + "|");
        for (const char *sub : {"\\1.0|", "\\1.0\\0|", "\\1.0\\0\\win32|", "\\1.0\\0\\win64|"})
            expected.insert("  0|" + only64 + sub);
    }
    EXPECT_EQ(OurLines(scanner), expected);

    // No library of the prefix is reported while one of its files plainly exists.
    int existing = 0;
    for (TfwItem *i : scanner->List) {
        TfwRegItem *r = Reg(i);
        if (Ours(i) || r->IsDetail || !Contains(r->Key, "typelib\\")) continue;
        const REGSAM v = r->Is64 ? V64 : V32;
        std::vector<std::string> versions, subs;
        RegView32 = !r->Is64;
        RegView64 = r->Is64;
        RegEnumSubKeyNames(HKEY_CLASSES_ROOT, r->Key, versions);
        for (const std::string &ver : versions) {
            RegEnumSubKeyNames(HKEY_CLASSES_ROOT, r->Key + "\\" + ver, subs);
            for (const std::string &s : subs)
                for (const char *arch : {"win32", "win64"}) {
                    std::string file = RawText(HKEY_CLASSES_ROOT, v, r->Key + "\\" + ver + "\\" + s + "\\" + arch, "");
                    size_t slash = file.find_last_of('\\');
                    if (slash != std::string::npos && file.find_first_not_of("0123456789", slash + 1) == std::string::npos)
                        file.resize(slash);
                    if (PlainlyExists(file)) {
                        ++existing;
                        ADD_FAILURE() << r->Key << " " << arch << " = " << file;
                    }
                }
        }
        RegView32 = RegView64 = false;
    }
    EXPECT_EQ(existing, 0);
}

} // namespace
