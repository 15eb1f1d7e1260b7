// The usage counters in a scratch key of HKLM, the install report's token and
// its thread.
#include "online/OnlineTestKit.h"

#include "config/fwSettings.h"
#include "online/fwTrack.h"
#include "platform/CryptU.h"
#include "platform/HashU.h"
#include "platform/RegistryU.h"

#include <gtest/gtest.h>

#include <map>
#include <thread>

namespace {

const char ScratchKey[] = "Software\\TovuTest\\Track";
const int ChildCounts = 150;

std::string Store()
{
    TRegViewScope view(false, true);
    std::string text;
    RegReadStr(HKEY_LOCAL_MACHINE, ScratchKey, "TRACK", text);
    return text;
}

void SetStore(const std::string &text)
{
    TRegViewScope view(false, true);
    RegWriteStr(HKEY_LOCAL_MACHINE, ScratchKey, "TRACK", text);
}

class Track : public testing::Test {
protected:
    void SetUp() override
    {
        TRegViewScope view(false, true);
        RegRemoveKeyTree(HKEY_LOCAL_MACHINE, ScratchKey, true);
    }
    void TearDown() override
    {
        TRegViewScope view(false, true);
        RegRemoveKeyTree(HKEY_LOCAL_MACHINE, ScratchKey, true);
    }
};

} // namespace

TEST_F(Track, CountsPagesEventsAndAmountsInTheStoreFormat)
{
    TUserTrack t(HKEY_LOCAL_MACHINE, ScratchKey, "TRACK");
    t.CountPage("P");
    t.CountEvent("P", "P", true);
    t.CountEvent("P", "P", true);  // pausing twice on one visit counts once
    t.CountPage("P");               // a new visit allows one more
    t.CountEvent("P", "P", true);
    t.CountEvent("P", "N", false);
    t.CountEvent("p", "n", false);  // names ignore case when looked up
    t.CountEvent("P", "N", false);
    t.AddAmount("#FX", 5);
    t.AddAmount("#fx", 2);
    EXPECT_EQ(Store(), "P=2\r\nP.P=2\r\nP.N=3\r\n#FX=7\r\n");
    EXPECT_EQ(t.GetReport(), "P=2;P.P=2;P.N=3;#FX=7;");

    // Counts that are no numbers: 1 when counting, 0 when adding.
    SetStore("W=abc\r\n#CL=x\r\n");
    t.CountPage("W");
    t.AddAmount("#CL", 3);
    EXPECT_EQ(Store(), "W=2\r\n#CL=3\r\n");
}

TEST_F(Track, ReportSubtractionKeepsLaterCounts)
{
    TUserTrack t(HKEY_LOCAL_MACHINE, ScratchKey, "TRACK");
    EXPECT_EQ(t.GetReport(), "");
    struct {
        const char *store, *report, *left;
    } cases[] = {
        {"W=5\r\n", "W=3;", "W=2\r\n"},
        {"W=3\r\n", "W=3;", ""},
        {"W=3\r\nS=1\r\n", "W=3;T.OP=4;", "S=1\r\n"},  // store lines not reported stay
        {"W=2\r\n", "W=3;", ""},                       // nothing goes below zero
        {"W=x\r\n", "W=x;", ""},                       // the same text, whatever it says
    };
    for (const auto &c : cases) {
        SetStore(c.store);
        t.SubtractReport(c.report);
        EXPECT_EQ(Store(), c.left) << c.store << " - " << c.report;
    }

    SetStore("");
    t.CountPage("W");
    t.CountPage("W");
    const std::string report = t.GetReport();
    t.CountPage("W");  // arrives while the report is on its way
    t.CountEvent("W", "N", false);
    t.SubtractReport(report);
    EXPECT_EQ(Store(), "W=1\r\nW.N=1\r\n");
}

TEST_F(Track, BothProgramsDeriveOneMutex)
{
    EXPECT_EQ(TUserTrack::MutexName(HKEY_LOCAL_MACHINE, "Software\\Tovu", "TRACK"),
              "Global\\FW_TRACK" + std::to_string(NameHash32("hklm\\software\\tovu track", false)));
    EXPECT_NE(TUserTrack::MutexName(HKEY_LOCAL_MACHINE, ScratchKey, "TRACK"),
              TUserTrack::MutexName(HKEY_LOCAL_MACHINE, "Software\\Tovu", "TRACK"));
}

// The other process's half of the next test; it does nothing unless started
// by it.
TEST(TrackChild, Count)
{
    if (EnvText("TOVU_TRACK_CHILD").empty()) GTEST_SKIP() << "started by CountsFromTwoProcessesAndThreadsAllArrive";
    TUserTrack t(HKEY_LOCAL_MACHINE, ScratchKey, "TRACK");
    for (int i = 0; i < ChildCounts; ++i) {
        t.CountPage("T");
        t.AddAmount("#CL", 2);
    }
}

