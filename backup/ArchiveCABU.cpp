#include "backup/ArchiveCABU.h"

#include "platform/FileU.h"
#include "platform/TextU.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

tArchiveFrame *NewCabinet(TArchive *owner) { return new tCABArchive(owner); }

const char BadFormat[] = "Cabinet file does not have the correct format";
const char Corrupt[] = "Cabinet file is corrupt";

uint32_t U32(const unsigned char *p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
uint16_t U16(const unsigned char *p) { return uint16_t(p[0] | p[1] << 8); }

}  // namespace

void RegisterCabinetArchiveType() { RegisterArchiveType(ArchiveTypeCAB, NewCabinet, "CAB", ""); }

tCABArchive::tCABArchive(TArchive *owner) : tArchiveFrame(owner)
{
    CanRead = true;
    CanAdd = true;
}

bool tCABArchive::OwnCheckFile(HANDLE file) { return FReader.IsCabinet(file, Error); }

bool tCABArchive::LoadContents(std::vector<std::string> &list)
{
    if (!Contents.empty()) {
        list = Contents;
        return true;
    }
    if (!CheckInitialised()) return false;
    TFileReader reader;
    if (!reader.Open(Owner->FileName())) {
        Error = "Cannot open file \"" + Owner->FileName() + "\"!";
        return false;
    }
    unsigned char header[36];
    if (!reader.ReadBuffer(header, sizeof header) || std::memcmp(header, "MSCF", 4) != 0) {
        Error = BadFormat;
        return false;
    }
    const uint32_t firstEntry = U32(header + 16);
    const unsigned count = U16(header + 28);
    if (!reader.Stream->SetPosition(firstEntry)) {
        Error = "Failure setting file stream position";
        return false;
    }
    // One read of the whole table: a count beyond the end shows up as
    // running out of bytes, never as a read past a buffer.
    const int64_t size = reader.Size();
    if (size < int64_t(firstEntry)) {
        Error = Corrupt;
        return false;
    }
    std::string table(size_t(std::min<int64_t>(size - firstEntry, int64_t(count) * (16 + 257))), '\0');
    if (!table.empty() && !reader.ReadBuffer(table.data(), table.size())) {
        Error = Corrupt;
        return false;
    }
    std::vector<std::string> names;
    size_t at = 0;
    for (unsigned i = 0; i < count; ++i) {
        if (at + 16 > table.size()) {
            Error = Corrupt;
            return false;
        }
        at += 16;
        size_t nul = table.find('\0', at);
        if (nul == std::string::npos || nul - at > 256) {
            Error = Corrupt;
            return false;
        }
        std::string name = table.substr(at, nul - at);
        at = nul + 1;
        if (!IsSafeArchiveName(name)) {
            Error = "Cabinet entry \"" + name + "\" would be written outside the target folder";
            return false;
        }
        names.push_back(name);
    }
    Contents = names;
    list = Contents;
    return true;
}

bool tCABArchive::DecompressToDir(const std::string &folder, const std::string &onlyFile)
{
    if (!CheckInitialised()) return false;
    std::vector<std::string> names;
    if (!LoadContents(names)) return false;
    // With a single file asked for, the other entries' files are not ours to
    // delete.
    for (const std::string &name : names)
        if (onlyFile.empty() || AsciiUpper(name) == AsciiUpper(onlyFile))
            if (FileExists(folder + name)) DeleteFileForce(folder + name);
    OnlyFile = onlyFile;
    std::vector<std::pair<std::string, std::string>> written;
    bool ok = FReader.Extract(Owner->FileName(), folder, OnlyFile, RenameTo, written, Error);
    // The library walks the table on its own; a damaged one can make it
    // finish "successfully" with other names or fewer files than listed.
    // Callers act on the listing, so the two must agree.
    if (ok) {
        std::vector<std::string> done;
        for (const auto &w : written) done.push_back(AsciiUpper(w.first));
        for (const std::string &name : names)
            if ((onlyFile.empty() || AsciiUpper(name) == AsciiUpper(onlyFile)) &&
                std::find(done.begin(), done.end(), AsciiUpper(name)) == done.end()) {
                Error = Corrupt;
                ok = false;
                break;
            }
    }
    if (!ok)
        for (const auto &w : written) DeleteFileForce(w.second);
    return ok;
}
