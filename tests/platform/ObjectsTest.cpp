#include "platform/EventU.h"
#include "platform/MutexU.h"
#include "platform/ObjectSecurityU.h"
#include "platform/ProcessU.h"
#include "platform/RegistryU.h"
#include "platform/SystemPathsU.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <tlhelp32.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

// Second processes are this test program started again, running only
// ObjectsHelper.Child with a "--tovu-helper=<mode>:<name>" argument.
const char HelperFlag[] = "--tovu-helper=";

std::string OwnPath()
{
    char buf[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, buf, MAX_PATH);
    return buf;
}

std::string OwnFileName()
{
    std::string p = OwnPath();
    return p.substr(p.find_last_of('\\') + 1);
}

std::string UniqueName(const char *what)
{
    static int counter = 0;
    return std::string("TovuTestObjects.") + what + "." + std::to_string(GetCurrentProcessId()) + "." +
           std::to_string(++counter);
}

std::string HelperCommandLine(const std::string &mode, const std::string &name)
{
    return "\"" + OwnPath() + "\" --gtest_filter=ObjectsHelper.Child " + HelperFlag + mode + ":" + name;
}

std::wstring Wide(const std::string &s)
{
    std::wstring w(s.size(), L'\0');
    int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), &w[0], static_cast<int>(w.size()));
    w.resize(n > 0 ? n : 0);
    return w;
}

bool RunningOnWine()
{
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

// Wine starts its desktop shell only when a program first needs the desktop.
long DesktopShell()
{
    GetDesktopWindow();
    long shell = -1;
    for (int i = 0; i < 600 && (shell = FindProcessInSession("EXPLORER.EXE", -1)) == -1; ++i) Sleep(100);
    return shell;
}

// The other running copy of this program (a helper started by a test),
// ended at the latest when the test leaves.
class THelperProcess {
public:
    THelperProcess()
    {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot == INVALID_HANDLE_VALUE) return;
        PROCESSENTRY32 entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32First(snapshot, &entry); more && !process_; more = Process32Next(snapshot, &entry)) {
            if (entry.th32ProcessID == GetCurrentProcessId() || lstrcmpiA(entry.szExeFile, OwnFileName().c_str()) != 0)
                continue;
            process_ = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE,
                                   entry.th32ProcessID);
            if (process_) pid_ = entry.th32ProcessID;
        }
        CloseHandle(snapshot);
    }
    ~THelperProcess()
    {
        if (!process_) return;
        if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) TerminateProcess(process_, 99);
        CloseHandle(process_);
    }
    THelperProcess(const THelperProcess &) = delete;
    THelperProcess &operator=(const THelperProcess &) = delete;

    bool Found() const { return process_ != nullptr; }
    DWORD Pid() const { return pid_; }
    // The exit code, or -1 when it did not end in time.
    long WaitExit(DWORD timeout)
    {
        if (!process_ || WaitForSingleObject(process_, timeout) != WAIT_OBJECT_0) return -1;
        DWORD code = 0;
        GetExitCodeProcess(process_, &code);
        return static_cast<long>(code);
    }

private:
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
};

class TTokenSeam {
public:
    explicit TTokenSeam(TTokenAnswers answers) : answers_(answers) { SetTokenAnswersForTest(&answers_); }
    ~TTokenSeam() { SetTokenAnswersForTest(nullptr); }

private:
    TTokenAnswers answers_;
};

// Starting a process takes seconds when Wine runs under emulation, more on a
// loaded machine; well below the harness's limit for a silent program.
const DWORD ChildTimeout = 120000;

TEST(ObjectsHelper, Child)
{
    const std::string cmd = GetCommandLineA();
    size_t at = cmd.find(HelperFlag);
    if (at == std::string::npos) return;  // only a helper process has work here
    const std::string arg = cmd.substr(at + sizeof HelperFlag - 1);
    const size_t colon = arg.find(':');
    const std::string mode = arg.substr(0, colon), name = arg.substr(colon + 1);

    if (mode == "hold") {
        // Take the mutex, wake the parent through the event it created, and
        // end without releasing the mutex.
        TGlobalMutex m(name);
        if (!m.WaitFor(0)) ExitProcess(1);
        TGlobalEvent held(name + ".held"), quit(name + ".quit");
        if (!held.Existed() || !held.Signal()) ExitProcess(2);
        quit.WaitFor(ChildTimeout);
        ExitProcess(0);
    }
    ExitProcess(3);
}

