// SHA-256 digests, computed here rather than through the system's crypto
// providers: Windows 2000 and XP before SP3 have no SHA-256 provider.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class TSha256 {
public:
    TSha256();
    void Update(const void *data, size_t count);
    // 64 lower-case hexadecimal digits; the object is spent afterwards.
    std::string HexDigest();

private:
    void Block(const uint8_t *p);
    uint32_t FState[8];
    uint8_t FBuffer[64];
    size_t FFill = 0;
    uint64_t FLength = 0;
};

std::string Sha256Hex(const std::string &bytes);
// The digest of a whole file, read in pieces; false (hex empty) when the file
// cannot be opened or read to its end.
bool FileSha256Hex(const std::string &path, std::string &hex);
