// Scanners of registrations that point at files that are gone: COM classes,
// interfaces and type libraries under the classes root, and what programs
// leave behind (uninstall entries, shared DLL counters, MUI cache entries, Run
// values and startup shortcuts, application paths). Each adds its findings to
// List as found and selected items; the run's default fix deletes them.
//
// Registry views: a key that both views reach as the same physical key (the
// system shares some keys between the 32-bit and the 64-bit view) is judged
// once, in the 32-bit pass, and counts as broken only when its file is found
// in neither view; its 64-bit pass adds nothing. Keys with a copy per view are
// judged per view, so one registration may be reported twice, differing in
// Is64, each deleted in its own view.
//
// Names are used exactly as enumerated for the entries the items address
// (trimming only decides whether a name is blank), so a fix never reaches an
// entry other than the one that was tested.
#pragma once

#include "engine/fwClasses.h"

#include <windows.h>

#include <string>

// One registration key per subkey of a classes-root key ("CLSID",
// "Interface", "TypeLib"), in the 32-bit view and, on a 64-bit system, in the
// 64-bit view. Keys owned by the installer service (Vista and later) are
// skipped. A finding is the key with its content as detail lines. The scan
// leaves the thread's view as it found it.
class TfwItemsClassesKeys : public TfwItems {
public:
    using TfwItems::TfwItems;

    bool Pass64 = false;  // the running (or last) pass is the 64-bit one

    void Scan() override;

protected:
    virtual const char *RootKey() const = 0;
    // The reason of a finding for the key "RootKey\name" (for the trace),
    // empty when sound; why receives the evidence for the user. mode is the
    // view mode for the file probes of this pass.
    virtual std::string Test(const std::string &key, int mode, std::string &why) = 0;

private:
    void Pass(int mode, bool judgedAlready);
};

// Classes none of whose server files (InprocServer32, LocalServer32, ...) is
// found; a class without any server value is sound.
class TfwItemsCLSID : public TfwItemsClassesKeys {
public:
    using TfwItemsClassesKeys::TfwItemsClassesKeys;

protected:
    const char *RootKey() const override { return "CLSID"; }
    std::string Test(const std::string &key, int mode, std::string &why) override;
};

// Interfaces whose TypeLib subkey names a type library that is not registered
// (or names none).
class TfwItemsInterfaces : public TfwItemsClassesKeys {
public:
    using TfwItemsClassesKeys::TfwItemsClassesKeys;

protected:
    const char *RootKey() const override { return "Interface"; }
    std::string Test(const std::string &key, int mode, std::string &why) override;
};

// Type libraries none of whose win32 (or, on a 64-bit system, win64) files is
// found. A trailing "\<number>" names a resource inside the file.
class TfwItemsTypelib : public TfwItemsClassesKeys {
public:
    using TfwItemsClassesKeys::TfwItemsClassesKeys;

protected:
    const char *RootKey() const override { return "TypeLib"; }
    std::string Test(const std::string &key, int mode, std::string &why) override;
};

// Uninstall entries whose UninstallString names a missing program; the entry's
// key with its content as detail lines.
class TfwItemsUninstall : public TfwItems {
public:
    using TfwItems::TfwItems;
    void Scan() override;
};

// SharedDLLs counters (value name = file path) of missing files.
class TfwItemsSharedDll : public TfwItems {
public:
    using TfwItems::TfwItems;
    void Scan() override;
};

// Shell MUI cache entries of missing files, in the default registry view: the
// HKCR "Local Settings" cache on Vista and later (plus the Windows 7 cache key
// when one is found), the HKCU ShellNoRoam cache before.
class TfwItemsMUICache : public TfwItems {
public:
    using TfwItems::TfwItems;
    void Scan() override;
};

// The file a MUI cache value name stands for: the name itself, the file of an
// "@file,-id" or "@\"file\"..." resource name, or folder + "\" + file for a
// "folder,@file,..." name; empty when the name names no file.
std::string MUICacheFile(const std::string &name);

// The Windows 7 MUI cache key below HKCR "Local Settings\MuiCache" (the first
// "A\B" holding a value whose name begins with "@"), empty when there is none.
std::string FindW7MUICacheKey();

// Run values of HKCU and HKLM in both views naming missing programs, then
// shortcuts in the user's and the common startup folder whose targets are
// missing (TfwFileItem, deleted without backup). Reading shortcuts needs COM
// on the calling thread.
class TfwItemsInvalidStartup : public TfwItems {
public:
    using TfwItems::TfwItems;
    void Scan() override;

private:
    void ScanShortcuts();
};

// App Paths subkeys whose default value names a missing program.
class TfwItemsAppPaths : public TfwItems {
public:
    using TfwItems::TfwItems;
    void Scan() override;
};

// True on a 64-bit system when the key reaches the same physical key in the
// 32-bit and the 64-bit registry view.
bool RegKeySharedBetweenViews(HKEY root, const std::string &key);
