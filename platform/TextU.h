// Small text helpers for narrow (code-page) text shared by every unit.
#pragma once

#include <string>

// Without leading and trailing blanks and control characters (bytes 1..32).
std::string TrimA(const std::string &s);
// ASCII letters only: keeps every other byte as it is, so a double-byte
// character's trail byte never changes.
std::string AsciiLower(std::string s);
std::string AsciiUpper(std::string s);
// The system's case mapping of its code page (CharLowerBuffA and
// CharUpperBuffA), so that national letters in paths and key names fold too.
std::string LocaleLower(std::string s);
std::string LocaleUpper(std::string s);

// ---- conversion between the text kinds ---------------------------------------
// Narrow text of a code page and UTF-16. Characters the target code page
// cannot carry become its default character; data that must survive whatever
// the code page (registry entries in backups) is kept as bytes or wide text
// instead. An empty or unconvertible input gives an empty result.
constexpr unsigned CodePageAnsi = 0;   // CP_ACP, the system code page
constexpr unsigned CodePageUtf8 = 65001;

std::wstring CodePageToWide(const std::string &text, unsigned codePage);
std::string WideToCodePage(const std::wstring &text, unsigned codePage);

// False, and out empty, when text is not well-formed UTF-8 (for documents
// that may also hold text of the system code page).
bool StrictUtf8ToWide(const std::string &text, std::wstring &out);

inline std::wstring AnsiToWide(const std::string &text) { return CodePageToWide(text, CodePageAnsi); }
inline std::string WideToAnsi(const std::wstring &text) { return WideToCodePage(text, CodePageAnsi); }
inline std::wstring Utf8ToWide(const std::string &text) { return CodePageToWide(text, CodePageUtf8); }
inline std::string WideToUtf8(const std::wstring &text) { return WideToCodePage(text, CodePageUtf8); }
