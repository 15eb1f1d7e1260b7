// Uncopyable owners of what the system hands out: kernel handles, find
// handles, registry keys and COM interface pointers. Every unit that opens one
// keeps it in one of these, so that every path out of a function closes what
// it opened.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// A kernel handle; both null and INVALID_HANDLE_VALUE count as none.
class TOwnedHandle {
public:
    TOwnedHandle() = default;
    explicit TOwnedHandle(HANDLE h) : FHandle(h) {}
    ~TOwnedHandle() { Close(); }
    TOwnedHandle(const TOwnedHandle &) = delete;
    TOwnedHandle &operator=(const TOwnedHandle &) = delete;

    HANDLE Get() const { return FHandle; }
    bool Ok() const { return FHandle && FHandle != INVALID_HANDLE_VALUE; }
    explicit operator bool() const { return Ok(); }
    // Takes h, closing what was held.
    void Attach(HANDLE h)
    {
        Close();
        FHandle = h;
    }
    // For the out-parameter of a call that opens a handle; closes what was
    // held.
    HANDLE *Receive()
    {
        Close();
        return &FHandle;
    }
    // Gives the handle up without closing it.
    HANDLE Detach()
    {
        HANDLE h = FHandle;
        FHandle = nullptr;
        return h;
    }
    // False when a held handle did not close.
    bool Close()
    {
        bool ok = true;
        if (Ok()) ok = CloseHandle(FHandle) != FALSE;
        FHandle = nullptr;
        return ok;
    }

private:
    HANDLE FHandle = nullptr;
};

// The entries a pattern names, one at a time:
//   for (TFindFile f(folder + "*.lnk"); f.Ok(); f.Next()) use(f.Name());
// "." and ".." are skipped. Ok is false when nothing (more) matches.
class TFindFile {
public:
    explicit TFindFile(const std::string &pattern)
    {
        FHandle = FindFirstFileA(pattern.c_str(), &FData);
        FOpened = FOk = FHandle != INVALID_HANDLE_VALUE;
        SkipDots();
    }
    ~TFindFile()
    {
        if (FHandle != INVALID_HANDLE_VALUE) FindClose(FHandle);
    }
    TFindFile(const TFindFile &) = delete;
    TFindFile &operator=(const TFindFile &) = delete;

    bool Ok() const { return FOk; }
    // The search itself could be made (the folder is readable), even when it
    // holds nothing but "." and "..".
    bool Opened() const { return FOpened; }
    void Next()
    {
        FOk = FOk && FindNextFileA(FHandle, &FData) != FALSE;
        SkipDots();
    }
    const WIN32_FIND_DATAA &Data() const { return FData; }
    std::string Name() const { return FData.cFileName; }
    bool IsFolder() const { return (FData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
    bool IsReparsePoint() const { return (FData.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
    int64_t Size() const { return (int64_t(FData.nFileSizeHigh) << 32) | FData.nFileSizeLow; }

private:
    void SkipDots()
    {
        while (FOk && FData.cFileName[0] == '.' &&
               (FData.cFileName[1] == 0 || (FData.cFileName[1] == '.' && FData.cFileName[2] == 0)))
            FOk = FindNextFileA(FHandle, &FData) != FALSE;
    }

    HANDLE FHandle = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAA FData{};
    bool FOk = false;
    bool FOpened = false;
};

// An open registry key. Open and Create add the calling thread's view flag
// (RegistryU); they return the registry's result code, and on failure the
// owner holds no key.
class TRegKey {
public:
    TRegKey() = default;
    ~TRegKey() { Close(); }
    TRegKey(const TRegKey &) = delete;
    TRegKey &operator=(const TRegKey &) = delete;

    LONG Open(HKEY root, const std::string &key, REGSAM access);
    LONG Create(HKEY root, const std::string &key, REGSAM access);
    LONG Close();
    HKEY Get() const { return FKey; }
    explicit operator bool() const { return FKey != nullptr; }

private:
    HKEY FKey = nullptr;
};

// A COM interface pointer; released once.
template <class T>
class TComPtr {
public:
    TComPtr() = default;
    ~TComPtr() { Release(); }
    TComPtr(const TComPtr &) = delete;
    TComPtr &operator=(const TComPtr &) = delete;

    T *Get() const { return FPtr; }
    T *operator->() const { return FPtr; }
    explicit operator bool() const { return FPtr != nullptr; }
    // For the out-parameter of a creating call; releases what was held.
    T **Put()
    {
        Release();
        return &FPtr;
    }
    void **PutVoid() { return reinterpret_cast<void **>(Put()); }
    void Release()
    {
        if (FPtr) FPtr->Release();
        FPtr = nullptr;
    }

private:
    T *FPtr = nullptr;
};
