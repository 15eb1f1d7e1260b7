#include "OtherThread.h"
#include "platform/RegistryU.h"
#include "platform/SystemPathsU.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

const char Base[] = "Software\\TovuTest\\Registry";

// Writes bytes exactly as given, bypassing the layer, so that readers can be
// fed values other programs might have stored.
void PutRaw(const std::string &key, const std::string &name, DWORD type, const std::string &bytes)
{
    HKEY k;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr), 0);
    EXPECT_EQ(RegSetValueExA(k, name.c_str(), 0, type, reinterpret_cast<const BYTE *>(bytes.data()),
                             static_cast<DWORD>(bytes.size())),
              0);
    RegCloseKey(k);
}

std::string GetRaw(const std::string &key, const std::string &name, DWORD *type = nullptr)
{
    HKEY k;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &k) != 0) return "<no key>";
    char buf[256];
    DWORD size = sizeof buf, t = 0;
    LONG r = RegQueryValueExA(k, name.c_str(), nullptr, &t, reinterpret_cast<BYTE *>(buf), &size);
    RegCloseKey(k);
    if (r != 0) return "<no value>";
    if (type) *type = t;
    return std::string(buf, size);
}


std::vector<std::string> Sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

class Registry : public ::testing::Test {
protected:
    const std::string K = Base;

    void SetUp() override
    {
        RegView64 = RegView32 = false;
        RegRemoveKeyTree(HKEY_CURRENT_USER, K, true);
    }
    void TearDown() override
    {
        RegView64 = RegView32 = false;
        RegRemoveKeyTree(HKEY_CURRENT_USER, K, true);
    }
};

TEST(RegistryNames, RootsAndSplitting)
{
    EXPECT_EQ(RegRootFromName("hklm"), HKEY_LOCAL_MACHINE);
    EXPECT_EQ(RegRootFromName("HKCU"), HKEY_CURRENT_USER);
    EXPECT_EQ(RegRootFromName("HKEY_LOCAL_MACHINE"), nullptr);
    EXPECT_EQ(RegRootName(HKEY_USERS), "HKU");
    EXPECT_EQ(RegRootName(HKEY_CURRENT_CONFIG), "HKUNKNOWN");
    EXPECT_EQ(RegFullKeyName(HKEY_CLASSES_ROOT, "CLSID\\x"), "HKCR\\CLSID\\x");

    HKEY root;
    std::string key;
    EXPECT_TRUE(RegSplitKeyName("HKCU\\Software\\X", root, key));
    EXPECT_EQ(root, HKEY_CURRENT_USER);
    EXPECT_EQ(key, "Software\\X");
    EXPECT_FALSE(RegSplitKeyName("Software\\X", root, key));
    EXPECT_EQ(root, nullptr);
    EXPECT_EQ(key, "");
    EXPECT_FALSE(RegSplitKeyName("HKLM", root, key));
}

