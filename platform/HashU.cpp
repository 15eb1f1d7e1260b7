#include "platform/HashU.h"
#include "platform/TextU.h"

#include <windows.h>

#include "platform/HashTables.inc"

namespace {

const uint32_t Multiplier = 1427630199u;

template <typename H, const H *Table>
H Hash(const std::string &text)
{
    H h = 1;
    for (unsigned char b : text) h = static_cast<H>(h * Multiplier) ^ Table[b];
    return h;
}

} // namespace

uint32_t NameHash32(const std::string &text, bool lowerFirst)
{
    return Hash<uint32_t, HashTable32>(lowerFirst ? LocaleLower(text) : text);
}

uint64_t NameHash64(const std::string &text, bool lowerFirst)
{
    return Hash<uint64_t, HashTable64>(lowerFirst ? LocaleLower(text) : text);
}

size_t PosFrom(const std::string &sub, const std::string &text, long start)
{
    if (sub.empty() || text.empty() || start < 1) return 0;
    if (static_cast<unsigned long>(start) > text.size()) return 0;
    size_t at = text.find(sub, static_cast<size_t>(start - 1));
    return at == std::string::npos ? 0 : at + 1;
}
