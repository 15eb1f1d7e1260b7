#include "platform/RegistryU.h"
#include "platform/RegistryWideU.h"
#include "platform/TextU.h"

#include "platform/SystemPathsU.h"
#include "platform/XMLU.h"

#include <algorithm>
#include <cstring>

thread_local bool RegView64 = false;
thread_local bool RegView32 = false;

namespace {

struct RootName {
    HKEY root;
    const char *name;
};

const RootName Roots[] = {
    {HKEY_CLASSES_ROOT, "HKCR"},
    {HKEY_CURRENT_USER, "HKCU"},
    {HKEY_LOCAL_MACHINE, "HKLM"},
    {HKEY_USERS, "HKU"},
};

// Everything this unit finds by name, looked up once. RegDeleteKeyExA is the
// only way to delete in the other view, but Windows 2000 and 32-bit XP lack it.
struct DynamicFns {
    LONG(WINAPI *DeleteKeyEx)(HKEY, LPCSTR, REGSAM, DWORD) = nullptr;
    LONG(NTAPI *ZwQueryKey)(HANDLE, int, PVOID, ULONG, PULONG) = nullptr;
};

const DynamicFns &Fns()
{
    static const DynamicFns fns = [] {
        DynamicFns f;
        f.DeleteKeyEx = reinterpret_cast<decltype(f.DeleteKeyEx)>(
            GetProcAddress(GetModuleHandleA("advapi32.dll"), "RegDeleteKeyExA"));
        f.ZwQueryKey = reinterpret_cast<decltype(f.ZwQueryKey)>(
            GetProcAddress(GetModuleHandleA("ntdll.dll"), "ZwQueryKey"));
        return f;
    }();
    return fns;
}

// Registry calls report through their result; the callers' contract is the
// thread's last error, set after the key is closed so nothing overwrites it.
bool Report(LONG result)
{
    SetLastError(static_cast<DWORD>(result));
    return result == ERROR_SUCCESS;
}

LONG DeleteKeyPrimitive(HKEY parent, const std::string &subKey)
{
    if (Is64BitOS() && Fns().DeleteKeyEx) return Fns().DeleteKeyEx(parent, subKey.c_str(), RegViewFlag(), 0);
    return RegDeleteKeyA(parent, subKey.c_str());
}

// Drops leading, trailing and doubled backslashes. The top-level refusal of the
// deleters looks for a backslash, and "Software\" or "\Software" must not pass
// it: the registry reads both as "Software".
std::string CleanKeyPath(const std::string &key)
{
    std::string out;
    out.reserve(key.size());
    for (char c : key) {
        if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
        out += c;
    }
    if (!out.empty() && out.back() == '\\') out.pop_back();
    return out;
}

// Queries a value's type and bytes. The value may grow between the size query
// and the read (another process writing it), so the read is retried.
LONG QueryValue(HKEY key, const std::string &name, DWORD &type, std::string &data)
{
    type = 0;
    data.clear();
    for (int attempt = 0; attempt < 8; ++attempt) {
        DWORD size = 0;
        LONG r = RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size);
        if (r != ERROR_SUCCESS) return r;
        data.assign(size, '\0');
        r = RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE *>(data.data()), &size);
        if (r == ERROR_MORE_DATA) continue;
        if (r != ERROR_SUCCESS) {
            data.clear();
            type = 0;
            return r;
        }
        data.resize(size);
        return ERROR_SUCCESS;
    }
    data.clear();
    type = 0;
    return ERROR_MORE_DATA;
}

bool ReadRaw(HKEY root, const std::string &key, const std::string &name, DWORD &type, std::string &data)
{
    type = 0;
    data.clear();
    TRegKey k;
    if (k.Open(root, key, KEY_READ) != ERROR_SUCCESS) return false;
    return QueryValue(k.Get(), name, type, data) == ERROR_SUCCESS;
}