TEST_F(Track, CountsFromTwoProcessesAndThreadsAllArrive)
{
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string command = std::string("\"") + exe + "\" --gtest_filter=TrackChild.Count";
    SetEnvironmentVariableA("TOVU_TRACK_CHILD", "1");
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessA(exe, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    SetEnvironmentVariableA("TOVU_TRACK_CHILD", nullptr);

    TUserTrack t(HKEY_LOCAL_MACHINE, ScratchKey, "TRACK");
    auto count = [&t] {
        for (int i = 0; i < ChildCounts / 2; ++i) {
            t.CountPage("T");
            t.AddAmount("#CL", 2);
        }
    };
    std::thread other(count);
    count();
    other.join();
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 120000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(Store(), "T=" + std::to_string(2 * ChildCounts) + "\r\n#CL=" + std::to_string(4 * ChildCounts) +
                           "\r\n");
}

// The switched routines use the process's tracker on the settings key, here
// moved to the scratch key.
TEST_F(Track, NothingIsCountedWithTrackingOff)
{
    SetSettingsKeyPath(ScratchKey);
    {
        TRegViewScope view(false, true);
        RegWriteStr(HKEY_CURRENT_USER, ScratchKey, "TRACK_USER", "0");
        RegWriteStr(HKEY_LOCAL_MACHINE, ScratchKey, "TRACK_USER", "1");  // the user's override wins
    }
    LoadSettings();
    TrackPage("W");
    TrackEvent("W", "N", false);
    TrackAmount("#FX", 3);
    EXPECT_FALSE(RegValueExists(HKEY_LOCAL_MACHINE, ScratchKey, "TRACK"));

    {
        TRegViewScope view(false, true);
        RegRemoveValue(HKEY_CURRENT_USER, ScratchKey, "TRACK_USER");
    }
    LoadSettings();
    TrackPage("W");
    TrackEvent("W", "N", true);
    TrackAmount("#FX", 3);
    EXPECT_EQ(Store(), "W=1\r\nW.N=1\r\n#FX=3\r\n");
    {
        TRegViewScope view(false, true);
        RegRemoveKeyTree(HKEY_CURRENT_USER, ScratchKey, true);
    }
    SetSettingsKeyPath("");
    LoadSettings();
}

TEST_F(Track, InstallReportCarriesTheTokenFields)
{
    SetSettingsKeyPath(ScratchKey);
    {
        TRegViewScope view(false, true);
        RegWriteStr(HKEY_LOCAL_MACHINE, ScratchKey, "UID", "4711");
        RegWriteStr(HKEY_LOCAL_MACHINE, ScratchKey, "SubID", "ch\t1");
    }
    LoadSettings();
    const std::string address = InstallReportAddress("http://h/client.asmx/GetXML?action=INTOVU&cr=%cu%");
    SetSettingsKeyPath("");
    LoadSettings();

    const std::string prefix = "http://h/client.asmx/GetXML?action=INTOVU&cr=";
    ASSERT_EQ(address.rfind(prefix, 0), 0u) << address;
    std::vector<TParam> params;
    ASSERT_TRUE(DecodeURLToken(address.substr(prefix.size()), params));
    ASSERT_EQ(params.size(), 6u);
    EXPECT_EQ(params[0].Name.rfind("RNDX_", 0), 0u);
    EXPECT_EQ(params[1].Name, "CFG");
    EXPECT_EQ(params[2].Name, "UID");
    EXPECT_EQ(params[2].Value, "4711");
    EXPECT_EQ(params[3].Name.rfind("RNDY_", 0), 0u);
    EXPECT_EQ(params[4].Name, "SUBID");
    EXPECT_EQ(params[4].Value, "ch\t1");
    EXPECT_EQ(params[5].Name, "RANDOMIZER");
}

TEST(InstallReport, ThreadEndsOrIsGivenUpInTime)
{
    REQUIRE_SERVERS();
    // A refused port: the thread is done long before its time.
    auto *refused =
        new TInstallHitThread("http://127.0.0.1:" + std::to_string(RefusedPort()) + "/client.asmx/GetXML?a=1", false);
    EXPECT_TRUE(WaitForDone(refused, 15000));
    delete refused;
    EXPECT_TRUE(WaitForDone(nullptr, 0));

    // A server that never answers: the wait gives up after its time-out and
    // the thread is left running.
    auto *silent = new TInstallHitThread(StandinURL() + "/silent?a=1", false);
    const DWORD start = GetTickCount();
    EXPECT_FALSE(WaitForDone(silent, 1000));
    const DWORD waited = GetTickCount() - start;
    EXPECT_GE(waited, 1000u);
    EXPECT_LT(waited, 3000u);
}