// Processes start slowly under Wine, so one second process serves every
// cross-process case. It is started the way the main program starts the tray
// program when elevated: through the desktop shell's token (the elevated
// answer injected, as Wine reports every process as elevated anyway).
TEST(Objects, SecondProcessSharesEventAndMutex)
{
    const std::string name = UniqueName("shared");
    TGlobalEvent held(name + ".held"), quit(name + ".quit");
    ASSERT_NE(held.Handle(), nullptr);
    EXPECT_FALSE(held.Existed());
    EXPECT_EQ(held.Name(), "Global\\" + name + ".held");
    EXPECT_FALSE(held.WaitFor(0));

    ASSERT_NE(DesktopShell(), -1);
    {
        TTokenSeam seam({1, 0x3000});
        ASSERT_TRUE(RunAsDesktopUser(Wide(OwnPath()), Wide(HelperCommandLine("hold", name))));
    }
    ASSERT_TRUE(held.WaitFor(ChildTimeout));  // signalled by the child
    THelperProcess child;
    ASSERT_TRUE(child.Found());

    TGlobalMutex m(name);
    ASSERT_NE(m.Handle(), nullptr);
    EXPECT_TRUE(m.Existed());
    EXPECT_FALSE(m.WaitFor(0));
    EXPECT_FALSE(m.Owned());

    // The other process as the process functions see it.
    const std::string own = OwnPath();
    EXPECT_EQ(lstrcmpiA(ProcessImagePath(child.Pid()).c_str(), own.c_str()), 0) << ProcessImagePath(child.Pid());
    DWORD session = 0;
    ASSERT_TRUE(ProcessIdToSessionId(child.Pid(), &session));
    std::string upper = OwnFileName();
    CharUpperA(&upper[0]);
    const long found = FindProcessInSession(upper, static_cast<long>(session));
    EXPECT_TRUE(found == static_cast<long>(GetCurrentProcessId()) || found == static_cast<long>(child.Pid()))
        << found;

    quit.Signal();
    EXPECT_EQ(child.WaitExit(ChildTimeout), 0);
    EXPECT_TRUE(m.WaitFor(0));  // abandoned counts as acquired
    EXPECT_TRUE(m.Owned());
    EXPECT_TRUE(m.Release());
    EXPECT_FALSE(m.Owned());

    // Manual reset: it stays signalled until reset.
    EXPECT_TRUE(held.WaitFor(0));
    EXPECT_TRUE(held.Unsignal());
    EXPECT_FALSE(held.WaitFor(0));
}

// Nested acquisitions must all be given back by the destructor, or other
// threads and processes would be locked out until this thread ends.
TEST(Objects, MutexReleasesNestedAcquisitions)
{
    const std::string name = UniqueName("nested");
    TMutex keep(name);  // keeps the kernel object alive while m comes and goes
    {
        TMutex m(name);
        EXPECT_TRUE(m.Existed());
        EXPECT_FALSE(m.Release());
        ASSERT_TRUE(m.WaitFor(0));
        ASSERT_TRUE(m.WaitFor(0));
        EXPECT_TRUE(m.Release());
        EXPECT_TRUE(m.Owned());
    }  // goes with one acquisition still held
    std::atomic<int> other{-1};
    std::thread t([&] {
        TMutex m(name);
        other = m.WaitFor(0) ? 1 : 0;
    });
    t.join();
    EXPECT_EQ(other, 1);
}