TEST_F(Registry, ReadersAcceptOnlyTheirTypes)
{
    ASSERT_TRUE(RegWriteStr(HKEY_CURRENT_USER, K, "sz", "text"));
    ASSERT_TRUE(RegWriteExpandStr(HKEY_CURRENT_USER, K, "expand", "%TEMP%\\x"));
    ASSERT_TRUE(RegWriteStrTyped(HKEY_CURRENT_USER, K, "multi", REG_MULTI_SZ, "a\0bc"s));
    ASSERT_TRUE(RegWriteDWORD(HKEY_CURRENT_USER, K, "one", 1));
    ASSERT_TRUE(RegWriteDWORD(HKEY_CURRENT_USER, K, "two", 2));
    ASSERT_TRUE(RegWriteBinaryHex(HKEY_CURRENT_USER, K, "bin", "00ff10"));
    ASSERT_TRUE(RegWriteDouble(HKEY_CURRENT_USER, K, "date", 45000.25));
    ASSERT_TRUE(RegWriteStr(HKEY_CURRENT_USER, K, "", "default"));

    std::string s;
    std::wstring w;
    DWORD d, type;
    double f;

    EXPECT_TRUE(RegReadStr(HKEY_CURRENT_USER, K, "sz", s));
    EXPECT_EQ(s, "text");
    EXPECT_TRUE(RegReadStr(HKEY_CURRENT_USER, K, "", s));
    EXPECT_EQ(s, "default");
    EXPECT_FALSE(RegReadStr(HKEY_CURRENT_USER, K, "expand", s));
    EXPECT_EQ(s, "");
    EXPECT_TRUE(RegReadAnyStr(HKEY_CURRENT_USER, K, "expand", type, s));
    EXPECT_EQ(type, DWORD(REG_EXPAND_SZ));
    EXPECT_EQ(s, "%TEMP%\\x");
    EXPECT_TRUE(RegReadExpandStr(HKEY_CURRENT_USER, K, "expand", s));
    EXPECT_EQ(s, "%TEMP%\\x");
    EXPECT_FALSE(RegReadExpandStr(HKEY_CURRENT_USER, K, "sz", s));

    EXPECT_TRUE(RegReadMultiStr(HKEY_CURRENT_USER, K, "multi", s));
    EXPECT_EQ(s, "a\0bc"s);
    EXPECT_EQ(GetRaw(K, "multi"), "a\0bc\0\0"s);
    EXPECT_TRUE(RegReadStrW(HKEY_CURRENT_USER, K, "multi", w));
    EXPECT_EQ(w, L"a\0bc\0"s);
    EXPECT_TRUE(RegReadStrW(HKEY_CURRENT_USER, K, "sz", w));
    EXPECT_EQ(w, L"text");
    EXPECT_FALSE(RegReadStrW(HKEY_CURRENT_USER, K, "one", w));

    EXPECT_TRUE(RegReadDWORD(HKEY_CURRENT_USER, K, "two", d));
    EXPECT_EQ(d, 2u);
    EXPECT_FALSE(RegReadDWORD(HKEY_CURRENT_USER, K, "sz", d));
    EXPECT_EQ(d, 0u);
    EXPECT_TRUE(RegReadBool(HKEY_CURRENT_USER, K, "one"));
    EXPECT_FALSE(RegReadBool(HKEY_CURRENT_USER, K, "two"));
    EXPECT_FALSE(RegReadBool(HKEY_CURRENT_USER, K, "missing"));
    EXPECT_FALSE(RegReadAnyStr(HKEY_CURRENT_USER, K, "one", type, s));

    EXPECT_TRUE(RegReadBinaryHex(HKEY_CURRENT_USER, K, "bin", s));
    EXPECT_EQ(s, "00FF10");
    EXPECT_FALSE(RegReadBinaryHex(HKEY_CURRENT_USER, K, "sz", s));
    EXPECT_TRUE(RegReadDouble(HKEY_CURRENT_USER, K, "date", f));
    EXPECT_EQ(f, 45000.25);
    EXPECT_FALSE(RegReadDouble(HKEY_CURRENT_USER, K, "bin", f));  // only 3 bytes

    EXPECT_TRUE(RegValueType(HKEY_CURRENT_USER, K, "multi", type));
    EXPECT_EQ(type, DWORD(REG_MULTI_SZ));
    EXPECT_FALSE(RegValueType(HKEY_CURRENT_USER, K, "missing", type));
    EXPECT_TRUE(RegValueExists(HKEY_CURRENT_USER, K, ""));
    EXPECT_FALSE(RegValueExists(HKEY_CURRENT_USER, K, "missing"));
    EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, K));
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, K + "\\missing"));
    EXPECT_FALSE(RegReadStr(HKEY_CURRENT_USER, K + "\\missing", "sz", s));
}

// Other programs store values with and without terminators; only terminating
// NULs may be dropped, never a character of the value.
TEST_F(Registry, AnyStrDropsOnlyTerminators)
{
    struct Case {
        DWORD type;
        std::string stored, read;
    };
    const Case cases[] = {
        {REG_SZ, "abc\0"s, "abc"},
        {REG_SZ, "abc", "abc"},
        {REG_SZ, ""s, ""},
        {REG_EXPAND_SZ, "%x%\0"s, "%x%"},
        {REG_BINARY, "ab\0"s, "ab"},
        {REG_BINARY, "\x01\x02"s, "\x01\x02"s},
        {REG_MULTI_SZ, "a\0b\0\0"s, "a\0b"s},
        {REG_MULTI_SZ, "a\0b\0"s, "a\0b"s},
        {REG_MULTI_SZ, "\0\0"s, ""},
        {REG_MULTI_SZ, "\0"s, ""},
    };
    for (const auto &c : cases) {
        PutRaw(K, "v", c.type, c.stored);
        DWORD type = 0;
        std::string s;
        EXPECT_TRUE(RegReadAnyStr(HKEY_CURRENT_USER, K, "v", type, s)) << c.type << " " << c.read;
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(s, c.read) << c.type;
    }
    PutRaw(K, "v", REG_SZ, "abc");
    std::string s;
    EXPECT_TRUE(RegReadStr(HKEY_CURRENT_USER, K, "v", s));
    EXPECT_EQ(s, "abc");
}

