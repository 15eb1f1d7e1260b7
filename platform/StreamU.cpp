#include "platform/StreamU.h"

#include "platform/DirectoryU.h"
#include "platform/ObjectSecurityU.h"

#include <algorithm>
#include <vector>

namespace {

// ReadFile and WriteFile take 32-bit counts; larger requests go in pieces.
const size_t MaxChunk = 0x40000000;
// Copies between streams go through a buffer of this size.
const size_t CopyChunk = 64 * 1024;

// The answer of an open that another process is in the way of. A file held
// open without the sharing we ask for gives ERROR_SHARING_VIOLATION, not
// ERROR_ACCESS_DENIED, and is the very case the retry exists for; access
// denied still covers a file whose deletion or replacement is pending.
bool IsBusyError(DWORD error)
{
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}

HANDLE OpenWithRetry(const std::string &fileName, DWORD access, DWORD share,
                     SECURITY_ATTRIBUTES *security, DWORD disposition, DWORD timeout)
{
    auto attempt = [&] {
        return CreateFileA(fileName.c_str(), access, share, security, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    const DWORD attempts = timeout / 100;
    for (DWORD i = 0; i < attempts; ++i) {
        HANDLE h = attempt();
        if (h != INVALID_HANDLE_VALUE) return h;
        if (!IsBusyError(GetLastError())) break;
        Sleep(100);
    }
    return attempt();
}

DWORD ShareFlags(bool read, bool write)
{
    return (read ? FILE_SHARE_READ : 0) | (write ? FILE_SHARE_WRITE : 0);
}

// The folder part of a file name, with its trailing separator; empty when the
// name has none.
std::string FolderOf(const std::string &fileName)
{
    size_t p = fileName.find_last_of("\\/:");
    return p == std::string::npos ? std::string() : fileName.substr(0, p + 1);
}

void CloseFile(HANDLE &handle, std::unique_ptr<THandleStream> &stream, TStream *&current)
{
    current = nullptr;
    stream.reset();
    // A handle already closed behind our back must not be closed again.
    DWORD flags;
    if (handle != INVALID_HANDLE_VALUE && GetHandleInformation(handle, &flags))
        CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
}

} // namespace

// ---- TStream ---------------------------------------------------------------

bool TStream::CopyFrom(TStream &source)
{
    try {
        if (source.Seek(0, FILE_BEGIN) != 0) return false;
        const int64_t total = source.Size();
        if (total < 0) return false;
        std::vector<char> buf(size_t(std::min<int64_t>(total, CopyChunk)));
        int64_t left = total;
        while (left > 0) {
            size_t want = size_t(std::min<int64_t>(left, int64_t(buf.size())));
            size_t got = source.Read(buf.data(), want);
            if (got == 0) return false;
            if (Write(buf.data(), got) != got) return false;
            left -= int64_t(got);
        }
        return true;
    } catch (...) {
        return false;
    }
}

size_t TMemoryStream::Read(void *buffer, size_t count)
{
    if (FPos >= FData.size()) return 0;
    size_t n = std::min(count, FData.size() - FPos);
    std::copy_n(FData.data() + FPos, n, static_cast<char *>(buffer));
    FPos += n;
    return n;
}

size_t TMemoryStream::Write(const void *buffer, size_t count)
{
    try {
        if (count == 0) return 0;
        if (FPos + count > FData.size()) FData.resize(FPos + count);
        std::copy_n(static_cast<const char *>(buffer), count, &FData[FPos]);
        FPos += count;
        return count;
    } catch (...) {
        return 0;
    }
}

int64_t TMemoryStream::Seek(int64_t offset, DWORD origin)
{
    int64_t base = origin == FILE_BEGIN ? 0 : origin == FILE_CURRENT ? int64_t(FPos)
                 : origin == FILE_END ? int64_t(FData.size()) : -1;
    if (base < 0) return -1;
    int64_t to = base + offset;
    if (to < 0 || uint64_t(to) > SIZE_MAX / 2) return -1;
    FPos = size_t(to);
    return to;
}

size_t THandleStream::Read(void *buffer, size_t count)
{
    size_t done = 0;
    while (done < count) {
        DWORD n = 0;
        DWORD want = DWORD(std::min(count - done, MaxChunk));
        if (!ReadFile(FHandle, static_cast<char *>(buffer) + done, want, &n, nullptr) || n == 0)
            break;
        done += n;
    }
    return done;
}

size_t THandleStream::Write(const void *buffer, size_t count)
{
    size_t done = 0;
    while (done < count) {
        DWORD n = 0;
        DWORD want = DWORD(std::min(count - done, MaxChunk));
        if (!WriteFile(FHandle, static_cast<const char *>(buffer) + done, want, &n, nullptr) || n == 0)
            break;
        done += n;
    }
    return done;
}

int64_t THandleStream::Seek(int64_t offset, DWORD origin)
{
    LARGE_INTEGER to, now;
    to.QuadPart = offset;
    if (!SetFilePointerEx(FHandle, to, &now, origin)) return -1;
    return now.QuadPart;
}

int64_t THandleStream::Size()
{
    LARGE_INTEGER size;
    return GetFileSizeEx(FHandle, &size) ? size.QuadPart : -1;
}

// ---- TStreamBase -----------------------------------------------------------

int64_t TStreamBase::Size() const
{
    return Stream ? Stream->Size() : -1;
}

// ---- TStreamWriter ---------------------------------------------------------

bool TStreamWriter::WriteBuffer(const void *data, size_t count)
{
    if (!Stream) return false;
    if (count == 0) return true;
    return data && Stream->Write(data, count) == count;
}

bool TStreamWriter::WriteText(const std::string &text)
{
    return WriteBuffer(text.data(), text.size());
}

bool TStreamWriter::WriteLine(const std::string &text)
{
    return WriteText(text) && WriteBuffer("\r\n", 2);
}

bool TStreamWriter::WriteString(const std::string &text)
{
    if (text.size() > 0x7FFFFFFF) return false;
    return WriteInt32(int32_t(text.size())) && WriteText(text);
}

// The processor stores integers little-endian, which is the stream format.
bool TStreamWriter::WriteInt32(int32_t value) { return WriteBuffer(&value, sizeof value); }
bool TStreamWriter::WriteByte(uint8_t value) { return WriteBuffer(&value, sizeof value); }
bool TStreamWriter::WriteInt64(int64_t value) { return WriteBuffer(&value, sizeof value); }
bool TStreamWriter::WriteChar(char value) { return WriteBuffer(&value, sizeof value); }
bool TStreamWriter::WriteInt16(int16_t value) { return WriteBuffer(&value, sizeof value); }

bool TStreamWriter::WriteFromStream(TStream &source)
{
    return Stream && Stream->CopyFrom(source);
}

bool TStreamWriter::WriteStreamContents(TStream &source)
{
    try {
        if (!Stream || source.Seek(0, FILE_BEGIN) != 0) return false;
        int64_t size = source.Size();
        if (size < 0 || uint64_t(size) > SIZE_MAX / 2) return false;
        std::string all(size_t(size), '\0');
        if (source.Read(all.data(), all.size()) != all.size()) return false;
        return WriteBuffer(all.data(), all.size());
    } catch (...) {
        return false;
    }
}

// ---- TStreamReader ---------------------------------------------------------

template <typename T> bool TStreamReader::ReadValue(T &value)
{
    value = 0;
    T v = 0;
    if (!Stream || Stream->Read(&v, sizeof v) != sizeof v) return false;
    value = v;
    return true;
}

bool TStreamReader::ReadAll(std::string &text)
{
    try {
        if (!Stream) return false;
        int64_t size = Stream->Size();
        if (size < 0 || uint64_t(size) > SIZE_MAX / 2) return false;
        text.resize(size_t(size));
        size_t got = Stream->Read(text.data(), text.size());
        text.resize(got);
        return got == size_t(size);
    } catch (...) {
        return false;
    }
}

bool TStreamReader::ReadAllFresh(std::string &text)
{
    text.clear();
    return ReadAll(text);
}

bool TStreamReader::ReadString(std::string &text)
{
    text.clear();
    try {
        int32_t length;
        if (!ReadInt32(length) || length < 0) return false;
        // A corrupt length must not become a huge allocation.
        int64_t pos = Stream->Position(), size = Stream->Size();
        if (pos < 0 || size < 0 || length > size - pos) return false;
        text.resize(size_t(length));
        if (Stream->Read(text.data(), text.size()) == text.size()) return true;
    } catch (...) {
    }
    text.clear();
    return false;
}

bool TStreamReader::ReadInt32(int32_t &value) { return ReadValue(value); }
bool TStreamReader::ReadByte(uint8_t &value) { return ReadValue(value); }
bool TStreamReader::ReadInt64(int64_t &value) { return ReadValue(value); }
bool TStreamReader::ReadChar(char &value) { return ReadValue(value); }
bool TStreamReader::ReadInt16(int16_t &value) { return ReadValue(value); }

bool TStreamReader::ReadBuffer(void *data, size_t count)
{
    if (!Stream) return false;
    if (count == 0) return true;
    return data && Stream->Read(data, count) == count;
}

bool TStreamReader::ReadToStream(TStream &target)
{
    return Stream && target.CopyFrom(*Stream);
}

bool TStreamReader::ReadRemainder(TStream &target)
{
    try {
        if (!Stream) return false;
        int64_t pos = Stream->Position(), size = Stream->Size();
        if (pos < 0 || size < 0) return false;
        std::string rest(size_t(std::max<int64_t>(size - pos, 0)), '\0');
        if (Stream->Read(rest.data(), rest.size()) != rest.size()) return false;
        return rest.empty() || target.Write(rest.data(), rest.size()) == rest.size();
    } catch (...) {
        return false;
    }
}

// ---- TFileWriter -----------------------------------------------------------

TFileWriter::~TFileWriter()
{
    Close();
}

bool TFileWriter::Open(const std::string &fileName)
{
    Close();
    try {
        std::string folder = FolderOf(fileName);
        if (!folder.empty() && folder.back() != ':' && !DirectoryExists(folder))
            ForceDirectories(folder, true, true);
        SECURITY_ATTRIBUTES *security = EveryoneAccess ? EveryoneFileSecurity() : nullptr;
        HANDLE h = OpenWithRetry(fileName, GENERIC_WRITE, ShareFlags(ShareRead, ShareWrite), security,
                                 Append ? OPEN_ALWAYS : CREATE_ALWAYS, OpenTimeout);
        if (h == INVALID_HANDLE_VALUE) return false;
        FHandle = h;
        FFileStream = std::make_unique<THandleStream>(h);
        Stream = FFileStream.get();
        if (Append) Stream->Seek(0, FILE_END);
        return true;
    } catch (...) {
        Close();
        return false;
    }
}

void TFileWriter::Close()
{
    CloseFile(FHandle, FFileStream, Stream);
}

bool TFileWriter::Flush()
{
    return FHandle != INVALID_HANDLE_VALUE && FlushFileBuffers(FHandle);
}

// ---- TFileReader -----------------------------------------------------------

TFileReader::~TFileReader()
{
    Close();
}

bool TFileReader::Open(const std::string &fileName)
{
    Close();
    try {
        HANDLE h = OpenWithRetry(fileName, GENERIC_READ, ShareFlags(ShareRead, ShareWrite), nullptr,
                                 OPEN_EXISTING, OpenTimeout);
        if (h == INVALID_HANDLE_VALUE) return false;
        FHandle = h;
        FFileStream = std::make_unique<THandleStream>(h);
        Stream = FFileStream.get();
        FFileName = fileName;
        return true;
    } catch (...) {
        Close();
        return false;
    }
}

void TFileReader::Close()
{
    CloseFile(FHandle, FFileStream, Stream);
}
