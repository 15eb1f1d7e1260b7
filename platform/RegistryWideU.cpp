#include "platform/RegistryWideU.h"

#include "platform/RegistryU.h"
#include "platform/SystemPathsU.h"

namespace {

// RegDeleteKeyExW is the only way to delete in the other view, but Windows
// 2000 and 32-bit XP lack it.
using TDeleteKeyExW = LONG(WINAPI *)(HKEY, LPCWSTR, REGSAM, DWORD);

TDeleteKeyExW DeleteKeyExW()
{
    static const TDeleteKeyExW fn =
        reinterpret_cast<TDeleteKeyExW>(GetProcAddress(GetModuleHandleA("advapi32.dll"), "RegDeleteKeyExW"));
    return fn;
}

class TWideKey {
public:
    TWideKey() = default;
    ~TWideKey()
    {
        if (FKey) RegCloseKey(FKey);
    }
    TWideKey(const TWideKey &) = delete;
    TWideKey &operator=(const TWideKey &) = delete;
    LONG Open(HKEY root, const std::wstring &key, REGSAM access)
    {
        return RegOpenKeyExW(root, key.c_str(), 0, access | RegViewFlag(), &FKey);
    }
    LONG Create(HKEY root, const std::wstring &key, REGSAM access)
    {
        return RegCreateKeyExW(root, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access | RegViewFlag(),
                               nullptr, &FKey, nullptr);
    }
    HKEY Get() const { return FKey; }
    void Close()
    {
        if (FKey) RegCloseKey(FKey);
        FKey = nullptr;
    }

private:
    HKEY FKey = nullptr;
};

std::wstring CleanKeyPathW(const std::wstring &key)
{
    std::wstring out;
    for (wchar_t c : key) {
        if (c == L'\\' && (out.empty() || out.back() == L'\\')) continue;
        out += c;
    }
    if (!out.empty() && out.back() == L'\\') out.pop_back();
    return out;
}

bool Report(LONG result)
{
    SetLastError(static_cast<DWORD>(result));
    return result == ERROR_SUCCESS;
}

LONG DeleteOne(HKEY parent, const std::wstring &subKey)
{
    if (Is64BitOS() && DeleteKeyExW()) return DeleteKeyExW()(parent, subKey.c_str(), RegViewFlag(), 0);
    return RegDeleteKeyW(parent, subKey.c_str());
}

} // namespace

bool WideToAnsiExact(const std::wstring &text, std::string &ansi)
{
    ansi.clear();
    if (text.empty()) return true;
    BOOL lossy = FALSE;
    int n = WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0, nullptr, &lossy);
    if (n <= 0) return false;
    ansi.assign(size_t(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), &ansi[0], n, nullptr, &lossy);
    // Best-fit mappings do not set the lossy flag (U+0100 becomes "A"), so
    // only converting back shows whether every character survived.
    return !lossy && AnsiToWideText(ansi) == text;
}

std::wstring AnsiToWideText(const std::string &text)
{
    if (text.empty()) return {};
    int n = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring w(size_t(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), &w[0], n);
    return w;
}

bool RegKeyExistsW(HKEY root, const std::wstring &key)
{
    TWideKey k;
    return k.Open(root, key, KEY_READ) == ERROR_SUCCESS;
}

bool RegReadKeyW(HKEY root, const std::wstring &key, std::vector<TRegWideValue> &values,
                 std::vector<std::wstring> &subKeys)
{
    values.clear();
    subKeys.clear();
    TWideKey k;
    if (k.Open(root, key, KEY_READ) != ERROR_SUCCESS) return false;
    DWORD maxName = 0, maxData = 0, maxSub = 0;
    if (RegQueryInfoKeyW(k.Get(), nullptr, nullptr, nullptr, nullptr, &maxSub, nullptr, nullptr, &maxName, &maxData,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    // The sizes may grow while the key is read (another process writing it):
    // a value that reports more data is read again with a larger buffer.
    std::wstring name(size_t(maxName) + 2, L'\0');
    std::string data(size_t(maxData) + 2, '\0');
    for (DWORD i = 0;; ++i) {
        DWORD nameLen = DWORD(name.size()), dataLen = DWORD(data.size()), type = 0;
        LONG r = RegEnumValueW(k.Get(), i, &name[0], &nameLen, nullptr, &type,
                               reinterpret_cast<BYTE *>(&data[0]), &dataLen);
        if (r == ERROR_MORE_DATA) {
            name.assign(name.size() * 2 + 256, L'\0');
            data.assign(std::max<size_t>(data.size() * 2, dataLen + 2), '\0');
            --i;
            continue;
        }
        if (r != ERROR_SUCCESS) break;
        TRegWideValue v;
        v.Name.assign(name.data(), nameLen);
        v.Type = type;
        v.Data.assign(data.data(), dataLen);
        values.push_back(std::move(v));
    }
    std::wstring sub(size_t(maxSub) + 2, L'\0');
    for (DWORD i = 0;; ++i) {
        DWORD len = DWORD(sub.size());
        LONG r = RegEnumKeyExW(k.Get(), i, &sub[0], &len, nullptr, nullptr, nullptr, nullptr);
        if (r == ERROR_MORE_DATA) {
            sub.assign(sub.size() * 2 + 256, L'\0');
            --i;
            continue;
        }
        if (r != ERROR_SUCCESS) break;
        subKeys.emplace_back(sub.data(), len);
    }
    return true;
}

bool RegCreateKeyW(HKEY root, const std::wstring &key)
{
    TWideKey k;
    return Report(k.Create(root, key, KEY_WRITE));
}

bool RegWriteRawW(HKEY root, const std::wstring &key, const std::wstring &name, DWORD type,
                  const std::string &data)
{
    TWideKey k;
    LONG r = k.Create(root, key, KEY_WRITE);
    if (r == ERROR_SUCCESS)
        r = RegSetValueExW(k.Get(), name.c_str(), 0, type, reinterpret_cast<const BYTE *>(data.data()),
                           DWORD(data.size()));
    k.Close();
    return Report(r);
}

bool RegRemoveKeyTreeW(HKEY root, const std::wstring &key, bool withSubkeys)
{
    std::wstring path = CleanKeyPathW(key);
    size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos) return Report(ERROR_INVALID_PARAMETER);
    if (withSubkeys) {
        TWideKey k;
        if (k.Open(root, path, KEY_READ) == ERROR_SUCCESS) {
            DWORD count = 0;
            if (RegQueryInfoKeyW(k.Get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                count = 0;
            // From the last index down: deleting a subkey leaves the lower
            // indexes where they were.
            for (DWORD n = count; n-- > 0;) {
                wchar_t name[512];
                DWORD len = 512;
                if (RegEnumKeyExW(k.Get(), n, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                    continue;
                if (!RegRemoveKeyTreeW(root, path + L"\\" + std::wstring(name, len), true)) {
                    DWORD error = GetLastError();
                    k.Close();
                    SetLastError(error);
                    return false;
                }
            }
        }
    }
    return Report(DeleteOne(root, path));
}

bool RegRemoveValueW(HKEY root, const std::wstring &key, const std::wstring &name)
{
    TWideKey k;
    LONG r = k.Open(root, key, KEY_SET_VALUE);
    if (r == ERROR_SUCCESS) r = RegDeleteValueW(k.Get(), name.c_str());
    k.Close();
    return Report(r);
}