TEST_F(Registry, WritersStoreExactBytesAndReportErrors)
{
    struct Case {
        DWORD type;
        std::string text, stored;
    };
    const Case cases[] = {
        {REG_SZ, "x", "x\0"s},
        {REG_EXPAND_SZ, "%a%", "%a%\0"s},
        {REG_BINARY, "ab", "ab\0"s},
        {REG_MULTI_SZ, "a\0b"s, "a\0b\0\0"s},
        {REG_MULTI_SZ, "", "\0\0"s},
    };
    for (const auto &c : cases) {
        SetLastError(0xdeadbeef);
        EXPECT_TRUE(RegWriteStrTyped(HKEY_CURRENT_USER, K, "v", c.type, c.text));
        EXPECT_EQ(GetLastError(), 0u);
        DWORD type = 0;
        EXPECT_EQ(GetRaw(K, "v", &type), c.stored) << c.type;
        EXPECT_EQ(type, c.type);
    }

    // Refused arguments leave the registry as it was.
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(RegWriteStrTyped(HKEY_CURRENT_USER, K, "dw", REG_DWORD, "1"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(RegWriteBinaryHex(HKEY_CURRENT_USER, K, "odd", "ABC"));
    EXPECT_FALSE(RegWriteBinaryHex(HKEY_CURRENT_USER, K, "nothex", "0G"));
    EXPECT_FALSE(RegValueExists(HKEY_CURRENT_USER, K, "dw"));
    EXPECT_FALSE(RegValueExists(HKEY_CURRENT_USER, K, "odd"));
    EXPECT_FALSE(RegValueExists(HKEY_CURRENT_USER, K, "nothex"));

    // A failing registry call leaves its own code, for callers to report.
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(RegWriteStr(nullptr, K, "v", "x"));
    EXPECT_NE(GetLastError(), 0u);
    EXPECT_NE(GetLastError(), 0xdeadbeefu);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(RegRemoveValue(HKEY_CURRENT_USER, K, "missing"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));

    ASSERT_TRUE(RegWriteStr(HKEY_CURRENT_USER, K + "\\new\\deep", "", "made"));
    EXPECT_TRUE(RegRemoveValue(HKEY_CURRENT_USER, K + "\\new\\deep", ""));
    EXPECT_FALSE(RegValueExists(HKEY_CURRENT_USER, K + "\\new\\deep", ""));
}

TEST_F(Registry, TreeDeletionRemovesEveryLevel)
{
    const std::string T = K + "\\tree";
    for (const char *sub : {"\\a\\b\\c", "\\a\\b2", "\\x", ""})
        ASSERT_TRUE(RegWriteStr(HKEY_CURRENT_USER, T + sub, "v", "1"));
    ASSERT_TRUE(RegWriteStr(HKEY_CURRENT_USER, K + "\\sibling", "v", "1"));

    // Without subkeys a key that has some stays.
    EXPECT_FALSE(RegRemoveKeyTree(HKEY_CURRENT_USER, T, false));
    EXPECT_FALSE(RegRemoveKey(HKEY_CURRENT_USER, T + "\\a"));
    EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, T + "\\a\\b\\c"));

    EXPECT_TRUE(RegRemoveKey(HKEY_CURRENT_USER, T + "\\a\\b\\c"));
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, T + "\\a\\b\\c"));
    EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, T + "\\a\\b"));

    SetLastError(0xdeadbeef);
    EXPECT_TRUE(RegRemoveKeyTree(HKEY_CURRENT_USER, T + "\\", true));
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_FALSE(RegKeyExists(HKEY_CURRENT_USER, T));
    EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, K + "\\sibling"));
    EXPECT_FALSE(RegRemoveKeyTree(HKEY_CURRENT_USER, T, true));
}

// A key directly under a root is never deleted, however its path is written.
// A private top-level key stands in for "Software" so that a fault here cannot
// damage the prefix.
TEST_F(Registry, TopLevelKeysAreRefused)
{
    const std::string Top = "TovuTestRegistryTop";
    ASSERT_TRUE(RegWriteStr(HKEY_CURRENT_USER, Top + "\\child", "v", "1"));
    for (const std::string &path : {Top, Top + "\\", "\\" + Top, "\\\\" + Top + "\\\\", ""s, "\\"s}) {
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(RegRemoveKeyTree(HKEY_CURRENT_USER, path, true)) << path;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER)) << path;
        EXPECT_FALSE(RegRemoveKey(HKEY_CURRENT_USER, path)) << path;
        EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, Top + "\\child")) << path;
    }
    RegDeleteKeyA(HKEY_CURRENT_USER, (Top + "\\child").c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, Top.c_str());
}

