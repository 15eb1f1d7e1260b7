#include "shell/IniFileWU.h"

#include <windows.h>

namespace {

std::string ToBytes(const std::wstring &w, UINT cp)
{
    if (w.empty()) return {};
    int n = WideCharToMultiByte(cp, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(cp, 0, w.data(), int(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

std::wstring FromBytes(const std::string &s, UINT cp)
{
    if (s.empty()) return {};
    int n = MultiByteToWideChar(cp, 0, s.data(), int(s.size()), nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(cp, 0, s.data(), int(s.size()), &w[0], n);
    return w;
}

bool IsNTFamily()
{
    OSVERSIONINFOA vi = {};
    vi.dwOSVersionInfoSize = sizeof vi;
    return GetVersionExA(&vi) && vi.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

} // namespace

TIniFileW::TIniFileW(const std::string &fileName) : Utf8(IsNTFamily()), FFileName(fileName) {}

std::wstring TIniFileW::ReadString(const std::wstring &section, const std::wstring &key,
                                   const std::wstring &def) const
{
    if (section.empty() || key.empty()) return {};
    const UINT cp = Utf8 ? CP_UTF8 : CP_ACP;
    char buf[2048] = {};
    DWORD n = GetPrivateProfileStringA(ToBytes(section, cp).c_str(), ToBytes(key, cp).c_str(),
                                       ToBytes(def, cp).c_str(), buf, sizeof buf, FFileName.c_str());
    return FromBytes(std::string(buf, n), cp);
}

std::vector<std::pair<std::string, std::string>> TIniFileW::ReadSectionValues(const std::string &section) const
{
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
