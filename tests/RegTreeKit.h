// Generated registry trees for the backup round trip: random key trees with
// values of every type, odd lengths, hostile bytes and names outside the code
// page, written through the wide API, and a byte-exact snapshot to compare a
// tree before and after. Shared by the round-trip test and its benchmark.
#pragma once

#include "backup/fwBackup.h"
#include "platform/RegistryU.h"
#include "platform/RegistryWideU.h"
#include "platform/SystemPathsU.h"

#include <windows.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <utility>

namespace regtree {

struct TValue {
    DWORD Type = 0;
    std::string Data;
    bool operator==(const TValue &o) const { return Type == o.Type && Data == o.Data; }
};

// Key path below the tree's top ("" for the top) -> value name -> value.
// A key without values is present with an empty map.
using TSnapshot = std::map<std::wstring, std::map<std::wstring, TValue>>;

inline void SnapshotInto(HKEY root, const std::wstring &top, const std::wstring &rel, TSnapshot &out)
{
    std::vector<TRegWideValue> values;
    std::vector<std::wstring> subKeys;
    if (!RegReadKeyW(root, rel.empty() ? top : top + L"\\" + rel, values, subKeys)) return;
    auto &slot = out[rel];
    for (const TRegWideValue &v : values) slot[v.Name] = TValue{v.Type, v.Data};
    for (const std::wstring &s : subKeys) SnapshotInto(root, top, rel.empty() ? s : rel + L"\\" + s, out);
}

inline TSnapshot Snapshot(HKEY root, const std::wstring &top)
{
    TSnapshot out;
    SnapshotInto(root, top, L"", out);
    return out;
}

// The first difference, empty when the snapshots are equal.
inline std::wstring Difference(const TSnapshot &a, const TSnapshot &b)
{
    for (const auto &[path, values] : a) {
        auto it = b.find(path);
        if (it == b.end()) return L"key missing: \"" + path + L"\"";
        for (const auto &[name, value] : values) {
            auto v = it->second.find(name);
            if (v == it->second.end()) return L"value missing: \"" + path + L"\" \"" + name + L"\"";
            if (!(v->second == value))
                return L"value differs: \"" + path + L"\" \"" + name + L"\" type " + std::to_wstring(value.Type) +
                       L"/" + std::to_wstring(v->second.Type) + L" bytes " + std::to_wstring(value.Data.size()) +
                       L"/" + std::to_wstring(v->second.Data.size());
        }
        if (values.size() != it->second.size()) return L"extra values in \"" + path + L"\"";
    }
    if (a.size() != b.size()) return L"extra keys";
    return {};
}

class TGenerator {
public:
    explicit TGenerator(uint32_t seed) : R(seed) {}

    int Pick(int n) { return int(R() % uint32_t(n)); }

    // Quotes, "#", "&", "<", ">", control characters, code page 1252 letters
    // that double-byte code pages lack, and Greek, Cyrillic and CJK that a
    // Western code page lacks.
    std::wstring Name(bool forKey)
    {
        static const wchar_t Hostile[] = L"\"#&<>'% ;=\x01\x09\x0A\x0D\x1F\x7F\x00E9\x00FC\x03A9\x03B1\x0416\x044F"
                                         L"\x65E5\x672C\x00A0\x20AC";
        static const wchar_t Plain[] = L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-.";
        std::wstring s;
        int len = 1 + Pick(10);
        for (int i = 0; i < len; ++i) {
            if (Pick(4) == 0) s += Hostile[Pick(int(sizeof Hostile / sizeof(wchar_t)) - 1)];
            else s += Plain[Pick(int(sizeof Plain / sizeof(wchar_t)) - 1)];
        }
        // Value names may hold a backslash; key names cannot.
        if (!forKey && Pick(8) == 0) s += L"\\x";
        return s;
    }

    std::string Bytes(size_t n)
    {
        std::string s(n, '\0');
        for (char &c : s) c = char(R() & 0xFF);
        return s;
    }

    std::string WideBytes(const std::wstring &w)
    {
        return std::string(reinterpret_cast<const char *>(w.data()), w.size() * sizeof(wchar_t));
    }

