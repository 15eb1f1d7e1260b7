#include "platform/FileVersionU.h"
#include "platform/SystemLibraryU.h"

#include <algorithm>
#include <cstdio>

namespace {

// version.dll is reached by name, once: its import would otherwise be one
// more library every program of the system loads at start.
struct VersionApi {
    using SizeFn = DWORD(WINAPI *)(LPCSTR, LPDWORD);
    using InfoFn = BOOL(WINAPI *)(LPCSTR, DWORD, DWORD, LPVOID);
    using QueryFn = BOOL(WINAPI *)(LPCVOID, LPCSTR, LPVOID *, PUINT);
    SizeFn GetFileVersionInfoSizeA = nullptr;
    InfoFn GetFileVersionInfoA = nullptr;
    QueryFn VerQueryValueA = nullptr;
    bool ok() const { return GetFileVersionInfoSizeA && GetFileVersionInfoA && VerQueryValueA; }
};

const VersionApi &Api()
{
    static const VersionApi api = [] {
        VersionApi a;
        HMODULE lib = LoadSystemLibrary("version.dll");
        if (lib) {
            a.GetFileVersionInfoSizeA =
                reinterpret_cast<VersionApi::SizeFn>(GetProcAddress(lib, "GetFileVersionInfoSizeA"));
            a.GetFileVersionInfoA =
                reinterpret_cast<VersionApi::InfoFn>(GetProcAddress(lib, "GetFileVersionInfoA"));
            a.VerQueryValueA =
                reinterpret_cast<VersionApi::QueryFn>(GetProcAddress(lib, "VerQueryValueA"));
        }
        return a;
    }();
    return api;
}

// Reading the raw block. A resource node is: WORD length, WORD value length,
// (32-bit format only) WORD type, a NUL-terminated key, padding to 4 bytes,
// the value, padding to 4 bytes, then child nodes up to length. Files of the
// 32-bit format keep UTF-16 keys; old 16-bit files keep 8-bit keys and have no
// type word.
struct Node {
    size_t begin = 0, end = 0;  // the node's bytes
    std::string key;
    size_t children = 0;  // first child
};

size_t Align4(size_t offset) { return (offset + 3) & ~size_t(3); }

class BlockReader {
public:
    BlockReader(const BYTE *data, size_t size) : d_(data), n_(size) {}

    bool Wide() const
    {
        // "VS_VERSION_INFO" follows three words as UTF-16 in the 32-bit format.
        return n_ >= 8 && d_[6] == 'V' && d_[7] == 0;
    }

    bool Read(size_t at, size_t limit, bool wide, Node &node) const
    {
        if (at + 4 > limit) return false;
        size_t length = Word(at), valueLength = Word(at + 2);
        if (length < 4 || at + length > limit) return false;
        node.begin = at;
        node.end = at + length;
        node.key.clear();
        size_t p = at + (wide ? 6 : 4);
        size_t valueBytes = valueLength;
        if (wide) {
            if (Word(at + 4) == 1) valueBytes *= 2;  // text values count characters
            for (; p + 2 <= node.end; p += 2) {
                WORD c = Word(p);
                if (c == 0) break;
                node.key += c < 0x80 ? char(c) : '?';
            }
            p += 2;
        } else {
            for (; p < node.end && d_[p]; ++p) node.key += char(d_[p]);
            p += 1;
        }
        node.children = std::min(Align4(Align4(p) + valueBytes), node.end);
        return true;
    }

private:
    WORD Word(size_t at) const { return WORD(d_[at] | (d_[at + 1] << 8)); }
    const BYTE *d_;
    size_t n_;
};

} // namespace

TFileVersion::TFileVersion(const std::string &fileName) : FFileName(fileName)
{
    try {
        const VersionApi &api = Api();
        if (!api.ok()) return;
        DWORD ignored = 0;
        DWORD size = api.GetFileVersionInfoSizeA(fileName.c_str(), &ignored);
        if (size == 0) return;
        FBlock.assign(size, 0);
        FValid = api.GetFileVersionInfoA(fileName.c_str(), 0, size, FBlock.data()) != FALSE;
        if (!FValid) FBlock.clear();
    } catch (...) {
        FValid = false;
        FBlock.clear();
    }
}

std::string TFileVersion::Query(const std::string &subBlock) const
{
    if (!FValid) return {};
    void *value = nullptr;
    UINT length = 0;
    if (!Api().VerQueryValueA(FBlock.data(), subBlock.c_str(), &value, &length) || !value ||
        length == 0)
        return {};
    const char *text = static_cast<const char *>(value);
    std::string s(text, length);
    return s.substr(0, s.find('\0'));
}

std::string TFileVersion::Translation() const
{
    if (!FValid) return {};
    void *value = nullptr;
    UINT length = 0;
    if (!Api().VerQueryValueA(FBlock.data(), "\\VarFileInfo\\Translation", &value, &length) || !value ||
        length < 4)
        return {};
    const WORD *pair = static_cast<const WORD *>(value);
    char text[16];
    snprintf(text, sizeof text, "%04X%04X", pair[0], pair[1]);
    return text;
}

std::string TFileVersion::FirstStringTableKey() const
{
    BlockReader r(FBlock.data(), FBlock.size());
    const bool wide = r.Wide();
    Node root, child, table;
    if (!r.Read(0, FBlock.size(), wide, root)) return {};
    for (size_t at = root.children; r.Read(at, root.end, wide, child); at = Align4(child.end)) {
        if (child.key == "StringFileInfo" && r.Read(child.children, child.end, wide, table))
            return table.key;
        if (Align4(child.end) <= at) break;
    }
    return {};
}

std::string TFileVersion::StringValue(const std::string &name) const
{
    try {
        if (!FValid) return {};
        std::string translation = Translation();
        if (!translation.empty()) {
            std::string v = Query("\\StringFileInfo\\" + translation + "\\" + name);
            if (!v.empty()) return v;
        }
        // Many files name a code page in their translation list that their
        // string table does not use (040904E4 against 040904B0).
        std::string key = FirstStringTableKey();
        if (key.empty() || key == translation) return {};
        return Query("\\StringFileInfo\\" + key + "\\" + name);
    } catch (...) {
        return {};
    }
}

bool TFileVersion::FixedInfo(VS_FIXEDFILEINFO &info) const
{
    if (!FValid) return false;
    void *value = nullptr;
    UINT length = 0;
    if (!Api().VerQueryValueA(FBlock.data(), "\\", &value, &length) || !value ||
        length < sizeof(VS_FIXEDFILEINFO))
        return false;
    info = *static_cast<const VS_FIXEDFILEINFO *>(value);
    return info.dwSignature == 0xFEEF04BD;
}

std::string FileVersionText(const std::string &fileName)
{
    try {
        TFileVersion version(fileName);
        VS_FIXEDFILEINFO info;
        if (!version.FixedInfo(info)) return "0.0.0.0";
        char text[64];
        snprintf(text, sizeof text, "%u.%u.%u.%u", unsigned(HIWORD(info.dwFileVersionMS)),
                 unsigned(LOWORD(info.dwFileVersionMS)), unsigned(HIWORD(info.dwFileVersionLS)),
                 unsigned(LOWORD(info.dwFileVersionLS)));
        return text;
    } catch (...) {
        return "0.0.0.0";
    }
}

std::string UserLanguageCode()
{
    char code[16] = {};
    if (!GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SISO639LANGNAME, code, sizeof code)) return {};
    return code;
}