// Number of entries, and whether one allows Everyone all of `full` (or
// GENERIC_ALL) with at least the inheritance flags given.
bool HasWorldEntry(PACL acl, ACCESS_MASK full, BYTE flags, int *count = nullptr, ACCESS_MASK *mask = nullptr)
{
    const int n = acl ? acl->AceCount : 0;
    if (count) *count = n;
    for (int i = 0; i < n; ++i) {
        ACE_HEADER *ace = nullptr;
        if (!GetAce(acl, i, reinterpret_cast<void **>(&ace)) || ace->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        auto *allowed = reinterpret_cast<ACCESS_ALLOWED_ACE *>(ace);
        if (!EqualSid(&allowed->SidStart, EveryoneSid())) continue;
        if (mask) *mask = allowed->Mask;
        if (((allowed->Mask & GENERIC_ALL) || (allowed->Mask & full) == full) && (ace->AceFlags & flags) == flags)
            return true;
    }
    return false;
}

TEST(Objects, NamedObjectsOpenToEveryone)
{
    struct Case {
        HANDLE handle;
        ACCESS_MASK access;
    };
    const std::string eventName = UniqueName("dacl"), mutexName = UniqueName("dacl");
    TEvent event(eventName);
    TMutex mutex(mutexName);
    for (const Case &c : {Case{event.Handle(), EVENT_ALL_ACCESS}, Case{mutex.Handle(), MUTEX_ALL_ACCESS}}) {
        ASSERT_NE(c.handle, nullptr);
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR sd = nullptr;
        ASSERT_EQ(GetSecurityInfo(c.handle, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                  nullptr, &sd),
                  ERROR_SUCCESS);
        ACCESS_MASK mask = 0;
        int count = 0;
        EXPECT_TRUE(HasWorldEntry(dacl, c.access, 0, &count, &mask));
        EXPECT_EQ(count, 1);
        EXPECT_EQ(mask, c.access);
        LocalFree(sd);
    }
    TEvent sameEvent(eventName);
    EXPECT_TRUE(sameEvent.Existed());
    EXPECT_TRUE(event.Signal());
    EXPECT_TRUE(sameEvent.WaitFor(0));

    // A name the system refuses gives an object without a handle that fails
    // every call instead of crashing.
    TEvent bad("TovuNoSuchNamespace\\x");
    EXPECT_EQ(bad.Handle(), nullptr);
    EXPECT_FALSE(bad.Signal());
    EXPECT_FALSE(bad.WaitFor(0));
    TMutex badMutex("TovuNoSuchNamespace\\x");
    EXPECT_FALSE(badMutex.WaitFor(0));
    EXPECT_FALSE(badMutex.Owned());
}

TEST(Objects, LowIntegrityLabel)
{
    if (OSVersionClass() <= OSClassServer2003) GTEST_SKIP() << "integrity labels exist from Vista on";
    TMutex m(UniqueName("label"));
    ASSERT_NE(m.Handle(), nullptr);
    EXPECT_TRUE(SetLowIntegrityLabel(m.Handle()));
    PACL sacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_EQ(GetSecurityInfo(m.Handle(), SE_KERNEL_OBJECT, LABEL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                              &sacl, &sd),
              ERROR_SUCCESS);
    int labels = 0;
    bool low = false;
    for (int i = 0; sacl && i < sacl->AceCount; ++i) {
        ACE_HEADER *ace = nullptr;
        if (!GetAce(sacl, i, reinterpret_cast<void **>(&ace)) || ace->AceType != SYSTEM_MANDATORY_LABEL_ACE_TYPE)
            continue;
        ++labels;
        auto *label = reinterpret_cast<SYSTEM_MANDATORY_LABEL_ACE *>(ace);
        PSID sid = &label->SidStart;
        low = *GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1) == SECURITY_MANDATORY_LOW_RID &&
              (label->Mask & SYSTEM_MANDATORY_LABEL_NO_WRITE_UP);
    }
    LocalFree(sd);
    // Wine accepts a label on a kernel object but does not keep it; there
    // only the call's success can be seen.
    if (labels == 0 && RunningOnWine()) return;
    EXPECT_EQ(labels, 1);
    EXPECT_TRUE(low);
}

class ObjectsRegistry : public testing::Test {
protected:
    const std::string Key = "Software\\TovuTest\\Objects";
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    void Clean()
    {
        RegDeleteTreeA(HKEY_CURRENT_USER, Key.c_str());
        if (Is64BitOS()) {
            HKEY k;
            if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &k) ==
                ERROR_SUCCESS) {
                RegDeleteTreeA(k, "TovuTest\\Objects");
                RegCloseKey(k);
            }
        }
    }
    static PACL KeyDacl(HKEY root, const std::string &key, REGSAM view, std::vector<BYTE> &sd)
    {
        HKEY k;
        if (RegOpenKeyExA(root, key.c_str(), 0, READ_CONTROL | view, &k) != ERROR_SUCCESS) return nullptr;
        DWORD size = 4096;
        sd.resize(size);
        LONG rc = RegGetKeySecurity(k, DACL_SECURITY_INFORMATION, sd.data(), &size);
        RegCloseKey(k);
        BOOL present = FALSE, defaulted = FALSE;
        PACL dacl = nullptr;
        if (rc != ERROR_SUCCESS || !GetSecurityDescriptorDacl(sd.data(), &present, &dacl, &defaulted)) return nullptr;
        return dacl;
    }
};

