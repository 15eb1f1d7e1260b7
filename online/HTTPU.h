// The HTTP client: one HTTP or HTTPS request at a time over WinInet,
// synchronous on the calling thread, the reply body written to a stream
// writer as it arrives.
//
// Bounded by design: a server that never answers, answers a byte at a time or
// sends without end costs at most the time-outs and limits below, never a
// hung worker or unbounded memory.
#pragma once

#include "platform/StreamU.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

// The agent name every request identifies itself with.
extern const char *const DefaultUserAgent;

// Replies kept in memory (FetchText) are cut off beyond this size.
constexpr int64_t MaxTextReplySize = 4 * 1024 * 1024;

class THTTPSettings {
public:
    THTTPSettings() { Clear(); }
    // Every text empty, every flag false, ReadBlockSize 0; the limits take
    // their defaults.
    void Clear();
    // Copies every field of other; none means Clear.
    void Assign(const THTTPSettings *other);

    std::string UserName;
    std::string Password;
    bool Resume;
    std::string ProxyHost;
    std::string ProxyPort;
    std::string ProxyUser;
    std::string ProxyPassword;
    bool ReadAnyStatus;
    // 1 to 65536 are used as they are; anything else means 65537.
    int32_t ReadBlockSize;
    bool NoCookies;

    // Milliseconds; 0 leaves the library's own (unbounded in places) value.
    DWORD ConnectTimeout;
    DWORD SendTimeout;
    // Longest silence while waiting for the reply or for the next bytes.
    DWORD ReceiveTimeout;
    // The whole request from connection to the last byte; 0 is no limit.
    DWORD TimeLimit;
    // Bytes of body this request accepts; 0 is no limit. A longer reply ends
    // the request with a false result.
    int64_t MaxBodySize;
};

class THTTPGet {
public:
    using TProgressEvent = std::function<void(THTTPGet &sender, int32_t position, int32_t total)>;
    using TDoneEvent = std::function<void(THTTPGet &sender)>;

    THTTPGet();
    virtual ~THTTPGet() = default;
    THTTPGet(const THTTPGet &) = delete;
    THTTPGet &operator=(const THTTPGet &) = delete;

    void SetURL(const std::string &url);
    void SetSettings(const THTTPSettings *other) { Settings.Assign(other); }

    // Runs the request. True when a reply with a status from 200 to 300 (or
    // any status with ReadAnyStatus) arrived whole, or for HEAD when any
    // reply arrived. Done is set at the end in every case.
    bool Execute();
    // Asks the running request to stop after the current block; returns Done.
    bool Abort(DWORD timeoutMs = 0);

    std::string ContentType;        // out
    TProgressEvent OnProgress;      // optional, on the executing thread
    TDoneEvent OnDone;              // optional, once per Execute
    std::string ExtraHeaders;       // CR LF separated lines, after Content-Type
    std::string ContentTypeHeader;  // a whole "Name: value" line replacing the default
    std::string AcceptTypes = "*/*";
    std::string UserAgent = DefaultUserAgent;  // empty: none
    std::string URL;
    TStreamWriter *Output = nullptr;  // not owned; may be absent for HEAD
    // 0, or the step that failed: 1 library, 2 connect, 3 open request, 4 send.
    int32_t ErrorCode = 0;
    int32_t StatusCode = 0;
    std::string PostData;           // not empty: the request is a POST
    std::atomic<bool> Aborted{false};
    std::atomic<bool> Done{false};
    THTTPSettings Settings;
    uint8_t Mode = 0;               // 0 body, 1 HEAD
    int32_t ContentLength = 0;
    // Set when the request ended because of TimeLimit or MaxBodySize.
    bool LimitReached = false;
};

// Appends to fileName when settings ask for Resume, otherwise replaces it.
// A failed request deletes the file. errorCode and statusCode as THTTPGet's.
bool DownloadToFile(const std::string &url, const std::string &fileName, const THTTPSettings *settings,
                    int32_t *statusCode = nullptr, int32_t *errorCode = nullptr);

// The address up to its first "?" is requested; what follows it is sent as a
// form POST body. The reply body, or empty text when none arrived whole: a
// status outside 200 to 300 (unless the settings ask ReadAnyStatus), a body
// shorter than its length or broken off, one beyond MaxTextReplySize (or the
// settings' own smaller MaxBodySize), or the time limit.
std::string FetchText(const std::string &url, const THTTPSettings *settings = nullptr,
                      int32_t *errorCode = nullptr, int32_t *statusCode = nullptr);
