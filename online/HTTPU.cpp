#include "online/HTTPU.h"

#include "platform/FileU.h"
#include "platform/TextU.h"

#include <wininet.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <vector>

const char *const DefaultUserAgent = "Norvane HTTPGet";

namespace {

constexpr DWORD DefaultConnectTimeout = 15000;
constexpr DWORD DefaultSendTimeout = 15000;
constexpr DWORD DefaultReceiveTimeout = 20000;
constexpr DWORD DefaultTimeLimit = 0;
constexpr size_t BufferSize = 65537;

class TInetHandle {
public:
    explicit TInetHandle(HINTERNET handle = nullptr) : handle_(handle) {}
    ~TInetHandle() { Close(); }
    TInetHandle(const TInetHandle &) = delete;
    TInetHandle &operator=(const TInetHandle &) = delete;
    void Reset(HINTERNET handle) { Close(); handle_ = handle; }
    void Close()
    {
        if (handle_) InternetCloseHandle(handle_);
        handle_ = nullptr;
    }
    HINTERNET Get() const { return handle_; }
    HINTERNET Release()
    {
        HINTERNET h = handle_;
        handle_ = nullptr;
        return h;
    }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    HINTERNET handle_;
};

struct TAddress {
    std::string Host;
    INTERNET_PORT Port = INTERNET_DEFAULT_HTTP_PORT;
    bool Secure = false;
    std::string Path;
};

TAddress SplitURL(const std::string &url)
{
    TAddress a;
    std::string rest = url;
    const std::string lower = AsciiLower(url);
    if (lower.rfind("http://", 0) == 0) {
        rest = url.substr(7);
    } else if (lower.rfind("https://", 0) == 0) {
        rest = url.substr(8);
        a.Port = INTERNET_DEFAULT_HTTPS_PORT;
        a.Secure = true;
    }
    const size_t slash = rest.find('/');
    a.Host = rest.substr(0, slash);
    a.Path = slash == std::string::npos ? "/" : rest.substr(slash);
    // The callers' addresses name a port wherever the service does not listen
    // on the scheme's own (every test, every development set-up).
    const size_t colon = a.Host.rfind(':');
    if (colon != std::string::npos && a.Host.find(']', colon) == std::string::npos) {
        const std::string digits = a.Host.substr(colon + 1);
        a.Host.erase(colon);
        char *end = nullptr;
        const long port = std::strtol(digits.c_str(), &end, 10);
        a.Port = (!digits.empty() && *end == 0 && port > 0 && port < 65536) ? INTERNET_PORT(port) : 0;
    }
    return a;
}

bool QueryHeader(HINTERNET request, DWORD what, std::string &value)
{
    char buffer[256];
    DWORD size = sizeof(buffer);
    DWORD index = 0;
    if (!HttpQueryInfoA(request, what, buffer, &size, &index)) return false;
    value.assign(buffer, std::min<DWORD>(size, sizeof(buffer)));
    return true;
}

// The announced length in full; 0 when absent or not a number.
int64_t LengthFrom(HINTERNET request)
{
    std::string text;
    if (!QueryHeader(request, HTTP_QUERY_CONTENT_LENGTH, text)) return 0;
    text = TrimA(text);
    char *end = nullptr;
    const long long n = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != 0 || n < 0) return 0;
    return n;
}

// The field is 32 bits wide; a length beyond it reads as none.
int32_t LengthField(int64_t n)
{
    return n > INT32_MAX ? 0 : int32_t(n);
}

void SetTimeouts(HINTERNET handle, const THTTPSettings &s)
{
    auto set = [handle](DWORD option, DWORD value) {
        if (value) InternetSetOptionA(handle, option, &value, sizeof(value));
    };
    set(INTERNET_OPTION_CONNECT_TIMEOUT, s.ConnectTimeout);
    set(INTERNET_OPTION_SEND_TIMEOUT, s.SendTimeout);
    set(INTERNET_OPTION_DATA_SEND_TIMEOUT, s.SendTimeout);
    set(INTERNET_OPTION_RECEIVE_TIMEOUT, s.ReceiveTimeout);
    set(INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, s.ReceiveTimeout);
}

