#include "platform/ObjectSecurityU.h"

#include "platform/RegistryU.h"
#include "platform/SystemPathsU.h"

#include <sddl.h>

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

} // namespace

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
