// Shared by the file and stream tests: a scratch folder under %TEMP% per test,
// and checks of what an access list lets Everyone do.
#pragma once

#include "platform/DirectoryU.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>

#include <string>
#include <vector>

namespace scratch {

// Whether the access list gives the world SID write and delete access (as
// full access does). Read access alone does not count: Wine reports it for
// every file under the profile.
inline bool EveryoneCanChange(const std::string &path)
{
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    if (GetNamedSecurityInfoA(name.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &sd) != ERROR_SUCCESS)
        return false;
    BYTE world[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof world;
    bool found = false;
    if (dacl && CreateWellKnownSid(WinWorldSid, nullptr, world, &size)) {
        for (DWORD i = 0; i < dacl->AceCount && !found; ++i) {
            ACCESS_ALLOWED_ACE *ace = nullptr;
            if (!GetAce(dacl, i, reinterpret_cast<void **>(&ace)) ||
                ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE ||
                (ace->Header.AceFlags & INHERIT_ONLY_ACE) || !EqualSid(&ace->SidStart, world))
                continue;
            const DWORD change = FILE_WRITE_DATA | DELETE;
            found = (ace->Mask & (GENERIC_ALL | GENERIC_WRITE)) || (ace->Mask & change) == change;
        }
    }
    LocalFree(sd);
    return found;
}

// Whether this system applies a descriptor given at creation. Wine keeps the
// inherited list instead, so a creation-time grant cannot be seen there.
inline bool CreationDescriptorsKept(const std::string &folder)
{
    BYTE world[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof world;
    if (!CreateWellKnownSid(WinWorldSid, nullptr, world, &size)) return false;
    BYTE aclBytes[256];
    PACL acl = reinterpret_cast<PACL>(aclBytes);
    SECURITY_DESCRIPTOR sd;
    if (!InitializeAcl(acl, sizeof aclBytes, ACL_REVISION) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, world) ||
        !InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE))
        return false;
    SECURITY_ATTRIBUTES sa = {sizeof sa, &sd, FALSE};
    const std::string probe = folder + "descriptor-probe";
    if (!CreateDirectoryA(probe.c_str(), &sa)) return false;
    bool kept = EveryoneCanChange(probe);
    RemoveDirectoryA(probe.c_str());
    return kept;
}

// A fresh folder under %TEMP% for each test, removed afterwards.
class Folder : public testing::Test {
protected:
    explicit Folder(const char *area) : area_(area) {}

    void SetUp() override
    {
        char temp[MAX_PATH];
        ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
        static int serial = 0;
        // Wine reuses process ids from run to run; the tick count tells runs apart.
        marker_ = std::string("TovuTest_") + area_ + "_" + std::to_string(GetCurrentProcessId()) +
                  "_" + std::to_string(++serial) + "_" + std::to_string(GetTickCount());
        dir_ = std::string(temp) + marker_ + "\\";
        ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr)) << dir_;
    }

    void TearDown() override
    {
        if (!marker_.empty() && dir_.find(marker_) != std::string::npos) DeleteFolder(dir_, true);
    }

    std::string Path(const std::string &name) const { return dir_ + name; }

    const char *area_;
    std::string marker_;  // the folder's own name, unique to this test
    std::string dir_;     // ends with a backslash
};

}  // namespace scratch
