// The request parameter token: named parameters packed into one URL-safe
// text with a checksum and a byte scrambling, decoded by the service with the
// same key.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TParam {
    std::string Name;   // upper case
    std::string Value;
};

// The 256-byte key shared with the service.
extern const uint8_t URLTokenKey[256];

class TCryptURL {
public:
    TCryptURL();

    // The name is stored in upper case (ASCII); an existing parameter of that
    // name gets the new value, otherwise the parameter is appended. False, and
    // nothing stored, for an empty name or one holding a control character
    // (below 32), which would break the token's structure.
    bool SetParam(const std::string &name, const std::string &value);
    const std::vector<TParam> &Params() const { return params_; }

    // Sets RANDOMIZER to the tick count, then packs the parameters.
    std::string Encode();
    // Packs the parameters as they are.
    std::string Pack() const;

private:
    uint8_t key_[256];
    std::vector<TParam> params_;
};

// The checksum over the parameter text: a running byte sum, reduced modulo
// 65535 whenever it exceeds 65535.
unsigned TokenChecksum(const std::string &paramText);

// Reverses Pack with the given key: true, with the parameters in order and
// their values unescaped, when the token is well formed and its checksum
// matches; false (params cleared) otherwise.
bool DecodeURLToken(const std::string &token, std::vector<TParam> &params,
                    const uint8_t *key = URLTokenKey);