TEST_F(ObjectsRegistry, GrantEveryoneAddsInheritedEntry)
{
    const std::string granted = Key + "\\Granted";
    HKEY k;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, granted.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(k);
    std::vector<BYTE> before, after, child;
    int countBefore = 0, countAfter = 0;
    const BYTE inherit = CONTAINER_INHERIT_ACE | OBJECT_INHERIT_ACE;
    ASSERT_FALSE(HasWorldEntry(KeyDacl(HKEY_CURRENT_USER, granted, 0, before), KEY_ALL_ACCESS, inherit, &countBefore));

    EXPECT_TRUE(RegGrantEveryone(HKEY_CURRENT_USER, granted));
    EXPECT_TRUE(HasWorldEntry(KeyDacl(HKEY_CURRENT_USER, granted, 0, after), KEY_ALL_ACCESS, inherit, &countAfter));
    EXPECT_GT(countAfter, countBefore);  // added, nothing taken away
    EXPECT_FALSE(RegKeyOwner(HKEY_CURRENT_USER, granted).empty());

    EXPECT_FALSE(RegGrantEveryone(HKEY_CURRENT_USER, Key + "\\Missing"));
    EXPECT_EQ(RegKeyOwner(HKEY_CURRENT_USER, Key + "\\Missing"), "");
}

TEST_F(ObjectsRegistry, SecurityFollowsThreadView)
{
    if (!Is64BitOS()) GTEST_SKIP() << "one registry view on a 32-bit system";
    const std::string key = "Software\\TovuTest\\Objects\\View64";
    HKEY k;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                              nullptr, &k, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(k);
    EXPECT_FALSE(RegGrantEveryone(HKEY_LOCAL_MACHINE, key));
    EXPECT_EQ(RegKeyOwner(HKEY_LOCAL_MACHINE, key), "");
    TRegViewScope view(true, false);
    EXPECT_TRUE(RegGrantEveryone(HKEY_LOCAL_MACHINE, key));
    EXPECT_FALSE(RegKeyOwner(HKEY_LOCAL_MACHINE, key).empty());
}

TEST(Objects, GrantEveryoneOnFile)
{
    char temp[MAX_PATH + 1] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string path = std::string(temp) + UniqueName("file") + ".tmp";
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);

    EXPECT_TRUE(GrantEveryoneAccess(path, SE_FILE_OBJECT));
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                    nullptr, &sd),
              ERROR_SUCCESS);
    // Wine keeps no access lists on files: it maps them onto the Unix mode
    // bits, where the grant shows as write and delete for others.
    EXPECT_TRUE(HasWorldEntry(dacl, RunningOnWine() ? FILE_GENERIC_WRITE | DELETE : FILE_ALL_ACCESS, 0));
    LocalFree(sd);
    DeleteFileA(path.c_str());
    EXPECT_FALSE(GrantEveryoneAccess(path, SE_FILE_OBJECT));
}

