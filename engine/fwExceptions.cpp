#include "engine/fwExceptions.h"
#include "platform/TextU.h"

#include "engine/fwClassesEx.h"
#include "engine/fwCleanRep.h"
#include "engine/fwLogs.h"
#include "platform/ObjectSecurityU.h"
#include "platform/RegistryU.h"
#include "platform/SystemPathsU.h"
#include "platform/SystemPathsUtilsU.h"
#include "platform/XMLU.h"

#include <algorithm>
#include <memory>

namespace {

std::unique_ptr<TfwExceptions> Instance;

} // namespace

TfwExceptions *ProcessExceptions(bool create)
{
    if (!Instance && create) Instance = std::make_unique<TfwExceptions>();
    return Instance.get();
}

void TfwExceptions::LoadFromXML(TXMLTag *tag)
{
    for (TXMLTag *child : tag->Children) {
        if (child->Name == "reg") {
            TfwRegException e;
            e.Root = RegRootFromName(child->GetAttr("root"));
            e.Key = AsciiUpper(HexUnescape(child->GetAttr("key")));
            while (!e.Key.empty() && e.Key.back() == '\\') e.Key.pop_back();
            e.ValueName = AsciiUpper(HexUnescape(child->GetAttr("name")));
            e.Is64 = child->GetAttr("is64") == "1";
            std::string ignore = LocaleLower(child->GetAttr("ignore"));
            e.Ignore = ignore == "key" ? 1 : ignore == "value" ? 2 : 0;
            if (!e.Root || e.Key.empty() || e.Ignore == 0) {
                Trace("INVALID Registry Exception!!!", tcLoad, tlDetail);
                continue;
            }
            RegExceptions.push_back(e);
        } else if (child->Name == "file") {
            std::string path = TrimA(child->GetAttr("path"));
            bool is64 = child->GetAttr("is64") == "1";
            if (is64 && !Is64BitOS()) {
                Trace("IGNORED 64-bit File Exception: " + path, tcLoad, tlDetail);
                continue;
            }
            std::string full = LocaleLower(is64 ? ExpandPath64(path) : ExpandPath(path));
            if (full.empty()) continue;
            FileExceptions.insert(std::lower_bound(FileExceptions.begin(), FileExceptions.end(), full), full);
        }
    }
}

bool TfwExceptions::IsRegExcepted(const TfwRegItem &item) const
{
    std::string key = item.Key;
    while (!key.empty() && key.back() == '\\') key.pop_back();
    key = AsciiUpper(key);
    for (const auto &e : RegExceptions) {
        if (e.Root != item.Root) continue;
        // A plain text prefix: an exception for SOFTWARE\FOO also covers SOFTWARE\FOOBAR.
        if (e.Ignore == 1 && key.compare(0, e.Key.size(), e.Key) == 0) return true;
        if (e.Ignore == 2 && key == e.Key && AsciiUpper(item.ValueName) == e.ValueName) return true;
    }
    return false;
}

bool TfwExceptions::IsFileExcepted(const std::string &path) const
{
    std::string p = LocaleLower(path);
    size_t slash = p.find_last_of("\\/");
    if (p.compare(slash == std::string::npos ? 0 : slash + 1, std::string::npos, "desktop.ini") == 0) return true;
    return std::binary_search(FileExceptions.begin(), FileExceptions.end(), p);
}

bool TfwExceptions::RemoveExceptedFiles(std::vector<std::string> &paths) const
{
    bool removed = false;
    for (size_t i = paths.size(); i-- > 0;) {
        if (IsFileExcepted(paths[i])) {
            paths.erase(paths.begin() + i);
            removed = true;
        }
    }
    return removed;
}

bool IsExcepted(const TfwRegItem &item)
{
    try {
        if (TfwExceptions *ex = ProcessExceptions(); ex && ex->IsRegExcepted(item)) return true;
    } catch (...) {
    }
    try {
        if (TfwCleanRep *cleaned = ProcessCleanRep(); cleaned && cleaned->Contains(item)) return true;
    } catch (...) {
    }
    return false;
}

void FilterExceptedFiles(std::vector<std::string> &paths)
{
    if (TfwExceptions *ex = ProcessExceptions()) ex->RemoveExceptedFiles(paths);
}

void FilterExceptedFiles(std::vector<TfwFoundFile> &files)
{
    TfwExceptions *ex = ProcessExceptions();
    if (!ex) return;
    files.erase(std::remove_if(files.begin(), files.end(),
                               [&](const TfwFoundFile &f) { return ex->IsFileExcepted(f.Path); }),
                files.end());
}

// The installer service's own identifier, the same on every system. Its name
// comes from the system's account lookup, which can fail (Wine knows no such
// account); the identifier keeps the key protected then.
const char InstallerServiceSid[] = "S-1-5-80-956008885-3418522649-1831038044-1850242994-2273714754";

bool IsInstallerOwned(HKEY root, const std::string &key)
{
    try {
        if (OSVersionClass() <= OSClassServer2003) return false;
        const TKeyOwner owner = RegKeyOwnerOf(root, key);
        return LocaleLower(owner.Account) == "trustedinstaller" || owner.Sid == InstallerServiceSid;
    } catch (...) {
        return false;
    }
}
