// Version resources of executable files, and the user's language.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class TFileVersion {
public:
    explicit TFileVersion(const std::string &fileName);
    virtual ~TFileVersion() = default;
    TFileVersion(const TFileVersion &) = delete;
    TFileVersion &operator=(const TFileVersion &) = delete;

    const std::string &FileName() const { return FFileName; }
    // The version block was read; every query below gives empty otherwise.
    bool Valid() const { return FValid; }
    const std::vector<BYTE> &Block() const { return FBlock; }
    DWORD BlockSize() const { return DWORD(FBlock.size()); }

    // First language and code page of "\VarFileInfo\Translation" as 8 upper-case
    // hexadecimal digits, language first ("040904E4"); empty when missing.
    std::string Translation() const;
    // "\StringFileInfo\<Translation>\<name>"; when that is missing, the same
    // name in the block's first string table; empty when neither exists.
    std::string StringValue(const std::string &name) const;
    std::string ProductVersion() const { return StringValue("ProductVersion"); }
    // The fixed part of the block; false when there is none.
    bool FixedInfo(VS_FIXEDFILEINFO &info) const;

private:
    std::string Query(const std::string &subBlock) const;
    std::string FirstStringTableKey() const;

    std::string FFileName;
    bool FValid = false;
    std::vector<BYTE> FBlock;
};

// The fixed file version as "major.minor.release.build"; "0.0.0.0" when the
// file has no version block.
std::string FileVersionText(const std::string &fileName);
// The user's language as its two-letter ISO 639 name ("en").
std::string UserLanguageCode();
