#include "config/IniFileWU.h"

#include "platform/StreamU.h"
#include "platform/TextU.h"

#include <windows.h>

namespace {

std::string ToBytes(const std::wstring &w, UINT cp) { return WideToCodePage(w, cp); }
std::wstring FromBytes(const std::string &s, UINT cp) { return CodePageToWide(s, cp); }

bool IsNTFamily()
{
    OSVERSIONINFOA vi = {};
    vi.dwOSVersionInfoSize = sizeof vi;
    return GetVersionExA(&vi) && vi.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

// The private-profile functions read a file without a byte-order mark in the
// ANSI code page and give an A caller the text converted back to it. A
// single-byte code page gives back every byte as it was; a double-byte one
// (Japanese, Chinese and Korean systems) turns UTF-8 sequences that are no
// characters of it into other bytes, and every non-English text would come
// out garbled. There the file is read here instead, by the same rules.
bool ProfileKeepsBytes()
{
    CPINFO info;
    return GetCPInfo(CP_ACP, &info) && info.MaxCharSize == 1;
}

// The entries of the first section of that name, in file order: names and
// values without surrounding blanks, a value without one pair of enclosing
// quotes, as the private-profile functions give them.
std::vector<std::pair<std::string, std::string>> FileSection(const std::string &fileName, const std::string &section)
{
    std::vector<std::pair<std::string, std::string>> out;
    // Every lookup reads the file; one that cannot be read must fail at once,
    // as the private-profile functions do, not wait for it.
    TFileReader reader;
    reader.OpenTimeout = 0;
    std::string text;
    if (!reader.Open(fileName) || !reader.ReadAll(text)) return out;
    bool inSection = false;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        line = TrimA(line);
        if (!line.empty() && line[0] == '[') {
            if (inSection) break;  // only the first section of the name counts
            const size_t close = line.find(']');
            inSection = close != std::string::npos && AsciiLower(TrimA(line.substr(1, close - 1))) == AsciiLower(section);
            continue;
        }
        const size_t eq = line.find('=');
        if (!inSection || eq == std::string::npos) continue;
        std::string value = TrimA(line.substr(eq + 1));
        if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
            value = value.substr(1, value.size() - 2);
        out.emplace_back(TrimA(line.substr(0, eq)), value);
    }
    return out;
}

} // namespace

TIniFileW::TIniFileW(const std::string &fileName) : Utf8(IsNTFamily()), FFileName(fileName) {}

std::wstring TIniFileW::ReadString(const std::wstring &section, const std::wstring &key,
                                   const std::wstring &def) const
{
    if (section.empty() || key.empty()) return {};
    const UINT cp = Utf8 ? CP_UTF8 : CP_ACP;
    if (Utf8 && !ProfileKeepsBytes()) {
        const std::string name = AsciiLower(ToBytes(key, cp));
        for (const auto &entry : FileSection(FFileName, ToBytes(section, cp)))
            if (AsciiLower(entry.first) == name) return FromBytes(entry.second.substr(0, 2047), cp);
        return def;
    }
    char buf[2048] = {};
    DWORD n = GetPrivateProfileStringA(ToBytes(section, cp).c_str(), ToBytes(key, cp).c_str(),
                                       ToBytes(def, cp).c_str(), buf, sizeof buf, FFileName.c_str());
    return FromBytes(std::string(buf, n), cp);
}

std::vector<std::pair<std::string, std::string>> TIniFileW::ReadSectionValues(const std::string &section) const
{
    if (Utf8 && !ProfileKeepsBytes()) return FileSection(FFileName, section);
    std::vector<std::pair<std::string, std::string>> out;
    std::string buf(32768, '\0');
    DWORD n = GetPrivateProfileSectionA(section.c_str(), &buf[0], DWORD(buf.size()), FFileName.c_str());
    size_t i = 0;
    while (i < n) {
        size_t end = buf.find('\0', i);
        if (end == std::string::npos || end == i) break;
        std::string line = buf.substr(i, end - i);
        size_t eq = line.find('=');
        if (eq != std::string::npos) out.emplace_back(line.substr(0, eq), line.substr(eq + 1));
        i = end + 1;
    }
    return out;
}