TEST(Objects, EveryoneGrantDescriptor)
{
    // A list shielded from inheritance stays shielded once the entry is added.
    SECURITY_DESCRIPTOR sd;
    ACL empty;
    ASSERT_TRUE(InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(InitializeAcl(&empty, sizeof empty, ACL_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&sd, TRUE, &empty, FALSE));
    ASSERT_TRUE(SetSecurityDescriptorControl(&sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED));

    std::vector<BYTE> result;
    ASSERT_TRUE(BuildEveryoneGrant(&sd, result));
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(result.data(), &present, &dacl, &defaulted));
    int count = 0;
    EXPECT_TRUE(HasWorldEntry(dacl, GENERIC_ALL, CONTAINER_INHERIT_ACE | OBJECT_INHERIT_ACE, &count));
    EXPECT_EQ(count, 1);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(result.data(), &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    EXPECT_TRUE(control & SE_SELF_RELATIVE);

    EXPECT_FALSE(BuildEveryoneGrant(nullptr, result));
    EXPECT_TRUE(result.empty());
}

TEST(Process, ImagePathAndSessionLookup)
{
    const std::string own = OwnPath();
    EXPECT_EQ(lstrcmpiA(ProcessImagePath(GetCurrentProcessId()).c_str(), own.c_str()), 0)
        << ProcessImagePath(GetCurrentProcessId());
    EXPECT_EQ(ProcessImagePath(0x7FFFFFF0), "");

    DWORD session = 0;
    ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
    EXPECT_NE(FindProcessInSession(OwnFileName(), static_cast<long>(session)), -1);
    EXPECT_EQ(FindProcessInSession(OwnFileName(), static_cast<long>(session) + 1000), -1);
    EXPECT_EQ(FindProcessInSession("tovu-no-such-program.exe", -1), -1);
}

TEST(Process, DesktopShellInConsoleSession)
{
    const long shell = DesktopShell();
    ASSERT_NE(shell, -1);
    DWORD session = 0;
    ASSERT_TRUE(ProcessIdToSessionId(static_cast<DWORD>(shell), &session));
    EXPECT_EQ(session, ActiveConsoleSession());
}

TEST(Process, ElevationDecisions)
{
    struct Case {
        int os;
        int tokenElevation;
        bool elevated;
    };
    for (const Case &c : {Case{OSClassXP, 0, true}, Case{OSClassServer2003, -1, true}, Case{OSClassVista, 1, true},
                          Case{OSClassVista, 0, false}, Case{OSClassWin7, -1, false}})
        EXPECT_EQ(ElevatedFrom(c.os, c.tokenElevation), c.elevated) << c.os << " " << c.tokenElevation;

    struct Route {
        int os;
        DWORD integrity;
        TStartRoute route;
    };
    for (const Route &r : {Route{OSClassXP, 0, TStartRoute::Direct}, Route{OSClassXP, 0x3000, TStartRoute::Direct},
                           Route{OSClassWin7, 0x2000, TStartRoute::Direct},
                           Route{OSClassWin7, 0x2010, TStartRoute::DesktopToken},
                           Route{OSClassVista, 0x3000, TStartRoute::DesktopToken},
                           Route{OSClassWin7, 0, TStartRoute::Direct}})
        EXPECT_EQ(StartRouteFor(r.os, r.integrity), r.route) << r.os << " " << r.integrity;
}

// Wine answers every token as elevated and high: the decisions are tested
// with the answers injected.
TEST(Process, IsElevatedReadsToken)
{
    if (OSVersionClass() <= OSClassServer2003) {
        EXPECT_TRUE(IsElevated());
        GTEST_SKIP() << "no token elevation before Vista";
    }
    EXPECT_NE(IntegrityLevel(GetCurrentProcess()), 0u);
    EXPECT_EQ(IntegrityLevel(nullptr), 0u);
    {
        TTokenSeam seam({0, 0x2000});
        EXPECT_FALSE(IsElevated());
    }
    {
        TTokenSeam seam({-1, 0});
        EXPECT_FALSE(IsElevated());
    }
    TTokenSeam seam({1, 0x3000});
    EXPECT_TRUE(IsElevated());
}

// Starting for real is covered by Objects.SecondProcessSharesEventAndMutex.
TEST(Process, RunAsDesktopUserReportsFailure)
{
    ASSERT_NE(DesktopShell(), -1);
    for (const TTokenAnswers answers : {TTokenAnswers{1, 0x3000}, TTokenAnswers{0, 0x2000}}) {
        TTokenSeam seam(answers);
        EXPECT_FALSE(RunAsDesktopUser(L"C:\\tovu-no-such-folder\\none.exe", L"")) << answers.integrity;
    }
}

} // namespace

namespace {

struct TExpectedEntry {
    PSID Sid;
    ACCESS_MASK Mask;
};

// The owner is Administrators, the list is shielded from inheritance and holds
// exactly the expected allow entries in order, each with `inherit`.
void ExpectAdminWriteUserRead(PSECURITY_DESCRIPTOR sd, const std::vector<TExpectedEntry> &expected, BYTE inherit)
{
    PSID owner = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    ASSERT_TRUE(GetSecurityDescriptorOwner(sd, &owner, &defaulted));
    ASSERT_NE(owner, nullptr);
    EXPECT_TRUE(EqualSid(owner, AdministratorsSid()));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(sd, &control, &revision));
    // Wine drops the shield flag of a key's list; the exact entries below
    // still show that nothing else grants access.
    if (!RunningOnWine()) EXPECT_TRUE(control & SE_DACL_PROTECTED);
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted));
    ASSERT_TRUE(present && dacl);
    ASSERT_EQ(dacl->AceCount, expected.size());
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE *ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void **>(&ace)));
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE) << i;
        EXPECT_TRUE(EqualSid(&ace->SidStart, expected[i].Sid)) << i;
        EXPECT_EQ(ace->Mask, expected[i].Mask) << i;
        EXPECT_EQ(ace->Header.AceFlags & (CONTAINER_INHERIT_ACE | OBJECT_INHERIT_ACE), inherit) << i;
    }
}

} // namespace

