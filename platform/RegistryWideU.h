// Registry operations on wide names and raw bytes, for data that must come
// back exactly whatever the system code page: a key tree about to be deleted
// may hold names in any script and values of any type and length, and the
// narrow functions would turn what the code page cannot carry into "?".
//
// Like RegistryU: every call opens and closes its own keys, uses the calling
// thread's view (RegView64 / RegView32) and never throws.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// One value as stored, read through the wide API: for string types Data holds
// UTF-16 bytes exactly as stored (odd lengths and missing terminators kept).
struct TRegWideValue {
    std::wstring Name;
    DWORD Type = 0;
    std::string Data;
};

// The system code page's text for a wide text, and whether it carries every
// character (converting back gives the same wide text).
bool WideToAnsiExact(const std::wstring &text, std::string &ansi);
std::wstring AnsiToWideText(const std::string &text);

bool RegKeyExistsW(HKEY root, const std::wstring &key);
// Every value and every subkey name of the key, in the order the system
// returns them; false (both lists empty) when the key does not open.
bool RegReadKeyW(HKEY root, const std::wstring &key, std::vector<TRegWideValue> &values,
                 std::vector<std::wstring> &subKeys);
// Creates the key with its missing parents.
bool RegCreateKeyW(HKEY root, const std::wstring &key);
// Creates the key when needed and stores the bytes with the type as given.
bool RegWriteRawW(HKEY root, const std::wstring &key, const std::wstring &name, DWORD type,
                  const std::string &data);
// The key and everything below it, deepest first. Top-level keys (no
// backslash after dropping stray ones) are refused without touching anything.
// Stops at the first subkey it cannot delete. Leaves the registry's result as
// the thread's last error.
bool RegRemoveKeyTreeW(HKEY root, const std::wstring &key, bool withSubkeys);
bool RegRemoveValueW(HKEY root, const std::wstring &key, const std::wstring &name);
