#include "platform/FileResourceU.h"

#include "platform/FileU.h"

#include <windows.h>

namespace {

class DataModule {
public:
    explicit DataModule(const std::string &fileName)
        : h_(LoadLibraryExA(fileName.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}
    ~DataModule() { if (h_) FreeLibrary(h_); }
    DataModule(const DataModule &) = delete;
    DataModule &operator=(const DataModule &) = delete;
    HMODULE get() const { return h_; }
private:
    HMODULE h_;
};

void SplitLines(const char *data, size_t size, std::vector<std::string> &list)
{
    size_t start = 0;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != '\r' && data[i] != '\n') continue;
        list.emplace_back(data + start, i - start);
        if (data[i] == '\r' && i + 1 < size && data[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < size) list.emplace_back(data + start, size - start);
}

bool LoadFrom(HMODULE module, const std::string &name, std::vector<std::string> &list)
{
    list.clear();
    if (!module) return false;
    HRSRC info = FindResourceA(module, name.c_str(), MAKEINTRESOURCEA(10) /* RT_RCDATA */);
    if (!info) return false;
    HGLOBAL loaded = LoadResource(module, info);
    const void *data = loaded ? LockResource(loaded) : nullptr;
    if (!data) return false;
    SplitLines(static_cast<const char *>(data), SizeofResource(module, info), list);
    return true;
}

} // namespace

bool LoadTextResource(const std::string &name, std::vector<std::string> &list)
{
    try {
        return LoadFrom(GetModuleHandleA(nullptr), name, list);
    } catch (...) {
        list.clear();
        return false;
    }
}

bool LoadTextResourceFrom(const std::string &fileName, const std::string &name,
                          std::vector<std::string> &list)
{
    try {
        if (fileName.empty()) return LoadTextResource(name, list);
        list.clear();
        if (!FileExists(fileName)) return false;
        DataModule module(fileName);
        return LoadFrom(module.get(), name, list);
    } catch (...) {
        list.clear();
        return false;
    }
}
