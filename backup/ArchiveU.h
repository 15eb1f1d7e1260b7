// A small archive framework: a process-wide registry of archive types, the
// facade TArchive that picks the type from the file extension and keeps the
// reason of the last failure as text, and the abstract archive tArchiveFrame
// that each type implements (the cabinet type is in ArchiveCABU).
//
// Nothing here throws to the caller: operations return false and leave the
// reason in TArchive::LastError().
#pragma once

#include "platform/StreamU.h"

#include <string>
#include <vector>

class TArchive;
class tArchiveFrame;

using TArchiveFactory = tArchiveFrame *(*)(TArchive *owner);

struct TArchiveInfo {
    int TypeId = 0;
    std::string TypeName;     // also the file extension, without its dot
    std::string LibraryName;  // a file the type needs beside the program, or empty
    bool Available = false;   // decided at registration
    TArchiveFactory Create = nullptr;
};

// Appends a type. Available is true without a library name, otherwise whether
// that file exists in the program's folder now.
void RegisterArchiveType(int typeId, TArchiveFactory archiveClass, const std::string &typeName,
                         const std::string &libraryName);
// Lookups by type id; unknown ids are neither registered nor available and
// have empty names. The registry is filled with the built-in types on first use.
bool ArchiveTypeRegistered(int typeId);
bool ArchiveTypeAvailable(int typeId);
std::string ArchiveTypeNameOf(int typeId);
std::string ArchiveTypeLibrary(int typeId);
// nullptr for unknown or unavailable types.
tArchiveFrame *CreateArchiveInstance(int typeId, TArchive *owner);
// Type id whose name, with a dot in front, equals the file's extension (both
// compared in upper case); 0 when none does.
int ArchiveTypeForFile(const std::string &fileName);

constexpr int ArchiveTypeCAB = 1;

// Whether an entry name stored in an archive (or a download's file name)
// stays inside the folder it is unpacked into: not empty, relative (no
// leading separator, no drive or stream colon), no "." or ".." part, no part
// ending in a dot or blank (the system drops those, which would make ". ."
// mean ".."), no device name (CON, NUL, COM1, LPT1, ... with or without an
// extension) as any part, no control or wildcard characters, and short enough
// to fit below a folder. Backslash and slash both separate parts.
bool IsSafeArchiveName(const std::string &name);

class tArchiveFrame {
public:
    // Slot 7 of the original order: the constructor taking the owner.
    explicit tArchiveFrame(TArchive *owner) : Owner(owner) {}
    virtual ~tArchiveFrame() = default;
    tArchiveFrame(const tArchiveFrame &) = delete;
    tArchiveFrame &operator=(const tArchiveFrame &) = delete;

    // Clears Contents (and whatever a type caches with it).
    virtual void Reset();
    // Each false with the reason in Error. The base only runs the
    // initialisation check.
    virtual bool LoadContents(std::vector<std::string> &list);
    // folder ends with a backslash; onlyFile empty means every file.
    virtual bool DecompressToDir(const std::string &folder, const std::string &onlyFile);
    virtual bool DecompressToStream(const std::string &name, TStream &stream);
    // Adding is not supported by any type of this system.
    virtual bool AddFile(const std::string &fileName, const std::string &nameInArchive);
    virtual bool AddFromStream(TStream &stream, const std::string &nameInArchive);
    virtual bool AddFolder(const std::string &folder);

    TArchive *Owner;
    bool Initialised = false;  // the initialisation check passed for the current file
    bool CanRead = false;
    bool CanAdd = false;
    std::vector<std::string> Contents;  // filled by the first listing
    std::string Error;                  // reason of the last failure

protected:
    // Once per file name: a source stream must be readable by the type, a
    // file must exist and open for reading; then the type's own check.
    bool CheckInitialised();
    virtual bool CanReadStreams() const { return false; }
    virtual bool OwnCheckFile(HANDLE file) { return true; }
    virtual bool OwnCheckStream(TStream &stream) { return true; }
    // The type's name, for the messages.
    std::string TypeName() const;
};

class TArchive {
public:
    explicit TArchive(const std::string &fileName = std::string());
    ~TArchive();
    TArchive(const TArchive &) = delete;
    TArchive &operator=(const TArchive &) = delete;

    // When the name changes: stores it and, when a registered and available
    // type matches its extension, switches to that type; the instance has to
    // pass its initialisation check again.
    void SetFileName(const std::string &fileName);
    const std::string &FileName() const { return FFileName; }

    // When the type differs from the current one: frees the instance and
    // creates one of the new type. False, with LastError, when the type is not
    // available or the instance cannot be created.
    bool SetArchiveType(int typeId);
    int ArchiveType() const { return FArchiveType; }

    // Empty / false, with LastError, for an unknown type id.
    std::string ArchiveTypeName(int typeId);
    bool ArchiveIsAvailable(int typeId);

    // Clears list, then fills it with the names of the contained files.
    bool LoadArchiveContents(std::vector<std::string> *list);
    // Unpacks into folder (a trailing backslash is added when missing); only
    // onlyFile when that is not empty. With grantEveryone every listed file
    // found in the folder afterwards gets an Everyone entry.
    bool DecompressToDir(const std::string &folder, const std::string &onlyFile, bool grantEveryone);

    const std::string &LastError() const { return FLastError; }
    tArchiveFrame *Instance() const { return FInstance; }

    // Read instead of the file when set; not owned. The updater does not use it.
    TStream *SourceStream = nullptr;

private:
    bool Fail(const std::string &function, const std::string &message);
    bool FailFromInstance();

    tArchiveFrame *FInstance = nullptr;
    std::string FFileName;
    int FArchiveType = 0;
    std::string FLastError;
};

// "Internal error in module "ArchivesClass"", then, when function or message
// is given, ": ", a line break, "Function "<function>"", " - " between the
// two, and message.
std::string ArchiveFrameworkError(const std::string &function, const std::string &message);
