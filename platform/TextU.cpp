#include "platform/TextU.h"

#include <windows.h>

std::string TrimA(const std::string &s)
{
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
    return s.substr(b, e - b);
}

std::string AsciiLower(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

std::string AsciiUpper(std::string s)
{
    for (char &c : s)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return s;
}

std::wstring CodePageToWide(const std::string &text, unsigned codePage)
{
    if (text.empty()) return {};
    int n = MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring w(size_t(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), &w[0], n);
    return w;
}

std::string WideToCodePage(const std::wstring &text, unsigned codePage)
{
    if (text.empty()) return {};
    int n = WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string s(size_t(n), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), &s[0], n, nullptr, nullptr);
    return s;
}

bool StrictUtf8ToWide(const std::string &text, std::wstring &out)
{
    out.clear();
    if (text.empty()) return true;
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), nullptr, 0);
    if (n <= 0) return false;
    out.assign(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &out[0], n);
    return true;
}

std::string LocaleLower(std::string s)
{
    if (!s.empty()) CharLowerBuffA(&s[0], DWORD(s.size()));
    return s;
}

std::string LocaleUpper(std::string s)
{
    if (!s.empty()) CharUpperBuffA(&s[0], DWORD(s.size()));
    return s;
}
