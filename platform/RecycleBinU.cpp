#include "platform/RecycleBinU.h"

#include <windows.h>
#include <shellapi.h>

namespace {

bool Query(int64_t &size, int64_t &items)
{
    SHQUERYRBINFO info = {};
    info.cbSize = sizeof info;
    size = items = 0;
    if (FAILED(SHQueryRecycleBinA(nullptr, &info))) return false;
    size = info.i64Size;
    items = info.i64NumItems;
    return true;
}

} // namespace

bool IsRecycleBinEmpty()
{
    // A bin that cannot be queried is treated as empty: nothing is offered
    // for cleaning that could not be measured.
    int64_t size, items;
    return !Query(size, items) || (size == 0 && items == 0);
}

bool RecycleBinInfo(int64_t &size, int64_t &items)
{
    return Query(size, items);
}

bool EmptyRecycleBin(const std::string &root, bool confirm, bool progress, bool sound)
{
    DWORD flags = (confirm ? 0 : SHERB_NOCONFIRMATION) | (progress ? 0 : SHERB_NOPROGRESSUI) |
                  (sound ? 0 : SHERB_NOSOUND);
    return SUCCEEDED(SHEmptyRecycleBinA(nullptr, root.empty() ? nullptr : root.c_str(), flags));
}

void UpdateRecycleBinIcon()
{
    // Exported by shell32 but declared in no header of the tool chain; looked
    // up by name, so that a shell32 without it only costs the icon refresh.
    using Fn = void(WINAPI *)();
    static const Fn update = reinterpret_cast<Fn>(
        GetProcAddress(GetModuleHandleA("shell32.dll"), "SHUpdateRecycleBinIcon"));
    if (update) update();
}
