// Raw registry access for tests: values are put and read with the registry
// functions themselves, bypassing the layer under test, so that a check sees
// exactly the bytes and the view the system holds.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace regtest {

// KEY_WOW64_64KEY, KEY_WOW64_32KEY, or 0 for the program's default view.
inline void PutRaw(HKEY root, REGSAM view, const std::string &key, const std::string &name, DWORD type,
                   const std::string &bytes)
{
    HKEY k;
    if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_WRITE | view, nullptr, &k, nullptr) != 0) return;
    RegSetValueExA(k, name.c_str(), 0, type, reinterpret_cast<const BYTE *>(bytes.data()), DWORD(bytes.size()));
    RegCloseKey(k);
}

inline void MakeKey(HKEY root, REGSAM view, const std::string &key)
{
    HKEY k;
    if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_WRITE | view, nullptr, &k, nullptr) == 0)
        RegCloseKey(k);
}

inline bool KeyExists(HKEY root, REGSAM view, const std::string &key)
{
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, &k) != 0) return false;
    RegCloseKey(k);
    return true;
}

// "<type>:" followed by the stored bytes, or "<none>" when the value is missing.
inline std::string GetRaw(HKEY root, REGSAM view, const std::string &key, const std::string &name)
{
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, &k) != 0) return "<none>";
    DWORD type = 0, size = 0;
    std::string data;
    LONG r = RegQueryValueExA(k, name.c_str(), nullptr, &type, nullptr, &size);
    if (r == 0) {
        data.resize(size);
        r = RegQueryValueExA(k, name.c_str(), nullptr, &type, reinterpret_cast<BYTE *>(data.empty() ? nullptr : &data[0]),
                             &size);
        data.resize(size);
    }
    RegCloseKey(k);
    return r == 0 ? std::to_string(type) + ":" + data : "<none>";
}

// Every value below key (the key itself included) as "sub\path|name" -> GetRaw
// text; every key as "sub\path\" -> "".
inline void Snapshot(HKEY root, REGSAM view, const std::string &key, const std::string &rel,
                     std::map<std::string, std::string> &out)
{
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, &k) != 0) return;
    out[rel + "\\"] = "";
    std::vector<std::string> names, subkeys;
    char name[1024];
    for (DWORD i = 0;; ++i) {
        DWORD n = sizeof name;
        if (RegEnumValueA(k, i, name, &n, nullptr, nullptr, nullptr, nullptr) != 0) break;
        names.emplace_back(name, n);
    }
    for (DWORD i = 0;; ++i) {
        DWORD n = sizeof name;
        if (RegEnumKeyExA(k, i, name, &n, nullptr, nullptr, nullptr, nullptr) != 0) break;
        subkeys.emplace_back(name, n);
    }
    RegCloseKey(k);
    for (const auto &n : names) out[rel + "|" + n] = GetRaw(root, view, key, n);
    for (const auto &s : subkeys) Snapshot(root, view, key + "\\" + s, rel + "\\" + s, out);
}

inline std::map<std::string, std::string> Snapshot(HKEY root, REGSAM view, const std::string &key)
{
    std::map<std::string, std::string> out;
    Snapshot(root, view, key, "", out);
    return out;
}

inline void Wipe(HKEY root, REGSAM view, const std::string &key)
{
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | KEY_WRITE | view, &k) != 0) return;
    std::vector<std::string> subkeys;
    char name[1024];
    for (DWORD i = 0;; ++i) {
        DWORD n = sizeof name;
        if (RegEnumKeyExA(k, i, name, &n, nullptr, nullptr, nullptr, nullptr) != 0) break;
        subkeys.emplace_back(name, n);
    }
    RegCloseKey(k);
    for (const auto &s : subkeys) Wipe(root, view, key + "\\" + s);
    using DeleteKeyEx = LONG(WINAPI *)(HKEY, LPCSTR, REGSAM, DWORD);
    auto del = reinterpret_cast<DeleteKeyEx>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("advapi32.dll"), "RegDeleteKeyExA")));
    if (del && view) del(root, key.c_str(), view, 0);
    else RegDeleteKeyA(root, key.c_str());
}

} // namespace regtest
