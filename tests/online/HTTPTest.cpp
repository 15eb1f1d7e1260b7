// The HTTP client against our service and against servers that misbehave
// (tests/online/standin.py), all on 127.0.0.1.
#include "online/OnlineTestKit.h"

#include "online/HTTPU.h"

#include "platform/FileU.h"

#include <gtest/gtest.h>

#include <psapi.h>

#include <cstdio>

namespace {

// What a request cost: wall time and the growth of the process's peak
// working set.
struct TCost {
    DWORD Ms = 0;
    double PeakGrowthMiB = 0;
};

template <typename F> TCost Measure(F &&f)
{
    PROCESS_MEMORY_COUNTERS before{}, after{};
    GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof(before));
    const DWORD start = GetTickCount();
    f();
    TCost c;
    c.Ms = GetTickCount() - start;
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof(after));
    c.PeakGrowthMiB = double(after.PeakWorkingSetSize - before.PeakWorkingSetSize) / (1024.0 * 1024.0);
    return c;
}

THTTPSettings Quick()
{
    THTTPSettings s;
    s.ConnectTimeout = 3000;
    s.SendTimeout = 3000;
    s.ReceiveTimeout = 2000;
    s.TimeLimit = 4000;
    return s;
}

} // namespace

TEST(HTTPClient, FetchTextSendsTheQueryAsAFormPost)
{
    REQUIRE_SERVERS();
    int32_t error = -1, status = -1;
    const std::string echo = FetchText(StandinURL() + "/echo?action=INTOVU&cr=abc", nullptr, &error, &status);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(echo.rfind("POST /echo HTTP/1.1\r\n", 0), 0u) << echo;
    EXPECT_NE(echo.find("Content-Type: application/x-www-form-urlencoded\r\n"), std::string::npos) << echo;
    EXPECT_NE(echo.find("User-Agent: Norvane HTTPGet\r\n"), std::string::npos) << echo;
    EXPECT_EQ(echo.substr(echo.size() - 20), "action=INTOVU&cr=abc");

    const std::string get = FetchText(StandinURL() + "/echo");
    EXPECT_EQ(get.rfind("GET /echo HTTP/1.1\r\n", 0), 0u) << get;
    EXPECT_EQ(get.find("Content-Type:"), std::string::npos) << get;
}

TEST(HTTPClient, SoapPostCarriesItsOwnHeaders)
{
    REQUIRE_SERVERS();
    THTTPGet get;
    TMemoryStreamWriter out;
    get.SetURL("  " + StandinURL() + "/echo  ");
    get.ContentTypeHeader = "Content-Type: text/xml; charset=utf-8";
    get.ExtraHeaders = "SOAPAction: \"http://x.example/api/CheckBHO\"";
    get.PostData = "<a/>";
    get.Output = &out;
    ASSERT_TRUE(get.Execute());
    EXPECT_TRUE(get.Done);
    EXPECT_NE(out.Data().find("Content-Type: text/xml; charset=utf-8\r\n"), std::string::npos) << out.Data();
    EXPECT_NE(out.Data().find("SOAPAction: \"http://x.example/api/CheckBHO\"\r\n"), std::string::npos);
    EXPECT_EQ(out.Data().find("x-www-form-urlencoded"), std::string::npos);
    EXPECT_EQ(get.ContentLength, int32_t(out.Data().size()));
}

TEST(HTTPClient, StatusCodesDecideSuccess)
{
    REQUIRE_SERVERS();
    struct {
        int status;
        bool ok;
    } cases[] = {{200, true}, {300, true}, {301, false}, {404, false}, {500, false}};
    for (const auto &c : cases) {
        THTTPGet get;
        TMemoryStreamWriter out;
        out.WriteText("stale");
        get.SetURL(StandinURL() + "/status/" + std::to_string(c.status));
        get.Output = &out;
        EXPECT_EQ(get.Execute(), c.ok) << c.status;
        EXPECT_EQ(get.ErrorCode, 0) << c.status;
        EXPECT_EQ(get.StatusCode, c.status);
        // A refused status leaves the output untouched; an accepted one replaces it.
        EXPECT_EQ(out.Data(), c.ok ? "hello" : "stale") << c.status;
    }
    THTTPSettings any;
    any.ReadAnyStatus = true;
    THTTPGet get;
    TMemoryStreamWriter out;
    get.SetURL(StandinURL() + "/status/404");
    get.SetSettings(&any);
    get.Output = &out;
    EXPECT_TRUE(get.Execute());
    EXPECT_EQ(out.Data(), "hello");
}

