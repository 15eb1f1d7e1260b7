#include "backup/CabSTComps2.h"

#include "backup/ArchiveU.h"
#include "backup/CabIntf.h"
#include "platform/DirectoryU.h"
#include "platform/FileU.h"
#include "platform/TextU.h"

#include <fcntl.h>

#include <cstdio>
#include <cstdlib>
#include <set>

namespace {

// ---- callbacks FDI calls for memory and files -------------------------------

void *DIAMONDAPI MemAlloc(ULONG cb) { return std::malloc(cb); }
void DIAMONDAPI MemFree(void *p) { std::free(p); }

INT_PTR DIAMONDAPI FileOpen(char *name, int oflag, int pmode)
{
    DWORD access = GENERIC_READ, disposition = OPEN_EXISTING;
    if (oflag & (_O_WRONLY | _O_RDWR)) access = (oflag & _O_RDWR) ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE;
    if (oflag & _O_CREAT) disposition = (oflag & _O_EXCL) ? CREATE_NEW : (oflag & _O_TRUNC) ? CREATE_ALWAYS : OPEN_ALWAYS;
    HANDLE h = CreateFileA(name, access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<INT_PTR>(h);
}

UINT DIAMONDAPI FileRead(INT_PTR hf, void *pv, UINT cb)
{
    DWORD n = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(hf), pv, cb, &n, nullptr)) return UINT(-1);
    return n;
}

UINT DIAMONDAPI FileWrite(INT_PTR hf, void *pv, UINT cb)
{
    DWORD n = 0;
    // A short write (a full disk) is what the library sees as a failure.
    if (!WriteFile(reinterpret_cast<HANDLE>(hf), pv, cb, &n, nullptr)) return UINT(-1);
    return n;
}

int DIAMONDAPI FileClose(INT_PTR hf) { return CloseHandle(reinterpret_cast<HANDLE>(hf)) ? 0 : -1; }

LONG DIAMONDAPI FileSeek(INT_PTR hf, LONG dist, int seektype)
{
    DWORD origin = seektype == SEEK_CUR ? FILE_CURRENT : seektype == SEEK_END ? FILE_END : FILE_BEGIN;
    DWORD pos = SetFilePointer(reinterpret_cast<HANDLE>(hf), dist, nullptr, origin);
    return pos == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR ? -1 : LONG(pos);
}

// ---- one extraction ---------------------------------------------------------

struct TCopyRun {
    std::string Folder;      // ends with a backslash
    std::string FullFolder;  // the same, fully resolved and upper-cased, for the containment test
    std::string OnlyFile, RenameTo;
    std::string NextCabinet;
    std::vector<std::pair<std::string, std::string>> *Written = nullptr;
    HANDLE Open = INVALID_HANDLE_VALUE;  // the file being written
    std::string OpenName, OpenTarget;
    std::string Error;  // our own reason to abort, preferred over the library's
};

std::string FullPath(const std::string &path)
{
    char buffer[MAX_PATH * 2];
    DWORD n = GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
    return n && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

// The name must pass the name rules and its resolved path must still lie
// below the folder; the second test guards against whatever the rules miss.
bool TargetFor(TCopyRun &run, const std::string &name, std::string &target)
{
    if (!IsSafeArchiveName(name)) return false;
    target = run.Folder + name;
    std::string full = AsciiUpper(FullPath(target));
    return full.size() > run.FullFolder.size() && full.compare(0, run.FullFolder.size(), run.FullFolder) == 0;
}

void SetTimes(HANDLE file, USHORT date, USHORT time)
{
    FILETIME local, utc;
    if (DosDateTimeToFileTime(date, time, &local) && LocalFileTimeToFileTime(&local, &utc))
        SetFileTime(file, &utc, nullptr, &utc);
}

INT_PTR CopyFileNotice(TCopyRun &run, FDINOTIFICATION *n)
{
    std::string name = n->psz1 ? n->psz1 : "";
    if (!run.OnlyFile.empty() && AsciiUpper(name) != AsciiUpper(run.OnlyFile)) return 0;
    std::string target;
    if (!TargetFor(run, run.RenameTo.empty() ? name : run.RenameTo, target)) {
        run.Error = "Cabinet entry \"" + name.substr(0, 300) + "\" would be written outside the target folder";
        return -1;
    }
    size_t slash = target.find_last_of('\\');
    ForceDirectories(target.substr(0, slash), false, true);
    DWORD attributes = GetFileAttributesA(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesA(target.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
    HANDLE h = CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return -1;
    run.Open = h;
    run.OpenName = name;
    run.OpenTarget = target;
    return reinterpret_cast<INT_PTR>(h);
}

INT_PTR CloseFileNotice(TCopyRun &run, FDINOTIFICATION *n)
{
    HANDLE h = reinterpret_cast<HANDLE>(n->hf);
    SetTimes(h, n->date, n->time);
    CloseHandle(h);
    if (h == run.Open) run.Open = INVALID_HANDLE_VALUE;
    DWORD attributes = n->attribs & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                     FILE_ATTRIBUTE_ARCHIVE);
    SetFileAttributesA(run.OpenTarget.c_str(), attributes ? attributes : FILE_ATTRIBUTE_NORMAL);
    if (run.Written) run.Written->emplace_back(run.OpenName, run.OpenTarget);
    return TRUE;
}

INT_PTR DIAMONDAPI Notify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION n)
{
    TCopyRun &run = *static_cast<TCopyRun *>(n->pv);
    try {
        switch (type) {
        case fdintCABINET_INFO:
            run.NextCabinet = n->psz1 ? n->psz1 : "";
            return 0;
        case fdintCOPY_FILE:
            return CopyFileNotice(run, n);
        case fdintCLOSE_FILE_INFO:
            return CloseFileNotice(run, n);
        case fdintNEXT_CABINET: {
            // The library looks in psz3 for psz1; only a plain name beside
            // the first cabinet is followed.
            std::string next = n->psz1 ? n->psz1 : "";
            std::string path = n->psz3 ? n->psz3 : "";
            return IsSafeArchiveName(next) && FileExists(path + next) ? 0 : -1;
        }
        default:
            return 0;
        }
    } catch (...) {
        return -1;
    }
}

const char *const Messages[] = {
    "No error",
    "Cabinet not found",
    "Cabinet file does not have the correct format",
    "Cabinet file has an unknown version number",
    "Cabinet file is corrupt",
    "Could not allocate enough memory",
    "Unknown compression type in a cabinet folder",
    "Failure decompressing data from a cabinet file",
    "Failure writing to target file",
    "Cabinets in a set do not have the same RESERVE sizes",
    "Cabinet returned on fdintNEXT_CABINET is incorrect",
    "FDI aborted",
};

std::string Hex4(DWORD code)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%04lX", code);
    return buffer;
}

}  // namespace