TEST_F(Registry, EnumeratesEveryName)
{
    // A value name longer than the first buffer must not end the listing.
    const std::string longName(2000, 'n');
    for (const std::string &name : {"first"s, longName, "last"s})
        ASSERT_TRUE(RegWriteDWORD(HKEY_CURRENT_USER, K, name, 1));
    for (const char *sub : {"\\b", "\\a", "\\c\\deeper"}) ASSERT_TRUE(RegWriteStr(HKEY_CURRENT_USER, K + sub, "", ""));

    std::vector<std::string> names;
    EXPECT_TRUE(RegEnumValueNames(HKEY_CURRENT_USER, K, names));
    EXPECT_EQ(Sorted(names), Sorted({"first", "last", longName}));
    EXPECT_TRUE(RegEnumSubKeyNames(HKEY_CURRENT_USER, K, names));
    EXPECT_EQ(Sorted(names), Sorted({"a", "b", "c"}));

    std::string text;
    EXPECT_TRUE(RegEnumSubKeyNames(HKEY_CURRENT_USER, K + "\\c", text));
    EXPECT_EQ(text, "deeper");
    ASSERT_TRUE(RegRemoveValue(HKEY_CURRENT_USER, K + "\\a", ""));
    EXPECT_TRUE(RegEnumValueNames(HKEY_CURRENT_USER, K + "\\a", text));
    EXPECT_EQ(text, "");
    ASSERT_TRUE(RegWriteStr(HKEY_CURRENT_USER, K + "\\a", "x", ""));
    ASSERT_TRUE(RegWriteStr(HKEY_CURRENT_USER, K + "\\a", "y", ""));
    EXPECT_TRUE(RegEnumValueNames(HKEY_CURRENT_USER, K + "\\a", text));
    EXPECT_TRUE(text == "x\r\ny" || text == "y\r\nx") << text;
    EXPECT_FALSE(RegEnumValueNames(HKEY_CURRENT_USER, K + "\\missing", text));
    EXPECT_EQ(text, "");
}

TEST_F(Registry, KeyContentsInOneReadKeepEveryByte)
{
    // Larger than the first buffers of the read: a long name and a long
    // value must come whole, and the values after them too.
    const std::string longName(2000, 'n');
    const std::string longText = std::string(10000, 'x') + '\0';
    const std::string noTerminator = "C:\\a.exe";
    PutRaw(K, "", REG_SZ, "default"s + '\0');
    PutRaw(K, longName, REG_EXPAND_SZ, longText);
    PutRaw(K, "raw", REG_SZ, noTerminator);
    PutRaw(K, "bin", REG_BINARY, "\x01\x00\x02"s);
    ASSERT_TRUE(RegWriteStr(HKEY_CURRENT_USER, K + "\\sub", "", ""));

    std::vector<TRegValueData> values = {{"stale", REG_SZ, "x"}};
    std::vector<std::string> subKeys = {"stale"};
    {
        TRegKey k;
        ASSERT_EQ(k.Open(HKEY_CURRENT_USER, K, KEY_READ), ERROR_SUCCESS);
        RegReadValues(k.Get(), values);
        RegReadSubKeyNames(k.Get(), subKeys);
    }
    std::map<std::string, TRegValueData> byName;
    for (const TRegValueData &v : values) byName[v.Name] = v;
    ASSERT_EQ(byName.size(), 4u);
    EXPECT_EQ(byName[""].Text(), "default");
    EXPECT_EQ(byName[longName].Type, DWORD(REG_EXPAND_SZ));
    EXPECT_EQ(byName[longName].Data, longText);
    EXPECT_EQ(byName[longName].Text(), longText.substr(0, 10000));
    EXPECT_EQ(byName["raw"].Text(), noTerminator);
    EXPECT_EQ(byName["bin"].Type, DWORD(REG_BINARY));
    EXPECT_EQ(byName["bin"].Data, "\x01\x00\x02"s);
    EXPECT_EQ(subKeys, std::vector<std::string>{"sub"});

    // A key without values or subkeys gives two empty lists.
    TRegKey empty;
    ASSERT_EQ(empty.Create(HKEY_CURRENT_USER, K + "\\empty", KEY_READ), ERROR_SUCCESS);
    RegReadValues(empty.Get(), values);
    RegReadSubKeyNames(empty.Get(), subKeys);
    EXPECT_TRUE(values.empty() && subKeys.empty());
}