// Output starts empty unless a range continues it; the streams have no size
// setter, so each kind is cut its own way.
void EmptyOutput(TStreamWriter &out)
{
    if (!out.Stream) return;
    if (auto *memory = dynamic_cast<TMemoryStream *>(out.Stream)) {
        memory->Clear();
    } else if (auto *file = dynamic_cast<THandleStream *>(out.Stream)) {
        file->SetPosition(0);
        SetEndOfFile(file->Handle());
    }
}

// Closing a request whose announced body was not read to its end makes the
// library read the rest first, for as long as the server keeps sending: a
// server announcing gigabytes would hold the caller for minutes. Such handles
// are closed on a thread of their own, so the caller's time stays bounded.
DWORD WINAPI CloseHandlesProc(void *param)
{
    auto *handles = static_cast<HINTERNET *>(param);
    for (int i = 0; i < 3; ++i)
        if (handles[i]) InternetCloseHandle(handles[i]);
    delete[] handles;
    return 0;
}

void CloseAside(TInetHandle &request, TInetHandle &connection, TInetHandle &session)
{
    auto *handles = new HINTERNET[3]{request.Release(), connection.Release(), session.Release()};
    HANDLE thread = CreateThread(nullptr, 64 * 1024, CloseHandlesProc, handles, 0, nullptr);
    if (thread) CloseHandle(thread);
    else CloseHandlesProc(handles);
}

int32_t Clamp32(int64_t v)
{
    return v > INT32_MAX ? INT32_MAX : int32_t(v);
}

} // namespace

void THTTPSettings::Clear()
{
    UserName.clear();
    Password.clear();
    Resume = false;
    ProxyHost.clear();
    ProxyPort.clear();
    ProxyUser.clear();
    ProxyPassword.clear();
    ReadAnyStatus = false;
    ReadBlockSize = 0;
    NoCookies = false;
    ConnectTimeout = DefaultConnectTimeout;
    SendTimeout = DefaultSendTimeout;
    ReceiveTimeout = DefaultReceiveTimeout;
    TimeLimit = DefaultTimeLimit;
    MaxBodySize = 0;
}

void THTTPSettings::Assign(const THTTPSettings *other)
{
    if (!other) {
        Clear();
        return;
    }
    if (other != this) *this = *other;
}

THTTPGet::THTTPGet() = default;

void THTTPGet::SetURL(const std::string &url)
{
    URL = TrimA(url);
}

bool THTTPGet::Abort(DWORD timeoutMs)
{
    Aborted = true;
    // Only a caller outside the executing thread can usefully wait.
    const DWORD start = GetTickCount();
    while (!Done && timeoutMs && GetTickCount() - start < timeoutMs) Sleep(10);
    return Done;
}