std::string CabErrorText(int code, DWORD systemError)
{
    std::string text = code >= 0 && code < int(sizeof Messages / sizeof *Messages) ? Messages[code] : "FDI error";
    text += " [0x" + Hex4(DWORD(code)) + "]";
    if (systemError) text += ".\r\n" + SystemErrorText(systemError) + " [0x" + Hex4(systemError) + "].";
    return text;
}

TSTCabReader::~TSTCabReader()
{
    std::string error;
    if (FContext)
        if (const TCabFunctions *f = CabFunctions(error)) f->FDIDestroy(FContext);
}

bool TSTCabReader::Context(std::string &error)
{
    const TCabFunctions *f = CabFunctions(error);
    if (!f) return false;
    if (FContext) return true;
    FErf = ERF{};
    FContext = f->FDICreate(MemAlloc, MemFree, FileOpen, FileRead, FileWrite, FileClose, FileSeek, cpuUNKNOWN, &FErf);
    if (!FContext) error = CabErrorText(FErf.erfOper, DWORD(FErf.erfType));
    return FContext != nullptr;
}

bool TSTCabReader::IsCabinet(HANDLE file, std::string &error)
{
    if (!Context(error)) return false;
    std::string ignored;
    FDICABINETINFO info{};
    if (CabFunctions(ignored)->FDIIsCabinet(FContext, reinterpret_cast<INT_PTR>(file), &info))
        return true;
    error = CabErrorText(FDIERROR_NOT_A_CABINET, 0);
    return false;
}

bool TSTCabReader::Extract(const std::string &cabinet, const std::string &folder, const std::string &onlyFile,
                           const std::string &renameTo,
                           std::vector<std::pair<std::string, std::string>> &written, std::string &error)
{
    if (!Context(error)) return false;
    const TCabFunctions *f = CabFunctions(error);
    TCopyRun run;
    run.Folder = folder;
    run.FullFolder = AsciiUpper(FullPath(folder));
    if (run.FullFolder.empty() || run.FullFolder.back() != '\\') {
        error = "Invalid target folder \"" + folder.substr(0, 300) + "\"";
        return false;
    }
    run.OnlyFile = onlyFile;
    run.RenameTo = renameTo;
    run.Written = &written;

    size_t slash = cabinet.find_last_of('\\');
    std::string path = slash == std::string::npos ? std::string() : cabinet.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? cabinet : cabinet.substr(slash + 1);
    // A set that names its own members in a circle is followed once round.
    std::set<std::string> seen;
    while (true) {
        seen.insert(AsciiUpper(name));
        run.NextCabinet.clear();
        FErf = ERF{};
        BOOL ok = f->FDICopy(FContext, const_cast<char *>(name.c_str()),
                             const_cast<char *>(path.c_str()), 0, Notify, nullptr, &run);
        if (run.Open != INVALID_HANDLE_VALUE) {
            // The library gave up in the middle of a file: what was written of
            // it is not the file.
            CloseHandle(run.Open);
            run.Open = INVALID_HANDLE_VALUE;
            DeleteFileForce(run.OpenTarget);
        }
        if (!ok) {
            if (!run.Error.empty()) error = run.Error;
            else error = CabErrorText(FErf.erfOper, DWORD(FErf.erfType));
            return false;
        }
        const std::string next = run.NextCabinet;
        if (next.empty() || !IsSafeArchiveName(next) || seen.count(AsciiUpper(next)) || !FileExists(path + next))
            return true;
        name = next;
    }
}
