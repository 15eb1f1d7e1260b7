#include "backup/ArchiveU.h"

#include "config/fwCommon.h"
#include "platform/FileU.h"
#include "platform/TextU.h"

#include <cstdio>
#include <mutex>

// Defined by the cabinet unit. Called by the registry itself rather than from
// a static initialiser there, which the linker would drop from a static
// library when nothing else refers to that unit.
void RegisterCabinetArchiveType();

namespace {

const char NotInitialised[] = "Archives Class is not initialized to specific type!";

struct TArchiveManager {
    std::mutex Lock;
    std::vector<TArchiveInfo> Types;
};

// Lives until the process ends: archives may still be in use while static
// objects are destroyed.
TArchiveManager &RawManager()
{
    static TArchiveManager *manager = new TArchiveManager;
    return *manager;
}

TArchiveManager &Manager()
{
    static std::once_flag builtIns;
    std::call_once(builtIns, [] { RegisterCabinetArchiveType(); });
    return RawManager();
}

bool Find(int typeId, TArchiveInfo &info)
{
    TArchiveManager &m = Manager();
    std::lock_guard<std::mutex> hold(m.Lock);
    for (const TArchiveInfo &t : m.Types)
        if (t.TypeId == typeId) {
            info = t;
            return true;
        }
    return false;
}

std::string Format(const char *pattern, const std::string &a)
{
    char buffer[1200];
    std::snprintf(buffer, sizeof buffer, pattern, a.substr(0, 1000).c_str());
    return buffer;
}

bool IsDeviceName(std::string part)
{
    // The system maps these names to devices in any folder and with any
    // extension ("nul.txt" is the null device too).
    size_t dot = part.find('.');
    if (dot != std::string::npos) part.resize(dot);
    part = AsciiUpper(part);
    for (const char *d : {"CON", "PRN", "AUX", "NUL", "CLOCK$", "CONIN$", "CONOUT$"})
        if (part == d) return true;
    return part.size() == 4 && (part.compare(0, 3, "COM") == 0 || part.compare(0, 3, "LPT") == 0) &&
           part[3] >= '0' && part[3] <= '9';
}

}  // namespace

void RegisterArchiveType(int typeId, TArchiveFactory archiveClass, const std::string &typeName,
                         const std::string &libraryName)
{
    TArchiveInfo info;
    info.TypeId = typeId;
    info.TypeName = typeName;
    info.LibraryName = libraryName;
    info.Available = libraryName.empty() || FileExists(ProgramFolder() + libraryName);
    info.Create = archiveClass;
    TArchiveManager &m = RawManager();
    std::lock_guard<std::mutex> hold(m.Lock);
    m.Types.push_back(info);
}

bool ArchiveTypeRegistered(int typeId)
{
    TArchiveInfo info;
    return Find(typeId, info);
}

bool ArchiveTypeAvailable(int typeId)
{
    TArchiveInfo info;
    return Find(typeId, info) && info.Available;
}

std::string ArchiveTypeNameOf(int typeId)
{
    TArchiveInfo info;
    return Find(typeId, info) ? info.TypeName : std::string();
}

std::string ArchiveTypeLibrary(int typeId)
{
    TArchiveInfo info;
    return Find(typeId, info) ? info.LibraryName : std::string();
}

tArchiveFrame *CreateArchiveInstance(int typeId, TArchive *owner)
{
    TArchiveInfo info;
    if (!Find(typeId, info) || !info.Available || !info.Create) return nullptr;
    try {
        return info.Create(owner);
    } catch (...) {
        return nullptr;
    }
}

int ArchiveTypeForFile(const std::string &fileName)
{
    size_t dot = fileName.find_last_of(".\\/");
    if (dot == std::string::npos || fileName[dot] != '.') return 0;
    std::string ext = AsciiUpper(fileName.substr(dot));
    TArchiveManager &m = Manager();
    std::lock_guard<std::mutex> hold(m.Lock);
    for (const TArchiveInfo &t : m.Types)
        if (ext.size() == t.TypeName.size() + 1 && ext.compare(1, std::string::npos, AsciiUpper(t.TypeName)) == 0)
            return t.TypeId;
    return 0;
}

bool IsSafeArchiveName(const std::string &name)
{
    // Room for the folder the name is unpacked below.
    if (name.empty() || name.size() > 200) return false;
    for (unsigned char c : name)
        if (c < 32 || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|')
            return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of("\\/", start);
        if (end == std::string::npos) end = name.size();
        std::string part = name.substr(start, end - start);
        // Also catches a leading separator ("\x") and doubled ones ("\\server").
        if (part.empty() || part == "." || part == "..") return false;
        if (part.back() == '.' || part.back() == ' ') return false;
        if (IsDeviceName(part)) return false;
        start = end + 1;
    }
    return true;
}

std::string ArchiveFrameworkError(const std::string &function, const std::string &message)
{
    std::string text = "Internal error in module \"ArchivesClass\"";
    if (function.empty() && message.empty()) return text;
    text += ": \r\n";
    if (!function.empty()) text += "Function \"" + function + "\"";
    if (!function.empty() && !message.empty()) text += " - ";
    return text + message;
}

// ---- tArchiveFrame ----------------------------------------------------------

void tArchiveFrame::Reset() { Contents.clear(); }

