// Flat registry operations: every call names its key by root and path and
// opens, uses and closes the key itself. Narrow text is in the system code
// page. No call throws.
//
// View: on a 64-bit system every open, create and delete of the calling thread
// uses the 64-bit view when RegView64 is set, else the 32-bit view when
// RegView32 is set, else this program's default (32-bit) view. On a 32-bit
// system both flags are ignored.
//
// Last error: every writer and deleter leaves the result code of its registry
// call as the thread's last error (ERROR_INVALID_PARAMETER when it refused its
// arguments without calling the registry).
#pragma once

#include "platform/HandlesU.h"

#include <windows.h>

#include <string>
#include <vector>

// Per-thread view selection; false on a new thread.
extern thread_local bool RegView64;
extern thread_local bool RegView32;

// Sets both flags for a scope and puts back the previous ones on the way out.
class TRegViewScope {
public:
    TRegViewScope(bool view64, bool view32) : FOld64(RegView64), FOld32(RegView32)
    {
        RegView64 = view64;
        RegView32 = view32;
    }
    ~TRegViewScope()
    {
        RegView64 = FOld64;
        RegView32 = FOld32;
    }
    // The view of an item: its own on a 64-bit system, none chosen on a
    // 32-bit one (where the flags mean nothing).
    static TRegViewScope ForItem(bool is64, bool is64BitSystem)
    {
        return is64BitSystem ? TRegViewScope(is64, !is64) : TRegViewScope(RegView64, RegView32);
    }
    TRegViewScope(const TRegViewScope &) = delete;
    TRegViewScope &operator=(const TRegViewScope &) = delete;

private:
    bool FOld64, FOld32;
};

// KEY_WOW64_64KEY, KEY_WOW64_32KEY or 0, from the calling thread's flags.
// Add it to the access of every RegOpenKeyEx/RegCreateKeyEx of the thread.
REGSAM RegViewFlag();

// TRegKey, the owner of an open key, is in HandlesU.h with the other owners.

// Names and paths.
// "HKCR", "HKCU", "HKLM", "HKU"; "HKUNKNOWN" for any other root.
std::string RegRootName(HKEY root);
// The root for one of the four names (case ignored); nullptr otherwise.
HKEY RegRootFromName(const std::string &name);
std::string RegFullKeyName(HKEY root, const std::string &key);
// Splits "HKLM\Software\x" at the first backslash; false (root nullptr, key
// empty) when the part before it is not a root name or there is no backslash.
bool RegSplitKeyName(const std::string &fullName, HKEY &root, std::string &key);

// Existence and type.
bool RegKeyExists(HKEY root, const std::string &key);
bool RegValueExists(HKEY root, const std::string &key, const std::string &name);
// type is 0 after a failure.
bool RegValueType(HKEY root, const std::string &key, const std::string &name, DWORD &type);

// Readers: each accepts only its own value type(s). After a failure (no key,
// no value, other type) the out-parameter is empty or zero. An empty name
// addresses the key's default value.

// REG_SZ, without its terminating NUL (a stored value that lacks one loses
// nothing).
bool RegReadStr(HKEY root, const std::string &key, const std::string &name, std::string &value);
// REG_EXPAND_SZ, not expanded, without its terminating NUL.
bool RegReadExpandStr(HKEY root, const std::string &key, const std::string &name, std::string &value);
// REG_MULTI_SZ: the strings separated by single NULs, without the final two.
bool RegReadMultiStr(HKEY root, const std::string &key, const std::string &name, std::string &value);
// REG_SZ, REG_EXPAND_SZ, REG_BINARY and REG_MULTI_SZ as text: the stored bytes
// without their terminator (one trailing NUL; two for REG_MULTI_SZ). Only NUL
// bytes are dropped, so a value stored without a terminator keeps every byte.
// type is the stored type (0 after a failure).
bool RegReadAnyStr(HKEY root, const std::string &key, const std::string &name, DWORD &type,
                   std::string &value);
// REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ through the wide API, without one
// terminating wide NUL.
bool RegReadStrW(HKEY root, const std::string &key, const std::string &name, std::wstring &value);
// REG_DWORD of at least 4 bytes.
bool RegReadDWORD(HKEY root, const std::string &key, const std::string &name, DWORD &value);
// REG_DWORD equal to 1; false for anything else, failures included.
bool RegReadBool(HKEY root, const std::string &key, const std::string &name);
// The first 8 bytes of a REG_BINARY as a double; fails when there are fewer.
bool RegReadDouble(HKEY root, const std::string &key, const std::string &name, double &value);
// REG_BINARY as upper-case hexadecimal, two digits per byte.
bool RegReadBinaryHex(HKEY root, const std::string &key, const std::string &name, std::string &hex);

// Writers: create the key with its missing parents, set the value, close.
// REG_SZ, REG_EXPAND_SZ, REG_BINARY: text + NUL; REG_MULTI_SZ: text (strings
// separated by NULs) + two NULs. Any other type fails without touching the
// registry.
bool RegWriteStrTyped(HKEY root, const std::string &key, const std::string &name, DWORD type,
                      const std::string &text);
bool RegWriteStr(HKEY root, const std::string &key, const std::string &name, const std::string &text);
bool RegWriteExpandStr(HKEY root, const std::string &key, const std::string &name, const std::string &text);
bool RegWriteDWORD(HKEY root, const std::string &key, const std::string &name, DWORD value);
// REG_BINARY holding the 8 bytes of the double.
bool RegWriteDouble(HKEY root, const std::string &key, const std::string &name, double value);
// REG_BINARY from hexadecimal text (either case). Odd length or a non-hex
// digit fails without touching the registry.
bool RegWriteBinaryHex(HKEY root, const std::string &key, const std::string &name, const std::string &hex);

// Deleting. Key paths are taken without leading, trailing or doubled
// backslashes (those are dropped first), so "Software\" counts as top-level.
bool RegRemoveValue(HKEY root, const std::string &key, const std::string &name);
// One key without subkeys; a top-level key (no backslash) fails.
bool RegRemoveKey(HKEY root, const std::string &key);
// The key, and with withSubkeys everything below it first (deepest first).
// Refuses top-level keys without touching anything. Stops at the first subkey
// it cannot delete, leaving the rest in place.
bool RegRemoveKeyTree(HKEY root, const std::string &key, bool withSubkeys);

// Enumerating: true when the key opens for reading; the names in the order the
// system returns them, joined with CR LF (no trailing CR LF).
bool RegEnumValueNames(HKEY root, const std::string &key, std::string &names);
bool RegEnumSubKeyNames(HKEY root, const std::string &key, std::string &names);
bool RegEnumValueNames(HKEY root, const std::string &key, std::vector<std::string> &names);
bool RegEnumSubKeyNames(HKEY root, const std::string &key, std::vector<std::string> &names);

// One value as stored: its name, type and bytes (terminators included).
struct TRegValueData {
    std::string Name;
    DWORD Type = 0;
    std::string Data;
    // The text as RegReadStr and RegReadExpandStr give it: without one
    // terminating NUL.
    std::string Text() const;
};

// What a walk of a tree needs from a key the caller has open for reading:
// every value with its type and bytes, and every subkey name, in the order the
// system returns them (each list is emptied first). A walk that reads its
// values one at a time opens the key once per value, and the opens are what a
// registry walk spends its time on.
void RegReadValues(HKEY openKey, std::vector<TRegValueData> &values);
void RegReadSubKeyNames(HKEY openKey, std::vector<std::string> &subKeys);

// The kernel's name of an open key, e.g. "\REGISTRY\MACHINE\SOFTWARE\...";
// shows which view a key really lives in. Empty on failure.
std::string RegKeyKernelPath(HKEY openKey);
// The same for a key opened for reading in the calling thread's view.
std::string RegKeyKernelPath(HKEY root, const std::string &key);