    TValue Value()
    {
        static const DWORD Types[] = {REG_NONE,          REG_SZ,        REG_EXPAND_SZ,
                                      REG_BINARY,        REG_DWORD,     REG_DWORD_BIG_ENDIAN,
                                      REG_MULTI_SZ,      REG_RESOURCE_LIST, REG_FULL_RESOURCE_DESCRIPTOR,
                                      REG_RESOURCE_REQUIREMENTS_LIST, REG_QWORD, 0x12345u,
                                      REG_SZ,            REG_MULTI_SZ,  REG_DWORD};
        TValue v;
        v.Type = Types[Pick(int(sizeof Types / sizeof Types[0]))];
        bool odd = Pick(4) == 0;
        switch (v.Type) {
        case REG_SZ:
        case REG_EXPAND_SZ: {
            std::wstring text = Name(false);
            if (Pick(3) == 0) text += L"%PATH%\\x";
            v.Data = WideBytes(text + L'\0');
            if (odd) {
                int how = Pick(4);
                if (how == 0) v.Data = WideBytes(text);                         // no terminator
                else if (how == 1) v.Data += "x";                               // odd length
                else if (how == 2) v.Data = WideBytes(text + L'\0' + L"tail" + L'\0');  // inner NUL
                else v.Data.clear();                                            // no bytes at all
            }
            break;
        }
        case REG_MULTI_SZ: {
            std::wstring text;
            int n = Pick(4);
            for (int i = 0; i < n; ++i) text += Name(false) + L'\0';
            if (n == 0) text += L'\0';
            text += L'\0';
            v.Data = WideBytes(text);
            if (odd) {
                int how = Pick(3);
                if (how == 0) v.Data.resize(v.Data.size() - 2);  // one terminator
                else if (how == 1) v.Data.resize(v.Data.size() - 1);  // odd length
                else v.Data = WideBytes(EmptyInside());                 // empty string inside
            }
            break;
        }
        case REG_DWORD:
        case REG_DWORD_BIG_ENDIAN: v.Data = Bytes(odd ? size_t(Pick(9)) : 4); break;
        case REG_QWORD: v.Data = Bytes(odd ? size_t(Pick(13)) : 8); break;
        default: v.Data = Bytes(size_t(Pick(48))); break;
        }
        return v;
    }

    // Writes a tree below top (which must not exist yet); returns the values
    // written and their bytes.
    void Tree(HKEY root, const std::wstring &top, int depth, size_t &values, size_t &bytes)
    {
        RegCreateKeyW(root, top);
        int n = Pick(depth == 0 ? 6 : 5);
        if (Pick(3) == 0) {
            TValue v = Value();
            RegWriteRawW(root, top, L"", v.Type, v.Data);  // the default value
            ++values;
            bytes += v.Data.size();
        }
        for (int i = 0; i < n; ++i) {
            TValue v = Value();
            if (RegWriteRawW(root, top, Name(false), v.Type, v.Data)) {
                ++values;
                bytes += v.Data.size();
            }
        }
        if (depth >= 3) return;
        int subs = Pick(depth == 0 ? 4 : 3);
        for (int i = 0; i < subs; ++i) {
            std::wstring sub = top + L"\\" + Name(true);
            if (Pick(4) == 0) RegCreateKeyW(root, sub);  // stays empty
            else Tree(root, sub, depth + 1, values, bytes);
        }
    }

private:
    static std::wstring EmptyInside() { return std::wstring(L"a\0\0b\0\0", 6); }
    std::mt19937 R;
};

struct TResult {
    size_t Trees = 0, Values = 0, Bytes = 0, Failures = 0;
    std::wstring FirstFailure;
};

// One tree in one view: generate, back up, delete as a fix does, restore,
// compare. The document goes to folder and is removed afterwards.
inline bool RoundTrip(TGenerator &gen, HKEY root, const std::string &top, bool is64, TResult &result)
{
    TRegViewScope keep(RegView64, RegView32);
    SelectItemView(is64);
    const std::wstring wtop = AnsiToWideText(top);
    RegRemoveKeyTreeW(root, wtop, true);
    size_t values = 0, bytes = 0;
    gen.Tree(root, wtop, 0, values, bytes);
    const TSnapshot before = Snapshot(root, wtop);
    ++result.Trees;
    result.Values += values;
    result.Bytes += bytes;

    auto fail = [&](const std::wstring &why) {
        ++result.Failures;
        if (result.FirstFailure.empty()) result.FirstFailure = AnsiToWideText(top) + L": " + why;
        SelectItemView(is64);
        RegRemoveKeyTreeW(root, wtop, true);
        return false;
    };

    BeginBackup(bkFix, L"round trip");
    BackupKey(root, top, is64, false);
    std::string document;
    if (!EndBackup(document) || document.empty()) return fail(L"no backup document");

    TfwRegEntry del;
    del.Root = root;
    del.Key = top;
    del.Is64 = is64;
    del.FixMode = fmDelete;
    bool deleted = FixRegEntry(del) && !RegKeyExistsW(root, wtop);
    if (!deleted) {
        DeleteFileA(document.c_str());
        return fail(L"the fix did not delete the tree");
    }
    {
        TfwBackup backup(document);
        Restore(backup);
    }
    DeleteFileA(document.c_str());
    SelectItemView(is64);
    const TSnapshot after = Snapshot(root, wtop);
    std::wstring diff = Difference(before, after);
    if (!diff.empty()) return fail(diff);
    // The tree comes back in its own view only.
    if (Is64BitOS()) {
        SelectItemView(!is64);
        bool leaked = RegKeyExistsW(root, wtop);
        SelectItemView(is64);
        if (leaked) return fail(L"restored into the other view");
    }
    RegRemoveKeyTreeW(root, wtop, true);
    return true;
}

} // namespace regtree