bool tArchiveFrame::LoadContents(std::vector<std::string> &list) { return CheckInitialised(); }

bool tArchiveFrame::DecompressToDir(const std::string &folder, const std::string &onlyFile)
{
    return CheckInitialised();
}

bool tArchiveFrame::DecompressToStream(const std::string &name, TStream &stream)
{
    return CheckInitialised();
}

bool tArchiveFrame::AddFile(const std::string &, const std::string &)
{
    Error = Format("Adding to archive is not supported (\"%s\" archive)!", TypeName());
    return false;
}

bool tArchiveFrame::AddFromStream(TStream &, const std::string &)
{
    return AddFile(std::string(), std::string());
}

bool tArchiveFrame::AddFolder(const std::string &) { return AddFile(std::string(), std::string()); }

std::string tArchiveFrame::TypeName() const
{
    return Owner ? ArchiveTypeNameOf(Owner->ArchiveType()) : std::string();
}

bool tArchiveFrame::CheckInitialised()
{
    if (Initialised) return true;
    if (Owner && Owner->SourceStream) {
        if (!CanReadStreams()) {
            Error = Format("Source stream is not supported (\"%s\" archive)!", TypeName());
            return false;
        }
        Initialised = OwnCheckStream(*Owner->SourceStream);
    } else {
        const std::string name = Owner ? Owner->FileName() : std::string();
        if (!FileExists(name)) {
            Error = Format("File \"%s\" does not exist!", name);
            return false;
        }
        HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            char buffer[1200];
            std::snprintf(buffer, sizeof buffer, "Cannot open file %lu \"%s\"!", GetLastError(),
                          name.substr(0, 1000).c_str());
            Error = buffer;
            return false;
        }
        Initialised = OwnCheckFile(file);
        CloseHandle(file);
    }
    if (!Initialised && Error.empty()) Error = Format("Cannot initialize archive \"%s\"!", Owner->FileName());
    return Initialised;
}

// ---- TArchive ---------------------------------------------------------------

TArchive::TArchive(const std::string &fileName) { SetFileName(fileName); }

TArchive::~TArchive() { delete FInstance; }

void TArchive::SetFileName(const std::string &fileName)
{
    if (fileName == FFileName) return;
    FFileName = fileName;
    if (!fileName.empty()) {
        int type = ArchiveTypeForFile(fileName);
        if (type && ArchiveTypeAvailable(type)) SetArchiveType(type);
    }
    if (FInstance) {
        FInstance->Initialised = false;
        FInstance->Reset();
    }
}

bool TArchive::SetArchiveType(int typeId)
{
    FLastError.clear();
    if (typeId == FArchiveType && FInstance) return true;
    delete FInstance;
    FInstance = nullptr;
    FArchiveType = 0;
    if (!ArchiveTypeAvailable(typeId)) return Fail("SetArchiveType", "required ArchiveType is not available!");
    FArchiveType = typeId;
    FInstance = CreateArchiveInstance(typeId, this);
    if (!FInstance) {
        FArchiveType = 0;
        return Fail("SetArchiveType", "Create Instance of archive error!");
    }
    return true;
}

std::string TArchive::ArchiveTypeName(int typeId)
{
    FLastError.clear();
    if (!ArchiveTypeRegistered(typeId)) {
        Fail("ArchiveTypeName", "unknown value in parameter AArchiveType!");
        return std::string();
    }
    return ArchiveTypeNameOf(typeId);
}

bool TArchive::ArchiveIsAvailable(int typeId)
{
    FLastError.clear();
    if (!ArchiveTypeRegistered(typeId)) return Fail("ArchiveIsAvailable", "unknown value in parameter AArchiveType!");
    return ArchiveTypeAvailable(typeId);
}

bool TArchive::LoadArchiveContents(std::vector<std::string> *list)
{
    FLastError.clear();
    if (!list) return Fail("LoadArchiveContents", "parameter ResFileNames (tStrings) is nil!");
    list->clear();
    if (!FInstance) return Fail(std::string(), NotInitialised);
    try {
        FInstance->Error.clear();
        if (FInstance->LoadContents(*list)) return true;
    } catch (...) {
    }
    list->clear();
    return FailFromInstance();
}

bool TArchive::DecompressToDir(const std::string &folder, const std::string &onlyFile, bool grantEveryone)
{
    FLastError.clear();
    if (folder.empty()) return Fail("DecompressToDir", "parameter TargetDit (string) is empty!");
    if (!FInstance) return Fail(std::string(), NotInitialised);
    std::string target = folder;
    if (target.back() != '\\') target += '\\';
    try {
        FInstance->Error.clear();
        if (!FInstance->DecompressToDir(target, onlyFile)) return FailFromInstance();
        if (grantEveryone)
            for (const std::string &name : FInstance->Contents)
                if (FileExists(target + name)) GrantEveryoneFile(target + name);
        return true;
    } catch (...) {
        return FailFromInstance();
    }
}

bool TArchive::Fail(const std::string &function, const std::string &message)
{
    FLastError = ArchiveFrameworkError(function, message);
    return false;
}

bool TArchive::FailFromInstance()
{
    FLastError = FInstance && !FInstance->Error.empty() ? FInstance->Error : ArchiveFrameworkError("", "");
    return false;
}
