// Small text helpers for narrow (code-page) text shared by every unit.
#pragma once

#include <string>

// Without leading and trailing blanks and control characters (bytes 1..32).
std::string TrimA(const std::string &s);
// ASCII letters only: keeps every other byte as it is, so a double-byte
// character's trail byte never changes.
std::string AsciiLower(std::string s);
std::string AsciiUpper(std::string s);