bool ReadTyped(HKEY root, const std::string &key, const std::string &name, DWORD wanted, std::string &data)
{
    DWORD type;
    if (ReadRaw(root, key, name, type, data) && type == wanted) return true;
    data.clear();
    return false;
}

// Drops up to count trailing NULs. Only NULs: a value stored without its
// terminator (other programs write those) must not lose its last character.
void DropTerminator(std::string &s, size_t count)
{
    while (count-- > 0 && !s.empty() && s.back() == '\0') s.pop_back();
}

bool WriteRaw(HKEY root, const std::string &key, const std::string &name, DWORD type, const void *data,
              size_t size)
{
    TRegKey k;
    LONG r = k.Create(root, key, KEY_WRITE);
    if (r == ERROR_SUCCESS)
        r = RegSetValueExA(k.Get(), name.c_str(), 0, type, static_cast<const BYTE *>(data),
                           static_cast<DWORD>(size));
    k.Close();
    return Report(r);
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Subkey names are at most 255 characters, value names at most 16383; names
// longer than the first buffer are read again with room for the longest, so
// that one long name does not end the listing (and hide everything after it
// from the backup of a key that is about to be deleted).
template <typename F>
void EnumOpenKeyNames(HKEY key, std::vector<std::string> &names, F enumAt)
{
    std::vector<char> buf(1024);
    for (DWORD index = 0;; ++index) {
        DWORD len = static_cast<DWORD>(buf.size());
        LONG r = enumAt(key, index, buf.data(), &len);
        if (r == ERROR_MORE_DATA && buf.size() < 16384) {
            buf.resize(16384);
            len = static_cast<DWORD>(buf.size());
            r = enumAt(key, index, buf.data(), &len);
        }
        if (r != ERROR_SUCCESS) break;
        names.emplace_back(buf.data(), len);
    }
}

template <typename F>
bool EnumNames(HKEY root, const std::string &key, std::vector<std::string> &names, F enumAt)
{
    names.clear();
    TRegKey k;
    if (k.Open(root, key, KEY_READ) != ERROR_SUCCESS) return false;
    EnumOpenKeyNames(k.Get(), names, enumAt);
    return true;
}

LONG EnumSubKeyAt(HKEY k, DWORD index, char *buf, DWORD *len)
{
    return RegEnumKeyExA(k, index, buf, len, nullptr, nullptr, nullptr, nullptr);
}

std::string JoinLines(const std::vector<std::string> &names)
{
    std::string text;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i) text += "\r\n";
        text += names[i];
    }
    return text;
}

} // namespace

REGSAM RegViewFlag()
{
    // 32-bit Windows rejects the view flags on some versions: never pass them.
    if (!Is64BitOS()) return 0;
    if (RegView64) return KEY_WOW64_64KEY;
    if (RegView32) return KEY_WOW64_32KEY;
    return 0;
}

LONG TRegKey::Open(HKEY root, const std::string &key, REGSAM access)
{
    Close();
    HKEY k = nullptr;
    LONG r = RegOpenKeyExA(root, key.c_str(), 0, access | RegViewFlag(), &k);
    if (r == ERROR_SUCCESS) FKey = k;
    return r;
}

LONG TRegKey::Create(HKEY root, const std::string &key, REGSAM access)
{
    Close();
    HKEY k = nullptr;
    LONG r = RegCreateKeyExA(root, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access | RegViewFlag(), nullptr,
                             &k, nullptr);
    if (r == ERROR_SUCCESS) FKey = k;
    return r;
}

LONG TRegKey::Close()
{
    if (!FKey) return ERROR_SUCCESS;
    LONG r = RegCloseKey(FKey);
    FKey = nullptr;
    return r;
}

std::string RegRootName(HKEY root)
{
    for (const auto &r : Roots)
        if (r.root == root) return r.name;
    return "HKUNKNOWN";
}

HKEY RegRootFromName(const std::string &name)
{
    for (const auto &r : Roots)
        if (SameNameA(name, r.name)) return r.root;
    return nullptr;
}

std::string RegFullKeyName(HKEY root, const std::string &key)
{
    return RegRootName(root) + "\\" + key;
}

