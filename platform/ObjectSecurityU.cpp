#include "platform/ObjectSecurityU.h"
#include "platform/HandlesU.h"

#include "platform/RegistryU.h"
#include "platform/SystemPathsU.h"

#include <sddl.h>

#include <initializer_list>

namespace {

// Access entries are built from the world SID itself rather than from its
// account name: the SID is the same on every language of Windows, while a
// name lookup that fails would leave "Everyone", which a localized system does
// not know.

struct TLocalFree {
    HLOCAL p = nullptr;
    ~TLocalFree() { if (p) LocalFree(p); }
};

bool HasAccessLists()
{
    return OSVersionClass() > OSClassWinMe;
}

// The Everyone grant entry added to an existing list; nullptr on failure.
// The result belongs to the caller (LocalFree).
PACL AddEveryoneEntry(PACL old)
{
    EXPLICIT_ACCESS_A ea{};
    ea.grfAccessPermissions = GENERIC_ALL;
    ea.grfAccessMode = GRANT_ACCESS;
    ea.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    BuildTrusteeWithSidA(&ea.Trustee, EveryoneSid());
    PACL result = nullptr;
    if (SetEntriesInAclA(1, &ea, old, &result) != ERROR_SUCCESS) return nullptr;
    return result;
}

using AddMandatoryAceFn = BOOL(WINAPI *)(PACL, DWORD, DWORD, DWORD, PSID);

// Missing before Vista: looked up once.
AddMandatoryAceFn AddMandatoryAcePtr()
{
    static const AddMandatoryAceFn fn = reinterpret_cast<AddMandatoryAceFn>(
        GetProcAddress(GetModuleHandleA("advapi32.dll"), "AddMandatoryAce"));
    return fn;
}

// A SID of the NT authority, built into static storage by the caller.
PSID BuildNtSid(BYTE *storage, std::initializer_list<DWORD> rids)
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    InitializeSid(storage, &nt, static_cast<BYTE>(rids.size()));
    DWORD i = 0;
    for (DWORD rid : rids) *GetSidSubAuthority(storage, i++) = rid;
    return static_cast<PSID>(storage);
}

// Before Vista there is no elevation: what an administrator creates is owned
// by the account itself (the default owner there), and every process of that
// account has full rights anyway. So when this process runs as a member of
// Administrators, its own account counts too. From Vista on the account's
// unelevated processes share its SID, so only the group and SYSTEM count.
bool IsOwnAdministratorAccount(PSID owner)
{
    if (OSVersionClass() > OSClassServer2003) return false;
    static BYTE storage[SECURITY_MAX_SID_SIZE];
    static const bool admin = [] {
        TOwnedHandle token;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return false;
        BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
        DWORD size = 0;
        bool ok = GetTokenInformation(token.Get(), TokenUser, buffer, sizeof buffer, &size) &&
                  CopySid(sizeof storage, storage, reinterpret_cast<TOKEN_USER *>(buffer)->User.Sid);
        token.Close();
        BOOL member = FALSE;
        return ok && CheckTokenMembership(nullptr, AdministratorsSid(), &member) && member;
    }();
    return admin && EqualSid(owner, storage);
}

bool IsTrustedOwner(PSID owner)
{
    return owner && IsValidSid(owner) &&
           (EqualSid(owner, AdministratorsSid()) || EqualSid(owner, LocalSystemSid()) ||
            IsOwnAdministratorAccount(owner));
}

// Administrators and SYSTEM all of `full`, Users `read`; each entry carries
// `inherit`. The list lives in `storage`.
PACL BuildAdminWriteUserReadAcl(std::vector<BYTE> &storage, ACCESS_MASK full, ACCESS_MASK read, BYTE inherit)
{
    const PSID sids[] = {AdministratorsSid(), LocalSystemSid(), UsersSid()};
    DWORD size = sizeof(ACL);
    for (PSID sid : sids) size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(sid);
    storage.assign(size, 0);
    PACL acl = reinterpret_cast<PACL>(storage.data());
    if (!InitializeAcl(acl, size, ACL_REVISION) ||
        !AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, full, sids[0]) ||
        !AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, full, sids[1]) ||
        !AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, read, sids[2]))
        return nullptr;
    return acl;
}

} // namespace

PSID AdministratorsSid()
{
    static BYTE storage[SECURITY_MAX_SID_SIZE];
    static const PSID sid = BuildNtSid(storage, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS});
    return sid;
}

PSID LocalSystemSid()
{
    static BYTE storage[SECURITY_MAX_SID_SIZE];
    static const PSID sid = BuildNtSid(storage, {SECURITY_LOCAL_SYSTEM_RID});
    return sid;
}

PSID UsersSid()
{
    static BYTE storage[SECURITY_MAX_SID_SIZE];
    static const PSID sid = BuildNtSid(storage, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS});
    return sid;
}

