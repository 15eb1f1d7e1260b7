// Reads a UTF-8 INI file through the private-profile functions.
#pragma once

#include <string>
#include <utility>
#include <vector>

class TIniFileW {
public:
    explicit TIniFileW(const std::string &fileName);

    const std::string &FileName() const { return FFileName; }
    // True on the NT family: values are UTF-8. On 9x the ANSI code page is used.
    bool Utf8;

    // Empty for an empty section or key; def when the entry is missing. At
    // most 2047 bytes of a value are used.
    std::wstring ReadString(const std::wstring &section, const std::wstring &key, const std::wstring &def) const;
    // The section's entries as raw (name, value) bytes in file order.
    std::vector<std::pair<std::string, std::string>> ReadSectionValues(const std::string &section) const;

private:
    std::string FFileName;
};
