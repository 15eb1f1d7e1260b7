// Entries the engine never reports: the exception list of the definitions
// document. One process-wide instance, created by the first "exceptions"
// element and kept for the life of the process.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class TXMLTag;
class TfwRegItem;
struct TfwFoundFile;

struct TfwRegException {
    HKEY Root = nullptr;
    std::string Key;        // upper-cased, no trailing backslash
    std::string ValueName;  // upper-cased
    int Ignore = 0;         // 1 every entry under the key, 2 one value of the key
    bool Is64 = false;      // read, not used for matching
};

class TfwExceptions {
public:
    std::vector<TfwRegException> RegExceptions;
    std::vector<std::string> FileExceptions;  // lower-cased full paths, sorted

    void LoadFromXML(TXMLTag *tag);
    bool IsRegExcepted(const TfwRegItem &item) const;
    // "desktop.ini" anywhere, or an exact (case-insensitive) listed path.
    bool IsFileExcepted(const std::string &path) const;
    // Removes the excepted paths; true when anything was removed.
    bool RemoveExceptedFiles(std::vector<std::string> &paths) const;
};

// The process-wide list; nullptr until created (create = true makes it).
TfwExceptions *ProcessExceptions(bool create = false);

// ---- filters every scanner applies ------------------------------------------

// The exception list covers the item, or else the list of cleaned entries
// holds it. Neither list yet, or an error inside a test, counts as false.
bool IsExcepted(const TfwRegItem &item);
// Drops the excepted paths when the exception list exists.
void FilterExceptedFiles(std::vector<std::string> &paths);
void FilterExceptedFiles(std::vector<TfwFoundFile> &files);
// Windows Vista or later and the key (calling thread's view) is owned by
// TrustedInstaller; any failure gives false.
bool IsInstallerOwned(HKEY root, const std::string &key);
