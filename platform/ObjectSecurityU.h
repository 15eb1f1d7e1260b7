// Security descriptors that let every user and every integrity level share the
// system's files, registry keys and named kernel objects.
#pragma once

#include <windows.h>
#include <aclapi.h>

#include <string>
#include <vector>

// The world SID (S-1-1-0). Built once per process and never freed.
PSID EveryoneSid();
// The localized account name of the world SID, looked up once per process;
// "Everyone" when the lookup fails.
std::string EveryoneName();

// Security attributes for files and folders that every user must be able to
// replace: one access entry allowing Everyone FILE_ALL_ACCESS, handle not
// inheritable. Built once per process and kept, so the pointer stays valid
// until the process ends. nullptr when it could not be built (callers then
// pass nullptr and get default security).
SECURITY_ATTRIBUTES *EveryoneFileSecurity();

// Security attributes allowing Everyone one access mask (EVENT_ALL_ACCESS for
// events, MUTEX_ALL_ACCESS for mutexes), built for one creation and freed with
// the owner. Get() is nullptr when the descriptor could not be built.
class TEveryoneSecurity {
public:
    explicit TEveryoneSecurity(DWORD access);
    TEveryoneSecurity(const TEveryoneSecurity &) = delete;
    TEveryoneSecurity &operator=(const TEveryoneSecurity &) = delete;
    SECURITY_ATTRIBUTES *Get() { return ok_ ? &attributes_ : nullptr; }

private:
    bool ok_ = false;
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
    std::vector<BYTE> acl_;
};

// The Everyone grant: from a descriptor read off a file or key (only its
// discretionary access list is used), builds a new self-relative descriptor
// whose access list is the old one plus an entry granting Everyone GENERIC_ALL,
// inherited by subcontainers and objects. False (result cleared) on failure.
// Ready for SetFileSecurityA / RegSetKeySecurity with DACL_SECURITY_INFORMATION.
bool BuildEveryoneGrant(PSECURITY_DESCRIPTOR current, std::vector<BYTE> &result);

// Adds the Everyone grant to a named object's access list (GetNamedSecurityInfoA
// / SetNamedSecurityInfoA: SE_FILE_OBJECT takes a path, SE_REGISTRY_KEY a name
// such as "MACHINE\Software\x"). True when written; true without doing anything
// on Windows 9x/ME, which has no access lists.
bool GrantEveryoneAccess(const std::string &objectName, SE_OBJECT_TYPE type);

// Gives a kernel object that the caller has just created a low mandatory label
// (RID 0x1000, no-write-up), so that low-integrity processes can open it too.
// Only on Vista or later where advapi32 offers AddMandatoryAce; otherwise does
// nothing and returns true. The handle needs WRITE_OWNER access.
bool SetLowIntegrityLabel(HANDLE object);

// Registry keys. Both use the calling thread's registry view (RegistryU) and
// work on the NT family only (false / empty elsewhere).
// Adds the Everyone grant to the key's access list; true when written.
bool RegGrantEveryone(HKEY root, const std::string &key);
// Account name (no domain) of the key's owner; empty on any failure.
std::string RegKeyOwner(HKEY root, const std::string &key);
// The key's owner as its account name (no domain) and its security
// identifier as text ("S-1-5-..."), from one query. The name is empty when the
// system cannot name the account, both are empty on any other failure.
struct TKeyOwner {
    std::string Account, Sid;
};
TKeyOwner RegKeyOwnerOf(HKEY root, const std::string &key);

// Machine-wide places an elevated program trusts (its program folder, the
// machine-wide settings key, the backups, translation, update and startup
// folders): only Administrators and SYSTEM may change them, Users may read.
// The access list replaces the old one and is shielded from inheritance, so
// that a parent folder granting users write access (the all-users data
// folder does) does not leak into it; the owner becomes Administrators where
// the caller may set it. Entries are inherited by subfolders, files and
// subkeys. True when the list was written and the owner is Administrators or
// SYSTEM afterwards; true without doing anything where Windows keeps no
// access lists.
bool SetAdminWriteUserReadFile(const std::string &path);
// The same for a registry key. view: 0 the calling thread's view (RegistryU),
// 32 or 64 that view of a 64-bit system (ignored on a 32-bit one).
bool SetAdminWriteUserReadKey(HKEY root, const std::string &key, int view = 0);
// Whether the owner of a file or folder is the Administrators group or
// SYSTEM, so that no standard user can have rewritten its access list. Before
// Vista, where an administrator's files belong to the account itself, also
// the account of this process when it is a member of Administrators. False
// when the owner cannot be read; true where Windows keeps no access lists.
// Wine reports the Unix user as the owner of every file.
bool IsOwnedByAdministratorsOrSystem(const std::string &path);
// The two trusted owners and the readers, built once per process.
PSID AdministratorsSid();
PSID LocalSystemSid();
PSID UsersSid();
