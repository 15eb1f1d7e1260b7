// Byte streams, a typed reader and writer over them, and the file classes that
// open files the way this system needs: shared, retried while another process
// holds the file, folders created on demand, and (for written files) an access
// list that lets every user replace them later.
//
// Typed values are stored little-endian: integers in 2, 4 or 8 bytes, a byte or
// a character in 1, a string as a 32-bit length followed by its bytes.
//
// Nothing here throws. A reader or writer without a stream fails everything.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// ---- streams ---------------------------------------------------------------

class TStream {
public:
    virtual ~TStream() = default;
    // Bytes actually transferred; fewer than count at the end or on failure.
    virtual size_t Read(void *buffer, size_t count) = 0;
    virtual size_t Write(const void *buffer, size_t count) = 0;
    // origin: FILE_BEGIN, FILE_CURRENT or FILE_END. The new position, or -1.
    virtual int64_t Seek(int64_t offset, DWORD origin) = 0;
    // -1 when it cannot be told.
    virtual int64_t Size() = 0;

    int64_t Position() { return Seek(0, FILE_CURRENT); }
    bool SetPosition(int64_t position) { return Seek(position, FILE_BEGIN) == position; }
    // Copies all of source, from its start, to the current position. True when
    // every byte arrived.
    bool CopyFrom(TStream &source);
};

// Grows as written; seeking past the end and writing there fills with zeros.
class TMemoryStream : public TStream {
public:
    size_t Read(void *buffer, size_t count) override;
    size_t Write(const void *buffer, size_t count) override;
    int64_t Seek(int64_t offset, DWORD origin) override;
    int64_t Size() override { return int64_t(FData.size()); }

    const std::string &Data() const { return FData; }
    void Clear() { FData.clear(); FPos = 0; }

private:
    std::string FData;
    size_t FPos = 0;
};

// Over a file handle it does not own.
class THandleStream : public TStream {
public:
    explicit THandleStream(HANDLE handle) : FHandle(handle) {}
    size_t Read(void *buffer, size_t count) override;
    size_t Write(const void *buffer, size_t count) override;
    int64_t Seek(int64_t offset, DWORD origin) override;
    int64_t Size() override;
    HANDLE Handle() const { return FHandle; }

private:
    HANDLE FHandle;
};

// ---- typed reader and writer ---------------------------------------------

class TStreamBase {
public:
    explicit TStreamBase(TStream *stream = nullptr) : Stream(stream) {}
    virtual ~TStreamBase() = default;
    TStreamBase(const TStreamBase &) = delete;
    TStreamBase &operator=(const TStreamBase &) = delete;

    // -1 without a stream.
    int64_t Size() const;

    // Not owned, unless a subclass says otherwise.
    TStream *Stream = nullptr;
};

class TStreamWriter : public TStreamBase {
public:
    using TStreamBase::TStreamBase;
    // Each true when every byte was written.
    virtual bool WriteText(const std::string &text);
    virtual bool WriteLine(const std::string &text);  // text + CR LF
    virtual bool WriteString(const std::string &text);  // 32-bit length + bytes
    virtual bool WriteInt32(int32_t value);
    virtual bool WriteByte(uint8_t value);
    virtual bool WriteInt64(int64_t value);
    virtual bool WriteChar(char value);
    virtual bool WriteInt16(int16_t value);
    virtual bool WriteBuffer(const void *data, size_t count);
    // Copies all of source from its start, in pieces.
    virtual bool WriteFromStream(TStream &source);
    // Reads all of source from its start into memory, then writes it at once.
    virtual bool WriteStreamContents(TStream &source);
};

class TStreamReader : public TStreamBase {
public:
    using TStreamBase::TStreamBase;
    // Asks for the stream's whole size from the current position, so it fails
    // once part of the stream was read. text keeps what was read. Without a
    // stream text is left unchanged.
    virtual bool ReadAll(std::string &text);
    // Empties text first, then as ReadAll.
    virtual bool ReadAllFresh(std::string &text);
    // 32-bit length + bytes. On failure text is empty; a negative length or one
    // beyond the end of the stream fails without reading further.
    virtual bool ReadString(std::string &text);
    // A numeric read that gets fewer bytes than it needs fails and yields 0.
    virtual bool ReadInt32(int32_t &value);
    virtual bool ReadByte(uint8_t &value);
    virtual bool ReadInt64(int64_t &value);
    virtual bool ReadChar(char &value);
    virtual bool ReadInt16(int16_t &value);
    virtual bool ReadBuffer(void *data, size_t count);
    // Copies the whole stream, from its start, into target.
    virtual bool ReadToStream(TStream &target);
    // From the current position to the end, in one write to target.
    virtual bool ReadRemainder(TStream &target);

private:
    template <typename T> bool ReadValue(T &value);
};

// Owns the memory stream it writes to.
class TMemoryStreamWriter : public TStreamWriter {
public:
    TMemoryStreamWriter() : TStreamWriter(&FMemory) {}
    TMemoryStream &Memory() { return FMemory; }
    const std::string &Data() const { return FMemory.Data(); }

private:
    TMemoryStream FMemory;
};

// ---- files -----------------------------------------------------------------
//
// Opening retries while the file is held by someone else: OpenTimeout / 100
// attempts 100 ms apart for as long as the system answers "access denied" or
// "sharing violation", then one last attempt. Any other error ends the retries
// early (the last attempt is still made).

class TFileWriter : public TStreamWriter {
public:
    TFileWriter() = default;
    ~TFileWriter() override;

    // Closes an open file first. Creates the file's folder (with parents and
    // Everyone access) when missing. Append opens or creates and positions at
    // the end; otherwise the file is created or truncated. A failed Open leaves
    // the writer closed.
    virtual bool Open(const std::string &fileName);
    virtual void Close();
    virtual bool Flush();

    HANDLE Handle() const { return FHandle; }

    bool EveryoneAccess = true;  // new files get the Everyone descriptor
    bool ShareWrite = false;
    bool ShareRead = false;
    bool Append = false;
    DWORD OpenTimeout = 800;  // milliseconds

private:
    HANDLE FHandle = INVALID_HANDLE_VALUE;
    std::unique_ptr<THandleStream> FFileStream;
};

class TFileReader : public TStreamReader {
public:
    TFileReader() = default;
    ~TFileReader() override;

    // Closes an open file first; opens an existing file for reading and
    // remembers its name. A failed Open leaves the reader closed.
    virtual bool Open(const std::string &fileName);
    virtual void Close();

    HANDLE Handle() const { return FHandle; }
    const std::string &FileName() const { return FFileName; }

    bool ShareWrite = true;
    bool ShareRead = true;
    DWORD OpenTimeout = 800;  // milliseconds

private:
    HANDLE FHandle = INVALID_HANDLE_VALUE;
    std::unique_ptr<THandleStream> FFileStream;
    std::string FFileName;
};
