#include "platform/CryptU.h"
#include "platform/TextU.h"

#include <windows.h>

#include <cstring>

#include "platform/URLTokenKey.inc"

namespace {

// Values travel inside a text whose separators are CR (between parameters)
// and tab (after a name); line feed is the escape character, so it goes first.
std::string EscapeValue(const std::string &v)
{
    std::string out;
    out.reserve(v.size());
    for (char c : v) {
        switch (c) {
        case '\n': out += "\n1"; break;
        case '\r': out += "\n3"; break;
        case '\t': out += "\n2"; break;
        default: out += c;
        }
    }
    return out;
}

bool UnescapeValue(const std::string &v, std::string &out)
{
    out.clear();
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] != '\n') {
            out += v[i];
            continue;
        }
        if (++i == v.size()) return false;
        switch (v[i]) {
        case '1': out += '\n'; break;
        case '2': out += '\t'; break;
        case '3': out += '\r'; break;
        default: return false;
        }
    }
    return true;
}

void Scramble(std::string &data, const uint8_t *key)
{
    for (size_t i = 1; i < data.size(); ++i)
        data[i] = static_cast<char>(static_cast<uint8_t>(data[i]) ^ key[(i - 1) % 256]);
}

const char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// Base64 with the URL-safe letters already in place of "+" and "/", and "@"
// as the fill character.
std::string ToBase64(const std::string &data)
{
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    for (size_t i = 0; i < data.size(); i += 3) {
        uint32_t n = static_cast<uint8_t>(data[i]) << 16;
        size_t rest = data.size() - i;
        if (rest > 1) n |= static_cast<uint8_t>(data[i + 1]) << 8;
        if (rest > 2) n |= static_cast<uint8_t>(data[i + 2]);
        out += Alphabet[(n >> 18) & 63];
        out += Alphabet[(n >> 12) & 63];
        out += rest > 1 ? Alphabet[(n >> 6) & 63] : '@';
        out += rest > 2 ? Alphabet[n & 63] : '@';
    }
    return out;
}

bool FromBase64(const std::string &text, std::string &out)
{
    out.clear();
    if (text.size() % 4 != 0) return false;
    for (size_t i = 0; i < text.size(); i += 4) {
        uint32_t n = 0;
        int fill = 0;
        for (size_t j = 0; j < 4; ++j) {
            char c = text[i + j];
            uint32_t d = 0;
            if (c == '@') {
                // Fill only at the very end, at most two.
                if (i + 4 != text.size() || j < 2) return false;
                ++fill;
            } else {
                if (fill) return false;
                const char *p = c ? std::strchr(Alphabet, c) : nullptr;
                if (!p) return false;
                d = static_cast<uint32_t>(p - Alphabet);
            }
            n = (n << 6) | d;
        }
        out += static_cast<char>(n >> 16);
        if (fill < 2) out += static_cast<char>((n >> 8) & 0xFF);
        if (fill < 1) out += static_cast<char>(n & 0xFF);
    }
    return true;
}

const char CrcEntry[] = "_CRC\t";

} // namespace

unsigned TokenChecksum(const std::string &paramText)
{
    unsigned s = 0;
    for (unsigned char b : paramText) {
        s += b;
        if (s > 0xFFFF) s %= 0xFFFF;
    }
    return s;
}

TCryptURL::TCryptURL()
{
    std::memcpy(key_, URLTokenKey, sizeof key_);
}

bool TCryptURL::SetParam(const std::string &name, const std::string &value)
{
    if (name.empty()) return false;
    for (unsigned char c : name)
        if (c < 32) return false;
    const std::string upper = AsciiUpper(name);
    for (auto &p : params_) {
        if (p.Name == upper) {
            p.Value = value;
            return true;
        }
    }
    params_.push_back({upper, value});
    return true;
}

std::string TCryptURL::Encode()
{
    SetParam("RANDOMIZER", std::to_string(GetTickCount()));
    return Pack();
}

std::string TCryptURL::Pack() const
{
    std::string text;
    for (const auto &p : params_) {
        text += '\r';
        text += p.Name;
        text += '\t';
        text += EscapeValue(p.Value);
    }
    std::string plain = CrcEntry + std::to_string(TokenChecksum(text)) + text;
    Scramble(plain, key_);
    return ToBase64(plain);
}

bool DecodeURLToken(const std::string &token, std::vector<TParam> &params, const uint8_t *key)
{
    params.clear();
    std::string plain;
    if (!key || !FromBase64(token, plain)) return false;
    Scramble(plain, key);
    const size_t crcLen = sizeof CrcEntry - 1;
    if (plain.compare(0, crcLen, CrcEntry) != 0) return false;
    size_t end = plain.find('\r');
    if (end == std::string::npos) end = plain.size();
    const std::string crc = plain.substr(crcLen, end - crcLen);
    if (crc.empty() || crc.size() > 5 || crc.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const std::string text = plain.substr(end);
    if (std::stoul(crc) != TokenChecksum(text)) return false;

    std::vector<TParam> result;
    for (size_t pos = 0; pos < text.size();) {
        size_t next = text.find('\r', pos + 1);
        if (next == std::string::npos) next = text.size();
        const std::string entry = text.substr(pos + 1, next - pos - 1);
        size_t tab = entry.find('\t');
        if (tab == std::string::npos) return false;
        TParam p{entry.substr(0, tab), {}};
        if (!UnescapeValue(entry.substr(tab + 1), p.Value)) return false;
        result.push_back(std::move(p));
        pos = next;
    }
    params = std::move(result);
    return true;
}