bool RegSplitKeyName(const std::string &fullName, HKEY &root, std::string &key)
{
    root = nullptr;
    key.clear();
    size_t slash = fullName.find('\\');
    if (slash == std::string::npos) return false;
    HKEY r = RegRootFromName(fullName.substr(0, slash));
    if (!r) return false;
    root = r;
    key = fullName.substr(slash + 1);
    return true;
}

bool RegKeyExists(HKEY root, const std::string &key)
{
    TRegKey k;
    return k.Open(root, key, KEY_READ) == ERROR_SUCCESS;
}

bool RegValueExists(HKEY root, const std::string &key, const std::string &name)
{
    TRegKey k;
    return k.Open(root, key, KEY_READ) == ERROR_SUCCESS &&
           RegQueryValueExA(k.Get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool RegValueType(HKEY root, const std::string &key, const std::string &name, DWORD &type)
{
    type = 0;
    TRegKey k;
    if (k.Open(root, key, KEY_READ) != ERROR_SUCCESS) return false;
    DWORD t = 0;
    if (RegQueryValueExA(k.Get(), name.c_str(), nullptr, &t, nullptr, nullptr) != ERROR_SUCCESS) return false;
    type = t;
    return true;
}

bool RegReadStr(HKEY root, const std::string &key, const std::string &name, std::string &value)
{
    if (!ReadTyped(root, key, name, REG_SZ, value)) return false;
    DropTerminator(value, 1);
    return true;
}

bool RegReadExpandStr(HKEY root, const std::string &key, const std::string &name, std::string &value)
{
    if (!ReadTyped(root, key, name, REG_EXPAND_SZ, value)) return false;
    DropTerminator(value, 1);
    return true;
}

bool RegReadMultiStr(HKEY root, const std::string &key, const std::string &name, std::string &value)
{
    if (!ReadTyped(root, key, name, REG_MULTI_SZ, value)) return false;
    DropTerminator(value, 2);
    return true;
}

bool RegReadAnyStr(HKEY root, const std::string &key, const std::string &name, DWORD &type, std::string &value)
{
    if (!ReadRaw(root, key, name, type, value)) return false;
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_BINARY:
        DropTerminator(value, 1);
        return true;
    case REG_MULTI_SZ:
        // A one-byte block holds only a terminator; longer ones end in two.
        DropTerminator(value, value.size() > 1 ? 2 : 1);
        return true;
    default:
        type = 0;
        value.clear();
        return false;
    }
}

bool RegReadStrW(HKEY root, const std::string &key, const std::string &name, std::wstring &value)
{
    value.clear();
    // The default value has the empty name, which converts to an empty text.
    std::wstring wideName = AnsiToWide(name.c_str());
    if (wideName.empty() && !name.empty()) return false;

    TRegKey k;
    if (k.Open(root, key, KEY_READ) != ERROR_SUCCESS) return false;
    for (int attempt = 0; attempt < 8; ++attempt) {
        DWORD type = 0, size = 0;
        if (RegQueryValueExW(k.Get(), wideName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
        if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) return false;
        std::wstring data((size + 1) / sizeof(wchar_t), L'\0');
        LONG r = RegQueryValueExW(k.Get(), wideName.c_str(), nullptr, &type, reinterpret_cast<BYTE *>(data.data()),
                                  &size);
        if (r == ERROR_MORE_DATA) continue;
        if (r != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ)) return false;
        data.resize(size / sizeof(wchar_t));
        if (!data.empty() && data.back() == L'\0') data.pop_back();
        value = std::move(data);
        return true;
    }
    return false;
}

bool RegReadDWORD(HKEY root, const std::string &key, const std::string &name, DWORD &value)
{
    value = 0;
    std::string data;
    if (!ReadTyped(root, key, name, REG_DWORD, data) || data.size() < sizeof(DWORD)) return false;
    std::memcpy(&value, data.data(), sizeof(DWORD));
    return true;
}

bool RegReadBool(HKEY root, const std::string &key, const std::string &name)
{
    DWORD value;
    return RegReadDWORD(root, key, name, value) && value == 1;
}

bool RegReadDouble(HKEY root, const std::string &key, const std::string &name, double &value)
{
    value = 0;
    std::string data;
    if (!ReadTyped(root, key, name, REG_BINARY, data) || data.size() < sizeof(double)) return false;
    std::memcpy(&value, data.data(), sizeof(double));
    return true;
}

bool RegReadBinaryHex(HKEY root, const std::string &key, const std::string &name, std::string &hex)
{
    hex.clear();
    std::string data;
    if (!ReadTyped(root, key, name, REG_BINARY, data)) return false;
    static const char Digits[] = "0123456789ABCDEF";
    hex.reserve(data.size() * 2);
    for (unsigned char b : data) {
        hex += Digits[b >> 4];
        hex += Digits[b & 15];
    }
    return true;
}

bool RegWriteStrTyped(HKEY root, const std::string &key, const std::string &name, DWORD type,
                      const std::string &text)
{
    std::string data = text;
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_BINARY:
        data.push_back('\0');
        break;
    case REG_MULTI_SZ:
        data.append(2, '\0');
        break;
    default:
        return Report(ERROR_INVALID_PARAMETER);
    }
    return WriteRaw(root, key, name, type, data.data(), data.size());
}

