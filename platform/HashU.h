// Table-driven string hashes and a substring search.
#pragma once

#include <cstdint>
#include <string>

// Fixed pseudo-random tables, indexed by byte value. Every program of the
// system uses these same values, so names derived from a hash agree.
extern const uint32_t HashTable32[256];
extern const uint64_t HashTable64[256];

// h = 1; for every byte b: h = (h * 1427630199) xor table[b], modulo 2^32 or
// 2^64. With lowerFirst the text is lower-cased first (system locale).
uint32_t NameHash32(const std::string &text, bool lowerFirst);
uint64_t NameHash64(const std::string &text, bool lowerFirst);

// 1-based position of the first occurrence of sub in text at or after the
// 1-based start; 0 when there is none, either text is empty or start < 1.
size_t PosFrom(const std::string &sub, const std::string &text, long start);
