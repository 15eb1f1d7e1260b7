// File entries of the clean lists and the recycle-bin scanner.
#include "engine/fwClassesEx.h"
#include "platform/TextU.h"

#include "engine/fwExceptions.h"
#include "engine/fwLogs.h"
#include "engine/fwTools.h"
#include "platform/DirectoryU.h"
#include "platform/FileU.h"
#include "platform/RecycleBinU.h"
#include "platform/SystemPathsU.h"
#include "platform/SystemPathsUtilsU.h"

#include <climits>
#include <memory>

namespace {

// Redirection off for the life of the object when the entry is a 64-bit one.
// When it cannot be switched off the entry would see the 32-bit folders, whose
// files are not the ones it names: Ok() is then false and the entry is left.
class TItemRedirection {
public:
    explicit TItemRedirection(bool is64)
    {
        if (is64) FOff = std::make_unique<TFsRedirectionOff>();
    }
    bool Ok() const { return !FOff || FOff->Ok(); }

private:
    std::unique_ptr<TFsRedirectionOff> FOff;
};

// A drive path ("C:\...") or a share ("\\server\..."). A macro that could not
// be resolved leaves a relative path, which would name whatever folder the
// process happens to be in.
bool IsFullPath(const std::string &p)
{
    const char d = char(p.empty() ? 0 : p[0] | 0x20);
    return (p.size() >= 3 && d >= 'a' && d <= 'z' && p[1] == ':' && p[2] == '\\') || p.compare(0, 2, "\\\\") == 0;
}

void DeleteListedFiles(const std::vector<TfwFoundFile> &files)
{
    for (const TfwFoundFile &f : files) {
        if (f.Path.empty() || f.Path.back() == '\\') continue;
        // A locked file stays; the next scan measures it again.
        if (DeleteFileForce(f.Path)) Trace("File deleted: " + f.Path, tcFix, tlDetail);
    }
}

} // namespace

// ---- file entries ------------------------------------------------------------

// A 64-bit entry names the 64-bit folders ("%PROGRAMFILES%" is the native
// one), as its fix and its file exceptions do; measuring the 32-bit folder
// would count one folder and clean another.
std::string TfwFileItem::SearchPattern() const
{
    std::string p = TrimA(Path);
    return Is64 ? ExpandPath64(p) : p;
}

std::wstring TfwFileItem::ReviewCaption() const
{
    if (!Caption.empty()) return Caption;
    return AnsiToWide(Is64 ? ExpandPath64(TrimA(Path)) : ExpandPath(TrimA(Path)));
}

bool TfwFileItem::IsFolderEntry() const
{
    std::string p = TrimA(Path);
    return !p.empty() && p.back() == '\\';
}

void TfwFileItem::Scan()
{
    if (Found || !ScanExists || (Is64 && !Is64BitOS())) return;
    try {
        TItemRedirection redirection(Is64);
        const std::string pattern = SearchPattern();
        if (!redirection.Ok() || !IsFullPath(ExpandPath(pattern))) return;
        auto list = std::make_unique<std::vector<TfwFoundFile>>();
        FindFiles(pattern, *list, false);
        FilterExceptedFiles(*list);
        if (list->empty()) return;
        Found = Selected = true;
        Size = SumSizes(*list);
        Why = std::to_string(list->size()) + (list->size() == 1 ? " entry" : " entries") + " of " +
              std::to_string(Size) + " bytes match " + ExpandPath(pattern) + (Is64 ? " (64-bit folders)" : "");
        Trace("BAD FILE:" + Path, tcScan, tlFinding);
        Trace("Found files: " + std::to_string(list->size()) + "\r\nTotal Size: " + std::to_string(Size), tcScan,
              tlFinding);
        for (const TfwFoundFile &f : *list) Trace(f.Path, tcScan, tlDetail);
        // A folder entry is cleaned as a whole by the fix; its list would only
        // hold memory.
        if (IsFolderEntry()) Files.reset();
        else Files = std::move(list);
    } catch (...) {
    }
}

void TfwFileItem::Fix()
{
    if (!Found || !Selected || FixMode == ffNone || (Is64 && !Is64BitOS())) return;
    try {
        TItemRedirection redirection(Is64);
        if (!redirection.Ok()) return;
        const std::string path = TrimA(Path);
        if (IsFolderEntry()) {
            const std::string folder = Is64 ? ExpandPath64(path) : ExpandPath(path);
            if (!IsFullPath(folder)) return;
            if (path.find('*') != std::string::npos) {
                // The matched folders stay, also with "del": the pattern names
                // no single folder to remove, and the files below them are
                // what the scan counted.
                std::vector<TfwFoundFile> list;
                FindFiles(folder, list, false);
                FilterExceptedFiles(list);
                DeleteListedFiles(list);
            } else if (FixMode == ffClean) {
                EmptyFolder(folder);
                Trace("Dir cleaned: " + folder, tcFix, tlDetail);
            } else {
                DeleteFolder(folder, true);
                Trace("Dir deleted: " + folder, tcFix, tlDetail);
            }
            return;
        }
        std::unique_ptr<std::vector<TfwFoundFile>> list = std::move(Files);
        if (!list) {
            const std::string pattern = SearchPattern();
            if (!IsFullPath(ExpandPath(pattern))) return;
            list = std::make_unique<std::vector<TfwFoundFile>>();
            FindFiles(pattern, *list, false);
            FilterExceptedFiles(*list);
        }
        DeleteListedFiles(*list);
    } catch (...) {
    }
}

// ---- recycle bin -------------------------------------------------------------

TfwRecycleBinShell TfwItemsRecycleBin::Shell = {IsRecycleBinEmpty, RecycleBinInfo, EmptyRecycleBin,
                                                UpdateRecycleBinIcon};

void TfwItemsRecycleBin::Scan()
{
    try {
        Trace("Scan type: RecycleBin", tcScan, tlStep);
        NotEmpty = !Shell.IsEmpty();
        int64_t size = 0, items = 0;
        if (Shell.Info(size, items)) {
            ItemCount = items;
            ByteCount = size;
        } else {
            ItemCount = NotEmpty ? 1 : 0;
            ByteCount = 0;
        }
        if (NotEmpty) Trace("RecycleBin is FULL " + std::to_string(ItemCount) + " items", tcScan, tlFinding);
        else Trace("RecycleBin is empty", tcScan, tlFinding);
        if (Main) Main->AddFound(FoundCount());
    } catch (...) {
    }
}

void TfwItemsRecycleBin::Fix()
{
    if (!NotEmpty) return;
    try {
        Trace("Cleaning RecycleBin", tcFix, tlStep);
        Shell.Empty("", false, false, false);
        Shell.UpdateIcon();
        Trace("RecycleBin cleaned", tcFix, tlStep);
    } catch (...) {
    }
}

int TfwItemsRecycleBin::FoundCount() const
{
    if (!NotEmpty) return 0;
    // The tree counts in int; a bin of more items still shows as full.
    return ItemCount > INT_MAX ? INT_MAX : ItemCount < 0 ? 0 : int(ItemCount);
}

int64_t TfwItemsRecycleBin::FoundSize() const { return ByteCount; }