// HKCU\Software is shared by both views; HKLM\Software is not.
class RegistryViews : public ::testing::Test {
protected:
    const std::string K = "Software\\TovuTest\\RegistryViews";

    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    void Clean()
    {
        for (bool v64 : {true, false}) {
            TRegViewScope view(v64, !v64);
            RegRemoveKeyTree(HKEY_LOCAL_MACHINE, K, true);
        }
        RegView64 = RegView32 = false;
    }
    bool Sees(bool v64, bool v32, const char *name)
    {
        TRegViewScope view(v64, v32);
        return RegValueExists(HKEY_LOCAL_MACHINE, K, name);
    }
};

TEST_F(RegistryViews, SeparateOn64BitSystem)
{
    if (!Is64BitOS()) GTEST_SKIP() << "32-bit system: one view only";
    {
        TRegViewScope view(true, false);
        ASSERT_TRUE(RegWriteStr(HKEY_LOCAL_MACHINE, K, "in64", "x"));
        ASSERT_TRUE(RegWriteStr(HKEY_LOCAL_MACHINE, K + "\\sub", "", "x"));
    }
    {
        TRegViewScope view(false, true);
        ASSERT_TRUE(RegWriteStr(HKEY_LOCAL_MACHINE, K, "in32", "x"));
    }
    EXPECT_TRUE(Sees(true, false, "in64"));
    EXPECT_TRUE(Sees(true, true, "in64"));  // 64 wins when both are set
    EXPECT_FALSE(Sees(false, false, "in64"));
    EXPECT_FALSE(Sees(false, true, "in64"));
    EXPECT_TRUE(Sees(false, false, "in32"));
    EXPECT_FALSE(Sees(true, false, "in32"));

    // The flags belong to the thread that set them.
    RegView64 = true;
    bool otherSees = true;
    OtherThread([&] { otherSees = RegValueExists(HKEY_LOCAL_MACHINE, K, "in64"); });
    EXPECT_FALSE(otherSees);
    EXPECT_TRUE(RegValueExists(HKEY_LOCAL_MACHINE, K, "in64"));

    // The kernel's name tells where a key really lives.
    std::string path64 = RegKeyKernelPath(HKEY_LOCAL_MACHINE, K);
    RegView64 = false;
    std::string path32 = RegKeyKernelPath(HKEY_LOCAL_MACHINE, K);
    CharUpperA(path64.data());
    CharUpperA(path32.data());
    EXPECT_EQ(path64, "\\REGISTRY\\MACHINE\\SOFTWARE\\TOVUTEST\\REGISTRYVIEWS");
    EXPECT_EQ(path32, "\\REGISTRY\\MACHINE\\SOFTWARE\\WOW6432NODE\\TOVUTEST\\REGISTRYVIEWS");
    EXPECT_EQ(RegKeyKernelPath(HKEY_LOCAL_MACHINE, K + "\\missing"), "");

    // Deletion goes through the thread's view too.
    EXPECT_FALSE(RegRemoveKeyTree(HKEY_LOCAL_MACHINE, K + "\\sub", true));
    {
        TRegViewScope view(true, false);
        EXPECT_TRUE(RegRemoveKeyTree(HKEY_LOCAL_MACHINE, K, true));
        EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, K));
    }
    EXPECT_TRUE(Sees(false, false, "in32"));
}

TEST_F(RegistryViews, FlagsIgnoredOn32BitSystem)
{
    if (Is64BitOS()) GTEST_SKIP() << "64-bit system: views differ";
    {
        TRegViewScope view(true, false);
        EXPECT_EQ(RegViewFlag(), 0u);
        ASSERT_TRUE(RegWriteStr(HKEY_LOCAL_MACHINE, K, "v", "x"));
    }
    EXPECT_TRUE(Sees(false, false, "v"));
    EXPECT_TRUE(Sees(false, true, "v"));
    std::string path = RegKeyKernelPath(HKEY_LOCAL_MACHINE, K);
    CharUpperA(path.data());
    EXPECT_EQ(path, "\\REGISTRY\\MACHINE\\SOFTWARE\\TOVUTEST\\REGISTRYVIEWS");
    TRegViewScope view(false, true);
    EXPECT_TRUE(RegRemoveKeyTree(HKEY_LOCAL_MACHINE, K, true));
    EXPECT_FALSE(Sees(true, false, "v"));
}

} // namespace