bool RegWriteStr(HKEY root, const std::string &key, const std::string &name, const std::string &text)
{
    return RegWriteStrTyped(root, key, name, REG_SZ, text);
}

bool RegWriteExpandStr(HKEY root, const std::string &key, const std::string &name, const std::string &text)
{
    return RegWriteStrTyped(root, key, name, REG_EXPAND_SZ, text);
}

bool RegWriteDWORD(HKEY root, const std::string &key, const std::string &name, DWORD value)
{
    return WriteRaw(root, key, name, REG_DWORD, &value, sizeof value);
}

bool RegWriteDouble(HKEY root, const std::string &key, const std::string &name, double value)
{
    return WriteRaw(root, key, name, REG_BINARY, &value, sizeof value);
}

bool RegWriteBinaryHex(HKEY root, const std::string &key, const std::string &name, const std::string &hex)
{
    if (hex.size() % 2 != 0) return Report(ERROR_INVALID_PARAMETER);
    std::string data;
    data.reserve(hex.size() / 2);
    for (size_t i = 0; i < hex.size(); i += 2) {
        int hi = HexDigit(hex[i]), lo = HexDigit(hex[i + 1]);
        if (hi < 0 || lo < 0) return Report(ERROR_INVALID_PARAMETER);
        data.push_back(static_cast<char>(hi * 16 + lo));
    }
    return WriteRaw(root, key, name, REG_BINARY, data.data(), data.size());
}

bool RegRemoveValue(HKEY root, const std::string &key, const std::string &name)
{
    TRegKey k;
    LONG r = k.Open(root, key, KEY_WRITE);
    if (r == ERROR_SUCCESS) r = RegDeleteValueA(k.Get(), name.c_str());
    k.Close();
    return Report(r);
}

bool RegRemoveKey(HKEY root, const std::string &key)
{
    std::string path = CleanKeyPath(key);
    size_t slash = path.rfind('\\');
    if (slash == std::string::npos) return Report(ERROR_INVALID_PARAMETER);
    TRegKey parent;
    LONG r = parent.Open(root, path.substr(0, slash), KEY_WRITE);
    if (r == ERROR_SUCCESS) r = DeleteKeyPrimitive(parent.Get(), path.substr(slash + 1));
    parent.Close();
    return Report(r);
}

bool RegRemoveKeyTree(HKEY root, const std::string &key, bool withSubkeys)
{
    // Subkeys whose names the code page cannot carry come back from the
    // narrow enumeration as "?" and could not be deleted by that name.
    return RegRemoveKeyTreeW(root, AnsiToWideText(key), withSubkeys);
}

