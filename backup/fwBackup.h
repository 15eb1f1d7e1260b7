// Backup documents: the recorder that writes the state of every registry
// entry a repair is about to change, the reader that lists the documents of
// the backups folder, and the restore that puts the recorded entries back.
//
// The "reg" element is the record of these documents, of the engine's list of
// cleaned entries and of the definitions' list groups; its reading, writing
// and the change it describes (write a value by type, delete a value, delete a
// key tree) live here, below the engine, so that the engine's registry item
// and the restore apply an entry the same way.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TXMLTag;

// ---- the "reg" element ------------------------------------------------------

// Registry value type codes as the documents name them.
enum TfwRegType { rtNone = 0, rtStr = 1, rtExStr = 2, rtBin = 3, rtNum = 4, rtMulStr = 7 };
enum TfwRegScanMode { smNone = 0, smValue = 1, smExists = 2, smBackup = 3 };
// fmCreateKey only comes from backup documents: it brings back a key that
// held no values (an empty subkey of a deleted tree).
enum TfwRegFixMode { fmNone = 0, fmValue = 1, fmDelete = 2, fmCreateKey = 3 };

int RegTypeFromName(const std::string &name);  // lower-cased compare; 0 otherwise
std::string RegTypeName(int type);             // empty for 0 and unknown codes
// Reads "123" or "$FA00" as 0..4294967295; false for anything else.
bool ParseRegNumber(const std::string &text, uint32_t &value);

struct TfwRegEntry {
    HKEY Root = nullptr;  // nullptr when the root name is not recognised
    std::string Key, ValueName, Value;
    int ValueType = rtNone;
    int ScanMode = smNone;
    int FixMode = fmNone;
    bool Is64 = false;
    double Date = 0;  // whole days since 30 Dec 1899; 0 = none

    // Only where the narrow form cannot carry an entry of a backup document
    // (a name outside the code page, a type or length the typed form would
    // change). Written as the attributes "wkey" and "wname" (UTF-16LE bytes in
    // hexadecimal, set only when the narrow text loses characters) and
    // "rawtype" plus "raw" (the type code and the bytes as stored, read
    // through the wide API) with type "raw". Documents without them read and
    // apply as before.
    std::wstring WideKey, WideName;  // empty: Key and ValueName carry them
    bool Raw = false;
    DWORD RawType = 0;
    std::string RawData;
};

// Decodes the attributes of a "reg" element. A "num" value outside 0 to
// 4294967295 or a "bin" value of odd length sets ScanMode to smNone.
void ReadRegEntry(const TXMLTag *tag, TfwRegEntry &entry);
// The written form "<reg root=... />" (no leading blanks, no line end).
std::string RegEntryXML(const TfwRegEntry &entry);

// The calling thread's registry view for an entry: on a 64-bit system the
// 64-bit view for a 64-bit entry and the 32-bit view for any other; on a
// 32-bit system nothing changes.
void SelectItemView(bool is64);

// Applies the entry's FixMode in its view: fmDelete removes the value, or the
// key with its subkeys when ValueName is empty; fmValue writes Value with its
// type (nothing for an unknown type). The view flags stay selected. A 64-bit
// entry on a 32-bit system, an entry without root or key, and fmNone change
// nothing and give false.
bool FixRegEntry(const TfwRegEntry &entry);

// ---- recorder ---------------------------------------------------------------
//
// One process-wide recording at a time, used by the run thread only.

enum TfwBackupKind { bkNone = 0, bkFix = 1, bkBoost = 2 };

// Where the recorder hands the entries it records with toCleanReport set, and
// what EndBackup calls afterwards; installed by the engine's list of cleaned
// entries. Without it nothing is handed on.
using TfwCleanReportAdd = void (*)(HKEY root, const std::string &key, const std::string &name, bool is64);
using TfwCleanReportSave = void (*)();
void SetCleanReportHook(TfwCleanReportAdd add, TfwCleanReportSave save);

// CommonAppDataDir + "Tovu\Backup\" unless a test put another folder in
// place; empty when the common application-data folder is unknown.
std::string BackupDocumentsFolder();
// Empty puts the default back.
void SetBackupDocumentsFolder(const std::string &folder);

// Opens a recording when none is open and kind is not bkNone.
void BeginBackup(int kind, const std::wstring &caption);
bool IsBackupActive();
// Records the value (an empty name: the key's default value) in the view of
// is64: its current content, or a "del" entry when it is missing. Values of
// other types than str, exstr, bin, num and mulstr are not recorded.
void BackupValue(HKEY root, const std::string &key, const std::string &name, bool toCleanReport, bool is64);
// Records the key's default value, its values and its subkeys' content, or a
// "del" entry for the key when it is missing. Names and values are read
// through the wide API so that restoring recreates the tree byte for byte:
// values of every type and length, names in any script, and keys without
// values.
void BackupKey(HKEY root, const std::string &key, bool is64, bool toCleanReport);
// Copies a file a fix is about to delete (a startup shortcut) into the
// backups folder's "Files\" and records where it came from, as an element
// <file path="..." copy="..." /> that older readers pass over. False when no
// recording is open or the copy could not be made: the file must stay then.
bool BackupFile(const std::string &path);
// Writes the document when anything was recorded, closes the recording in
// every case and then asks the list of cleaned entries to save itself.
// Returns the document's path, empty when none was written.
std::string EndBackup();
// The same, telling "nothing was recorded" (true, path empty) from "the
// document could not be written" (false): the changes it was to undo must
// not be made then.
bool EndBackup(std::string &path);

// ---- documents and the rescue center ----------------------------------------

class TfwBackup {
public:
    // Reads kind and date when the file is a backup document; kind stays
    // bkNone otherwise.
    explicit TfwBackup(const std::string &fileName);
    TfwBackup(const TfwBackup &) = delete;
    TfwBackup &operator=(const TfwBackup &) = delete;

    std::string FileName;
    int Kind = bkNone;
    std::wstring Date;  // the date attribute as stored
    // When the document was written, as a day number: from the time stamp in
    // the file name, else from the date text in the user's format, else the
    // current time (so an unreadable date is never taken for the oldest).
    double Time = 0;
    std::vector<TfwRegEntry> Items;  // filled by Restore
};

class TfwBackups {
public:
    std::vector<std::unique_ptr<TfwBackup>> FixBackups, BoostBackups;

    // Lists the documents of the backups folder in the order the system
    // returns them; files that are not backup documents are left out.
    void Load();
    // Deletes the document and drops it from its list (also when the file
    // could not be deleted); the pointer is invalid afterwards.
    bool Remove(TfwBackup *backup);
    // Removes the oldest backups of the kind until at most keep are left.
    void Trim(int kind, size_t keep = 15);
    // The backups of a kind, newest first; equal times keep listing order.
    std::vector<TfwBackup *> NewestFirst(int kind) const;
};

// Puts every recorded entry of the document back (writes the recorded values,
// deletes what did not exist), in document order, going on past failures. The
// document is not changed. A recorded file comes back to where it was unless
// a file of that name is there again. Returns the number of entries and files
// applied. An elevated
// process neither lists nor restores a document that Administrators or SYSTEM
// do not own; the documents it writes only they may change.
int Restore(TfwBackup &backup);