TEST(HTTPClient, BodyLengthDecidesCompleteness)
{
    REQUIRE_SERVERS();
    TMemoryStreamWriter out;
    THTTPGet whole;
    whole.SetURL(StandinURL() + "/nolength");
    whole.Output = &out;
    EXPECT_TRUE(whole.Execute());
    EXPECT_EQ(out.Data(), "all of it");

    THTTPGet redirected;
    TMemoryStreamWriter out2;
    redirected.SetURL(StandinURL() + "/redirect");
    redirected.Output = &out2;
    EXPECT_TRUE(redirected.Execute());
    EXPECT_EQ(redirected.StatusCode, 200);
    EXPECT_EQ(out2.Data(), "all of it");

    const std::string file = ScratchFolder() + "short.bin";
    int32_t status = 0, error = 0;
    EXPECT_FALSE(DownloadToFile(StandinURL() + "/short", file, nullptr, &status, &error));
    EXPECT_EQ(status, 200);
    EXPECT_FALSE(FileExists(file));

    THTTPGet shortBody;
    TMemoryStreamWriter kept;
    shortBody.SetURL(StandinURL() + "/short");
    shortBody.Output = &kept;
    EXPECT_FALSE(shortBody.Execute());
    EXPECT_EQ(kept.Data().size(), 100u) << "the bytes received stay";
}

TEST(HTTPClient, AbortFromProgressStopsAfterTheBlock)
{
    REQUIRE_SERVERS();
    THTTPGet get;
    TMemoryStreamWriter out;
    THTTPSettings s;
    s.ReadBlockSize = 1000;
    get.SetSettings(&s);
    get.SetURL(ServiceURL() + "/update/files/update.cab");
    get.Output = &out;
    int calls = 0, done = 0;
    bool abortResult = true;
    get.OnProgress = [&](THTTPGet &g, int32_t position, int32_t) {
        if (++calls == 2) abortResult = g.Abort(0);
    };
    get.OnDone = [&](THTTPGet &) { ++done; };
    EXPECT_FALSE(get.Execute());
    EXPECT_FALSE(abortResult);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(done, 1);
    EXPECT_EQ(out.Data().size(), 1000u);
}

TEST(HTTPClient, DownloadToFileKeepsAWholeReply)
{
    REQUIRE_SERVERS();
    const std::string file = ScratchFolder() + "update.cab";
    int32_t status = 0;
    ASSERT_TRUE(DownloadToFile(ServiceURL() + "/update/files/update.cab", file, nullptr, &status));
    EXPECT_EQ(status, 200);
    EXPECT_EQ(FileSize(file), 70000);
    DeleteFileA(file.c_str());
}

// Each bad reply costs bounded time and memory and confirms nothing. The
// figures are printed for the record; the bounds are what the settings allow
// plus the slack of a loaded machine.
TEST(HTTPClient, BadRepliesCostBoundedTimeAndMemory)
{
    REQUIRE_SERVERS();
    struct {
        const char *path;
        DWORD boundMs;
        bool textKept;
    } cases[] = {
        {"/silent", 2000 + 6000, false},   // receive time-out
        {"/trickle", 4000 + 6000, false},  // overall limit, one byte every 100 ms
        {"/endless", 4000 + 6000, false},  // memory limit or overall limit
        {"/huge", 6000, false},            // announced length beyond the limit
        {"/short", 6000, false},           // shorter than its length: not passed off as whole
        {"/binary", 6000, true},           // bytes, returned as they came
    };
    const THTTPSettings s = Quick();
    for (const auto &c : cases) {
        std::string text;
        int32_t error = -1;
        const TCost cost = Measure([&] { text = FetchText(StandinURL() + c.path, &s, &error); });
        std::printf("bad reply %-9s %5lu ms, peak working set +%.1f MiB, %u bytes kept, error %d\n", c.path,
                    cost.Ms, cost.PeakGrowthMiB, unsigned(text.size()), int(error));
        std::fflush(stdout);
        EXPECT_LT(cost.Ms, c.boundMs) << c.path;
        EXPECT_LT(cost.PeakGrowthMiB, 2.0 * MaxTextReplySize / (1024 * 1024) + 8) << c.path;
        EXPECT_LE(int64_t(text.size()), MaxTextReplySize) << c.path;
        if (!c.textKept) {
            EXPECT_TRUE(text.empty()) << c.path;
        }
    }
    // An announced length beyond the limit is refused before its body is read.
    THTTPGet huge;
    TMemoryStreamWriter out;
    THTTPSettings limited = s;
    limited.MaxBodySize = 1024 * 1024;
    huge.SetSettings(&limited);
    huge.SetURL(StandinURL() + "/huge");
    huge.Output = &out;
    EXPECT_FALSE(huge.Execute());
    EXPECT_TRUE(huge.LimitReached);
    EXPECT_EQ(out.Data().size(), 0u);
}

TEST(HTTPClient, UnreachableServerFailsBeforeAReply)
{
    REQUIRE_SERVERS();
    const THTTPSettings s = Quick();
    THTTPGet get;
    TMemoryStreamWriter out;
    get.SetSettings(&s);
    get.SetURL("http://127.0.0.1:" + std::to_string(RefusedPort()) + "/x");
    get.Output = &out;
    const TCost cost = Measure([&] { EXPECT_FALSE(get.Execute()); });
    std::printf("refused port: %lu ms, error %d\n", cost.Ms, int(get.ErrorCode));
    EXPECT_TRUE(get.ErrorCode == 2 || get.ErrorCode == 4) << get.ErrorCode;
    EXPECT_EQ(get.StatusCode, 0);
    EXPECT_TRUE(get.Done);
    EXPECT_LT(cost.Ms, 6000u);
}