bool RegEnumValueNames(HKEY root, const std::string &key, std::vector<std::string> &names)
{
    return EnumNames(root, key, names, [](HKEY k, DWORD index, char *buf, DWORD *len) {
        return RegEnumValueA(k, index, buf, len, nullptr, nullptr, nullptr, nullptr);
    });
}

bool RegEnumSubKeyNames(HKEY root, const std::string &key, std::vector<std::string> &names)
{
    return EnumNames(root, key, names, EnumSubKeyAt);
}

std::string TRegValueData::Text() const
{
    std::string text = Data;
    DropTerminator(text, 1);
    return text;
}

void RegReadValues(HKEY openKey, std::vector<TRegValueData> &values)
{
    values.clear();
    // Sizes that hold nearly every value; asking the key for its largest ones
    // first would cost another round trip to the registry on every key.
    std::vector<char> name(1024);
    std::string data(4096, '\0');
    for (DWORD index = 0;; ++index) {
        DWORD nameLen = 0, size = 0, type = 0;
        LONG r = ERROR_MORE_DATA;
        // A value larger than the buffers, or one growing meanwhile (another
        // process writing it), is read again with larger ones.
        for (int attempt = 0; attempt < 8 && r == ERROR_MORE_DATA; ++attempt) {
            if (attempt > 0) {
                name.resize(16384);
                data.resize(std::max<size_t>(size_t(size), data.size() * 2));
            }
            nameLen = static_cast<DWORD>(name.size());
            size = static_cast<DWORD>(data.size());
            r = RegEnumValueA(openKey, index, name.data(), &nameLen, nullptr, &type,
                              reinterpret_cast<BYTE *>(data.data()), &size);
        }
        if (r == ERROR_MORE_DATA) continue;  // still growing: the rest still counts
        if (r != ERROR_SUCCESS) break;
        values.push_back({std::string(name.data(), nameLen), type, data.substr(0, size)});
    }
}

void RegReadSubKeyNames(HKEY openKey, std::vector<std::string> &subKeys)
{
    subKeys.clear();
    EnumOpenKeyNames(openKey, subKeys, EnumSubKeyAt);
}

bool RegEnumValueNames(HKEY root, const std::string &key, std::string &names)
{
    std::vector<std::string> list;
    bool ok = RegEnumValueNames(root, key, list);
    names = JoinLines(list);
    return ok;
}

bool RegEnumSubKeyNames(HKEY root, const std::string &key, std::string &names)
{
    std::vector<std::string> list;
    bool ok = RegEnumSubKeyNames(root, key, list);
    names = JoinLines(list);
    return ok;
}

std::string RegKeyKernelPath(HKEY openKey)
{
    const int KeyNameInformation = 3;
    auto query = Fns().ZwQueryKey;
    if (!query || !openKey) return {};
    ULONG needed = 0;
    query(openKey, KeyNameInformation, nullptr, 0, &needed);
    if (needed <= sizeof(ULONG)) return {};
    // ULONG-aligned: the record starts with the name's length in bytes.
    std::vector<ULONG> buf((needed + sizeof(ULONG) - 1) / sizeof(ULONG) + 1);
    ULONG bytes = static_cast<ULONG>(buf.size() * sizeof(ULONG));
    if (query(openKey, KeyNameInformation, buf.data(), bytes, &needed) < 0) return {};
    ULONG nameBytes = buf[0];
    if (nameBytes > bytes - sizeof(ULONG)) return {};
    const wchar_t *name = reinterpret_cast<const wchar_t *>(buf.data() + 1);
    int wideLen = static_cast<int>(nameBytes / sizeof(wchar_t));
    if (wideLen == 0) return {};
    return WideToAnsi(std::wstring(name, size_t(wideLen)));
}

std::string RegKeyKernelPath(HKEY root, const std::string &key)
{
    TRegKey k;
    if (k.Open(root, key, KEY_READ) != ERROR_SUCCESS) return {};
    return RegKeyKernelPath(k.Get());
}
