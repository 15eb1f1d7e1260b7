#include "config/fwTrust.h"

#include "platform/ObjectSecurityU.h"
#include "platform/ProcessU.h"

#include <windows.h>
#include <aclapi.h>

#include <vector>

namespace {

// The account this process runs as. A standard user can make only their own
// account the owner of a file, never another one; so a document owned by the
// elevated program's own account was written by that account. (Wine keeps
// the Unix owner on every file, which is this account.)
bool OwnedByThisAccount(const std::string &path)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    std::vector<BYTE> user(256);
    DWORD size = 0;
    bool ok = GetTokenInformation(token, TokenUser, user.data(), DWORD(user.size()), &size) != FALSE;
    if (!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER && size > user.size()) {
        user.resize(size);
        ok = GetTokenInformation(token, TokenUser, user.data(), DWORD(user.size()), &size) != FALSE;
    }
    CloseHandle(token);
    if (!ok) return false;
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    bool same = GetNamedSecurityInfoA(name.data(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                      nullptr, nullptr, &descriptor) == ERROR_SUCCESS &&
                owner && EqualSid(owner, reinterpret_cast<TOKEN_USER *>(user.data())->User.Sid);
    if (descriptor) LocalFree(descriptor);
    return same;
}

} // namespace

bool TrustedMachineFile(const std::string &path)
{
    try {
        if (!IsElevated()) return true;
        return IsOwnedByAdministratorsOrSystem(path) || OwnedByThisAccount(path);
    } catch (...) {
        return false;
    }
}

void ProtectMachineFile(const std::string &path)
{
    try {
        if (IsElevated()) SetAdminWriteUserReadFile(path);
    } catch (...) {
    }
}