PSID EveryoneSid()
{
    static BYTE storage[SECURITY_MAX_SID_SIZE];
    static const PSID sid = [] {
        SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
        InitializeSid(storage, &world, 1);
        *GetSidSubAuthority(storage, 0) = SECURITY_WORLD_RID;
        return static_cast<PSID>(storage);
    }();
    return sid;
}

std::string EveryoneName()
{
    static const std::string name = [] {
        char account[256], domain[256];
        DWORD accountLen = sizeof account, domainLen = sizeof domain;
        SID_NAME_USE use;
        if (LookupAccountSidA(nullptr, EveryoneSid(), account, &accountLen, domain, &domainLen, &use) &&
            account[0])
            return std::string(account);
        return std::string("Everyone");
    }();
    return name;
}

TEveryoneSecurity::TEveryoneSecurity(DWORD access)
{
    PSID sid = EveryoneSid();
    acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(sid));
    PACL acl = reinterpret_cast<PACL>(acl_.data());
    ok_ = InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) &&
          AddAccessAllowedAce(acl, ACL_REVISION, access, sid) &&
          InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
          SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE);
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = FALSE;
}

SECURITY_ATTRIBUTES *EveryoneFileSecurity()
{
    static TEveryoneSecurity security(FILE_ALL_ACCESS);
    return security.Get();
}

bool BuildEveryoneGrant(PSECURITY_DESCRIPTOR current, std::vector<BYTE> &result)
{
    result.clear();
    if (!current) return false;
    BOOL present = FALSE, defaulted = FALSE;
    PACL old = nullptr;
    if (!GetSecurityDescriptorDacl(current, &present, &old, &defaulted)) return false;
    if (!present) old = nullptr;

    TLocalFree acl;
    acl.p = AddEveryoneEntry(old);
    if (!acl.p) return false;

    SECURITY_DESCRIPTOR absolute;
    if (!InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&absolute, TRUE, static_cast<PACL>(acl.p), FALSE))
        return false;
    // Keep whether the list was shielded from inheritance: the grant must not
    // change that.
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (GetSecurityDescriptorControl(current, &control, &revision)) {
        const SECURITY_DESCRIPTOR_CONTROL keep = SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED;
        SetSecurityDescriptorControl(&absolute, keep, control & keep);
    }

    DWORD size = 0;
    MakeSelfRelativeSD(&absolute, nullptr, &size);
    if (size == 0) return false;
    result.resize(size);
    if (!MakeSelfRelativeSD(&absolute, result.data(), &size)) {
        result.clear();
        return false;
    }
    return true;
}

bool GrantEveryoneAccess(const std::string &objectName, SE_OBJECT_TYPE type)
{
    if (!HasAccessLists()) return true;
    if (objectName.empty()) return false;
    std::vector<char> name(objectName.begin(), objectName.end());
    name.push_back('\0');

    PACL old = nullptr;
    TLocalFree descriptor;
    if (GetNamedSecurityInfoA(name.data(), type, DACL_SECURITY_INFORMATION, nullptr, nullptr, &old,
                              nullptr, &descriptor.p) != ERROR_SUCCESS)
        return false;
    TLocalFree acl;
    acl.p = AddEveryoneEntry(old);
    if (!acl.p) return false;
    return SetNamedSecurityInfoA(name.data(), type, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                 static_cast<PACL>(acl.p), nullptr) == ERROR_SUCCESS;
}

bool SetLowIntegrityLabel(HANDLE object)
{
    if (OSVersionClass() <= OSClassServer2003) return true;
    AddMandatoryAceFn addMandatoryAce = AddMandatoryAcePtr();
    if (!addMandatoryAce) return true;
    if (!object) return false;

    BYTE sidStorage[SECURITY_MAX_SID_SIZE];
    SID_IDENTIFIER_AUTHORITY label = SECURITY_MANDATORY_LABEL_AUTHORITY;
    PSID low = sidStorage;
    if (!InitializeSid(low, &label, 1)) return false;
    *GetSidSubAuthority(low, 0) = SECURITY_MANDATORY_LOW_RID;

    std::vector<BYTE> aclStorage(sizeof(ACL) + sizeof(SYSTEM_MANDATORY_LABEL_ACE) - sizeof(DWORD) +
                                 GetLengthSid(low));
    PACL sacl = reinterpret_cast<PACL>(aclStorage.data());
    if (!InitializeAcl(sacl, static_cast<DWORD>(aclStorage.size()), ACL_REVISION) ||
        !addMandatoryAce(sacl, ACL_REVISION, 0, SYSTEM_MANDATORY_LABEL_NO_WRITE_UP, low))
        return false;
    // Set through the handle rather than the name: it reaches exactly the
    // object just created, whatever namespace prefix its name carries.
    return SetSecurityInfo(object, SE_KERNEL_OBJECT, LABEL_SECURITY_INFORMATION, nullptr, nullptr,
                           nullptr, sacl) == ERROR_SUCCESS;
}

