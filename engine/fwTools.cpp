#include "engine/fwTools.h"

#include "platform/SystemPathsU.h"

#include <windows.h>

#include <cstdio>

namespace {

char UserDecimalSeparator()
{
    char sep[8] = {};
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, sep, sizeof sep) > 1 && sep[0]) return sep[0];
    return '.';
}

std::string Unit(double value, const char *unit) { return FormatOneDecimal(value) + " " + unit; }

} // namespace

std::string FormatOneDecimal(double value, char separator)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.1f", value);
    std::string s = buf;
    size_t dot = s.find('.');
    if (dot != std::string::npos) s[dot] = separator ? separator : UserDecimalSeparator();
    return s;
}

std::string SizeText(int64_t bytes)
{
    if (bytes <= 0) return "0 MB";
    if (bytes < 1024) return std::to_string(bytes) + " B";
    if (bytes < 1048576) return Unit(bytes / 1024.0, "KB");
    if (bytes < 1073741824) return Unit(bytes / 1024.0 / 1024.0, "MB");
    return Unit(bytes / 1024.0 / 1024.0 / 1024.0, "GB");
}

std::string ResultSizeText(int64_t bytes)
{
    if (bytes <= 0) return "0 MB";
    if (bytes <= 100) return std::to_string(bytes) + " B";
    if (bytes <= 102400) return Unit(bytes / 1024.0, "KB");
    if (bytes < 1073741824) return Unit(bytes / 1024.0 / 1024.0, "MB");
    return Unit(bytes / 1024.0 / 1024.0 / 1024.0, "GB");
}

std::string ViewNote(bool is64)
{
    if (!Is64BitOS()) return {};
    return is64 ? " (64-bit view)" : " (32-bit view)";
}

std::string ModeNote(int mode)
{
    if (!Is64BitOS()) return {};
    if (mode == vm64) return " (64-bit view)";
    if (mode == vm32) return " (32-bit view)";
    return " (both views)";
}

std::string MissingFileWhy(const std::string &text, int mode)
{
    std::string path = CleanPath(text);
    if (path.empty()) path = text;
    // A quoted command leaves its quotes on the path part.
    while (!path.empty() && path.front() == '"') path.erase(0, 1);
    while (!path.empty() && path.back() == '"') path.pop_back();
    return "file " + path + " not found" + ModeNote(mode);
}
