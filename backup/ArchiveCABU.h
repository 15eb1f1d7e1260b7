// The cabinet archive type (type id 1, "CAB"): the file table is read here,
// decompression is left to the system's cabinet library.
#pragma once

#include "backup/ArchiveU.h"
#include "backup/CabSTComps2.h"

class tCABArchive : public tArchiveFrame {
public:
    explicit tCABArchive(TArchive *owner);

    // Reads the header and every file entry. Fails on a file that is not a
    // cabinet, a table cut off by the end of the file, a name without its
    // terminating NUL within 256 bytes, and a name that IsSafeArchiveName
    // refuses: an archive naming a place outside its folder is not unpacked
    // at all.
    bool LoadContents(std::vector<std::string> &list) override;
    // Deletes the existing targets of every listed name, then unpacks;
    // entries are written with the cabinet's date and attributes (read-only,
    // hidden, system, archive). Fails, removing what it wrote, when the
    // library did not write every listed entry (or onlyFile).
    bool DecompressToDir(const std::string &folder, const std::string &onlyFile) override;

    std::string OnlyFile;
    std::string RenameTo;  // with OnlyFile: the name the file is written under

protected:
    bool OwnCheckFile(HANDLE file) override;

private:
    TSTCabReader FReader;
};