bool RegGrantEveryone(HKEY root, const std::string &key)
{
    if (!HasAccessLists()) return false;
    TRegKey k;
    if (k.Open(root, key, MAXIMUM_ALLOWED) != ERROR_SUCCESS) return false;

    std::vector<BYTE> current(512);
    for (;;) {
        DWORD size = static_cast<DWORD>(current.size());
        LONG rc = RegGetKeySecurity(k.Get(), DACL_SECURITY_INFORMATION, current.data(), &size);
        if (rc == ERROR_SUCCESS) break;
        if (rc != ERROR_INSUFFICIENT_BUFFER || size <= current.size()) return false;
        current.resize(size);
    }
    std::vector<BYTE> updated;
    if (!BuildEveryoneGrant(current.data(), updated)) return false;
    return RegSetKeySecurity(k.Get(), DACL_SECURITY_INFORMATION, updated.data()) == ERROR_SUCCESS;
}

TKeyOwner RegKeyOwnerOf(HKEY root, const std::string &key)
{
    TKeyOwner out;
    if (!HasAccessLists()) return out;
    TRegKey k;
    if (k.Open(root, key, READ_CONTROL) != ERROR_SUCCESS) return out;
    PSID owner = nullptr;
    TLocalFree descriptor;
    if (GetSecurityInfo(k.Get(), SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor.p) != ERROR_SUCCESS ||
        !owner)
        return out;
    char *sid = nullptr;
    if (ConvertSidToStringSidA(owner, &sid)) {
        TLocalFree text;
        text.p = sid;
        out.Sid = sid;
    }
    char account[256], domain[256];
    DWORD accountLen = sizeof account, domainLen = sizeof domain;
    SID_NAME_USE use;
    if (LookupAccountSidA(nullptr, owner, account, &accountLen, domain, &domainLen, &use)) out.Account = account;
    return out;
}

std::string RegKeyOwner(HKEY root, const std::string &key)
{
    return RegKeyOwnerOf(root, key).Account;
}

bool SetAdminWriteUserReadFile(const std::string &path)
{
    if (!HasAccessLists()) return true;
    const DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    const bool folder = attributes & FILE_ATTRIBUTE_DIRECTORY;
    std::vector<BYTE> storage;
    PACL acl = BuildAdminWriteUserReadAcl(storage, FILE_ALL_ACCESS, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE,
                                          folder ? CONTAINER_INHERIT_ACE | OBJECT_INHERIT_ACE : 0);
    if (!acl) return false;
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    const SECURITY_INFORMATION dacl = DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
    // The owner first: a standard user who owned the object could otherwise
    // write any list back. Setting it needs an administrator's token; where
    // that is refused the list is still written and the owner judged below.
    SetNamedSecurityInfoA(name.data(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, AdministratorsSid(), nullptr,
                          nullptr, nullptr);
    if (SetNamedSecurityInfoA(name.data(), SE_FILE_OBJECT, dacl, nullptr, nullptr, acl, nullptr) != ERROR_SUCCESS)
        return false;
    return IsOwnedByAdministratorsOrSystem(path);
}

bool SetAdminWriteUserReadKey(HKEY root, const std::string &key, int view)
{
    if (!HasAccessLists()) return true;
    TRegViewScope scope(view == 64 || (view == 0 && RegView64), view == 32 || (view == 0 && RegView32));
    TRegKey k;
    if (k.Open(root, key, READ_CONTROL | WRITE_DAC | WRITE_OWNER) != ERROR_SUCCESS &&
        k.Open(root, key, READ_CONTROL | WRITE_DAC) != ERROR_SUCCESS)
        return false;
    std::vector<BYTE> storage;
    PACL acl = BuildAdminWriteUserReadAcl(storage, KEY_ALL_ACCESS, KEY_READ,
                                          CONTAINER_INHERIT_ACE | OBJECT_INHERIT_ACE);
    if (!acl) return false;
    SetSecurityInfo(k.Get(), SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, AdministratorsSid(), nullptr, nullptr,
                    nullptr);
    if (SetSecurityInfo(k.Get(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                        nullptr, nullptr, acl, nullptr) != ERROR_SUCCESS)
        return false;
    PSID owner = nullptr;
    TLocalFree descriptor;
    return GetSecurityInfo(k.Get(), SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                           &descriptor.p) == ERROR_SUCCESS &&
           IsTrustedOwner(owner);
}

bool IsOwnedByAdministratorsOrSystem(const std::string &path)
{
    if (!HasAccessLists()) return true;
    if (path.empty()) return false;
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    PSID owner = nullptr;
    TLocalFree descriptor;
    return GetNamedSecurityInfoA(name.data(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                 nullptr, &descriptor.p) == ERROR_SUCCESS &&
           IsTrustedOwner(owner);
}