bool THTTPGet::Execute()
{
    Done = false;
    ErrorCode = 0;
    StatusCode = 0;
    LimitReached = false;
    bool result = false;
    bool bodyLeft = false;
    int64_t position = 0;
    int64_t total = 0;
    TInetHandle session, connection, request;
    const DWORD started = GetTickCount();
    try {
        const TAddress address = SplitURL(URL);

        const std::string proxy =
            Settings.ProxyPort.empty() ? Settings.ProxyHost : Settings.ProxyHost + ":" + Settings.ProxyPort;
        const char *agent = UserAgent.empty() ? nullptr : UserAgent.c_str();
        if (!Settings.ProxyHost.empty())
            session.Reset(InternetOpenA(agent, INTERNET_OPEN_TYPE_PROXY, proxy.c_str(), nullptr, 0));
        else
            session.Reset(InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
        if (!session) {
            ErrorCode = 1;
            throw 0;
        }
        SetTimeouts(session.Get(), Settings);

        auto orNull = [](const std::string &s) { return s.empty() ? nullptr : s.c_str(); };
        if (address.Host.empty() || address.Port == 0) SetLastError(ERROR_INTERNET_INVALID_URL);
        else
            connection.Reset(InternetConnectA(session.Get(), address.Host.c_str(), address.Port,
                                              orNull(Settings.UserName), orNull(Settings.Password),
                                              INTERNET_SERVICE_HTTP, 0, 0));
        if (!connection) {
            ErrorCode = 2;
            throw 0;
        }
        if (!Settings.ProxyHost.empty() && !Settings.ProxyUser.empty()) {
            InternetSetOptionA(connection.Get(), INTERNET_OPTION_PROXY_USERNAME,
                               const_cast<char *>(Settings.ProxyUser.c_str()), DWORD(Settings.ProxyUser.size() + 1));
            InternetSetOptionA(connection.Get(), INTERNET_OPTION_PROXY_PASSWORD,
                               const_cast<char *>(Settings.ProxyPassword.c_str()),
                               DWORD(Settings.ProxyPassword.size() + 1));
        }

        const char *verb = Mode == 1 ? "HEAD" : !PostData.empty() ? "POST" : "GET";
        const char *accept[] = {AcceptTypes.c_str(), nullptr};
        DWORD flags = INTERNET_FLAG_RELOAD;
        if (address.Secure) flags |= INTERNET_FLAG_SECURE;
        if (Settings.NoCookies) flags |= INTERNET_FLAG_NO_COOKIES;
        request.Reset(HttpOpenRequestA(connection.Get(), verb, address.Path.c_str(), "HTTP/1.1", nullptr, accept,
                                       flags, 0));
        if (!request)
            request.Reset(HttpOpenRequestA(connection.Get(), "GET", address.Path.c_str(), "HTTP/1.1", nullptr,
                                           accept, flags, 0));
        if (!request) {
            ErrorCode = 3;
            throw 0;
        }
        SetTimeouts(request.Get(), Settings);

        bool ranged = false;
        if (Settings.Resume && Output && Output->Size() > 0) {
            const int64_t have = Output->Size();
            if (Output->Stream) Output->Stream->Seek(0, FILE_END);
            const std::string range = "Range: bytes=" + std::to_string(have) + "-";
            ranged = HttpAddRequestHeadersA(request.Get(), range.c_str(), DWORD(range.size()), HTTP_ADDREQ_FLAG_ADD);
        }

        BOOL sent;
        if (!PostData.empty() || !ExtraHeaders.empty() || !ContentTypeHeader.empty()) {
            std::string headers = ContentTypeHeader.empty()
                                      ? std::string("Content-Type: application/x-www-form-urlencoded")
                                      : ContentTypeHeader;
            if (!ExtraHeaders.empty()) headers += "\r\n" + ExtraHeaders;
            sent = HttpSendRequestA(request.Get(), headers.c_str(), DWORD(headers.size()),
                                    PostData.empty() ? nullptr : const_cast<char *>(PostData.data()),
                                    DWORD(PostData.size()));
        } else {
            sent = HttpSendRequestA(request.Get(), nullptr, 0, nullptr, 0);
        }
        if (!sent) {
            ErrorCode = 4;
            throw 0;
        }
        // Until the body has been read to its end, closing may have to wait
        // for what the server still sends.
        bodyLeft = Mode != 1;

        DWORD status = 0, size = sizeof(status), index = 0;
        if (HttpQueryInfoA(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, &index))
            StatusCode = int32_t(status);
        std::string type;
        if (QueryHeader(request.Get(), HTTP_QUERY_CONTENT_TYPE, type)) ContentType = type;
        ContentLength = LengthField(LengthFrom(request.Get()));

        if (Mode == 1) {
            result = true;
            throw 0;
        }
        if ((StatusCode < 200 || StatusCode > 300) && !Settings.ReadAnyStatus) throw 0;

        const int64_t announced = LengthFrom(request.Get());
        ContentLength = LengthField(announced);
        if (ContentLength == 0) ranged = false;
        if (!Output) throw 0;
        if (!ranged) EmptyOutput(*Output);
        position = std::max<int64_t>(Output->Size(), 0);
        total = int64_t(ContentLength) + position;
        // A body announced beyond the limit is refused before a byte is read:
        // the library drains what is left of an announced body when its handle
        // closes, so stopping at the limit would still read all of it.
        if (Settings.MaxBodySize > 0 && announced > Settings.MaxBodySize) {
            LimitReached = true;
            throw 0;
        }
        if (OnProgress) OnProgress(*this, Clamp32(position), Clamp32(total));

        const DWORD block = (Settings.ReadBlockSize >= 1 && Settings.ReadBlockSize <= 65536)
                                ? DWORD(Settings.ReadBlockSize)
                                : DWORD(BufferSize);
        std::vector<char> buffer(BufferSize);
        int64_t received = 0;
        bool readFailed = false;
        while (!Aborted) {
            if (Settings.TimeLimit && GetTickCount() - started >= Settings.TimeLimit) {
                LimitReached = true;
                break;
            }
            // Asking what is there first keeps each read short: a read of a
            // whole block would wait for a trickling server to fill it, past
            // every check of the time limit.
            DWORD available = 0;
            if (!InternetQueryDataAvailable(request.Get(), &available, 0, 0)) {
                readFailed = true;
                break;
            }
            if (available == 0) {
                bodyLeft = false;
                break;
            }
            DWORD got = 0;
            if (!InternetReadFile(request.Get(), buffer.data(), std::min(block, available), &got)) {
                readFailed = true;
                break;
            }
            if (got == 0) {
                bodyLeft = false;
                break;
            }
            if (Settings.MaxBodySize > 0 && received + got > Settings.MaxBodySize) {
                LimitReached = true;
                break;
            }
            if (!Output->WriteBuffer(buffer.data(), got)) {
                readFailed = true;
                break;
            }
            received += got;
            position += got;
            if (OnProgress) OnProgress(*this, Clamp32(position), Clamp32(total));
        }
        if (announced > 0 && received >= announced) bodyLeft = false;
        if (Aborted || LimitReached) throw 0;
        // Without a length only the end of the stream tells a whole body; a
        // connection that broke off is no such end.
        result = total == 0 ? !readFailed : position == total;
    } catch (...) {
        // every failure ends here with the result it already has
    }
    if (bodyLeft && request) CloseAside(request, connection, session);
    request.Close();
    connection.Close();
    session.Close();
    try {
        if (result && OnProgress) OnProgress(*this, Clamp32(position), Clamp32(total));
        if (OnDone) OnDone(*this);
    } catch (...) {
    }
    Done = true;
    return result;
}

bool DownloadToFile(const std::string &url, const std::string &fileName, const THTTPSettings *settings,
                    int32_t *statusCode, int32_t *errorCode)
{
    if (statusCode) *statusCode = 0;
    if (errorCode) *errorCode = 0;
    bool result = false;
    try {
        TFileWriter writer;
        writer.Append = settings && settings->Resume;
        if (!writer.Open(fileName)) return false;
        THTTPGet get;
        get.SetURL(url);
        get.SetSettings(settings);
        get.Output = &writer;
        result = get.Execute();
        writer.Close();
        if (statusCode) *statusCode = get.StatusCode;
        if (errorCode) *errorCode = get.ErrorCode;
        if (!result) DeleteFileForce(fileName);
    } catch (...) {
        result = false;
    }
    return result;
}

std::string FetchText(const std::string &url, const THTTPSettings *settings, int32_t *errorCode, int32_t *statusCode)
{
    if (errorCode) *errorCode = 0;
    if (statusCode) *statusCode = 0;
    try {
        THTTPGet get;
        const size_t query = url.find('?');
        get.SetURL(url.substr(0, query));
        if (query != std::string::npos) get.PostData = url.substr(query + 1);
        get.SetSettings(settings);
        if (get.Settings.MaxBodySize <= 0 || get.Settings.MaxBodySize > MaxTextReplySize)
            get.Settings.MaxBodySize = MaxTextReplySize;
        TMemoryStreamWriter body;
        get.Output = &body;
        const bool whole = get.Execute();
        if (errorCode) *errorCode = get.ErrorCode;
        if (statusCode) *statusCode = get.StatusCode;
        // A reply cut short arrives with status 200 and no error: returned, it
        // would pass for a whole one with the caller none the wiser.
        if (!whole) return std::string();
        return body.Data();
    } catch (...) {
        return std::string();
    }
}
