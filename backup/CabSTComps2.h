// The cabinet reader: checks and unpacks cabinet files through the system's
// cabinet library (FDI), with this program's own memory and file callbacks.
#pragma once

#include <windows.h>
#include <fdi.h>

#include <string>
#include <utility>
#include <vector>

class TSTCabReader {
public:
    TSTCabReader() = default;
    ~TSTCabReader();
    TSTCabReader(const TSTCabReader &) = delete;
    TSTCabReader &operator=(const TSTCabReader &) = delete;

    // FDIIsCabinet on an open file handle (its position is used and moved).
    // False with error set when the library is missing or the file is no
    // cabinet.
    bool IsCabinet(HANDLE file, std::string &error);

    // Unpacks cabinet (a full path) into folder (ending with a backslash),
    // following the next cabinets of a set that exist beside it. With onlyFile
    // only the entry of that name (any case) is written; with renameTo it is
    // written under that name. Every entry name is checked again here with
    // IsSafeArchiveName and the final path must stay below folder: an entry
    // that would leave it ends the extraction with an error. A file cut off
    // by an error is deleted. written gets (entry name, target path) for each
    // completed file. On failure error holds the library's message with its
    // code (and the system's error where the library reports one).
    bool Extract(const std::string &cabinet, const std::string &folder, const std::string &onlyFile,
                 const std::string &renameTo, std::vector<std::pair<std::string, std::string>> &written,
                 std::string &error);

private:
    bool Context(std::string &error);
    HFDI FContext = nullptr;
    ERF FErf{};  // where the library reports the errors of the context's calls
};

// The message for a cabinet library error code, " [0x" code "]", and when a
// system error is given, ".", a line break, its message, " [0x" code "].".
std::string CabErrorText(int code, DWORD systemError);