TEST_F(ObjectsRegistry, AdminWriteUserReadKey)
{
    // A key that an older installation opened to everyone loses that entry.
    const std::string key = Key + "\\Machine";
    HKEY k;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(k);
    ASSERT_TRUE(RegGrantEveryone(HKEY_CURRENT_USER, key));

    EXPECT_TRUE(SetAdminWriteUserReadKey(HKEY_CURRENT_USER, key));
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, READ_CONTROL, &k), ERROR_SUCCESS);
    std::vector<BYTE> sd(4096);
    DWORD size = static_cast<DWORD>(sd.size());
    LONG rc = RegGetKeySecurity(k, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, sd.data(), &size);
    RegCloseKey(k);
    ASSERT_EQ(rc, ERROR_SUCCESS);
    ExpectAdminWriteUserRead(sd.data(),
                             {{AdministratorsSid(), KEY_ALL_ACCESS}, {LocalSystemSid(), KEY_ALL_ACCESS},
                              {UsersSid(), KEY_READ}},
                             CONTAINER_INHERIT_ACE | OBJECT_INHERIT_ACE);

    EXPECT_FALSE(SetAdminWriteUserReadKey(HKEY_CURRENT_USER, Key + "\\Missing"));
}

TEST_F(ObjectsRegistry, AdminWriteUserReadKeyTakesView)
{
    if (!Is64BitOS()) GTEST_SKIP() << "one registry view on a 32-bit system";
    const std::string key = "Software\\TovuTest\\Objects\\View64";
    HKEY k;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                              nullptr, &k, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(k);
    EXPECT_FALSE(SetAdminWriteUserReadKey(HKEY_LOCAL_MACHINE, key, 32));
    EXPECT_FALSE(SetAdminWriteUserReadKey(HKEY_LOCAL_MACHINE, key));
    EXPECT_TRUE(SetAdminWriteUserReadKey(HKEY_LOCAL_MACHINE, key, 64));
    {
        TRegViewScope view(true, false);
        EXPECT_TRUE(SetAdminWriteUserReadKey(HKEY_LOCAL_MACHINE, key));
    }
    EXPECT_FALSE(RegView64);
}

TEST(Objects, AdminWriteUserReadFile)
{
    char temp[MAX_PATH + 1] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + UniqueName("adminonly");
    const std::string file = folder + "\\settings.ini";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    struct Cleanup {
        std::string folder, file;
        ~Cleanup()
        {
            DeleteFileA(file.c_str());
            RemoveDirectoryA(folder.c_str());
        }
    } cleanup{folder, file};

    // From Vista on, what an account created is not trusted, even when the
    // account is an administrator: its unelevated programs could have. Before
    // Vista an administrator's own files are, where this test runs as one.
    BOOL admin = FALSE;
    CheckTokenMembership(nullptr, AdministratorsSid(), &admin);
    EXPECT_EQ(IsOwnedByAdministratorsOrSystem(file), OSVersionClass() <= OSClassServer2003 && admin);
    EXPECT_FALSE(IsOwnedByAdministratorsOrSystem(folder + "\\missing.ini"));
    EXPECT_FALSE(IsOwnedByAdministratorsOrSystem(""));
    EXPECT_FALSE(SetAdminWriteUserReadFile(folder + "\\missing.ini"));
    if (RunningOnWine())
        GTEST_SKIP() << "Wine maps file access lists onto Unix mode bits and keeps the Unix owner";

    const ACCESS_MASK read = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
    struct Case {
        std::string path;
        BYTE inherit;
    };
    for (const Case &c : {Case{folder, CONTAINER_INHERIT_ACE | OBJECT_INHERIT_ACE}, Case{file, 0}}) {
        SCOPED_TRACE(c.path);
        EXPECT_TRUE(SetAdminWriteUserReadFile(c.path));
        EXPECT_TRUE(IsOwnedByAdministratorsOrSystem(c.path));
        PSECURITY_DESCRIPTOR sd = nullptr;
        ASSERT_EQ(GetNamedSecurityInfoA(c.path.c_str(), SE_FILE_OBJECT,
                                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                        nullptr, nullptr, &sd),
                  ERROR_SUCCESS);
        ExpectAdminWriteUserRead(sd,
                                 {{AdministratorsSid(), FILE_ALL_ACCESS}, {LocalSystemSid(), FILE_ALL_ACCESS},
                                  {UsersSid(), read}},
                                 c.inherit);
        LocalFree(sd);
    }
}
