// The missing-files scanner: walks whole registry trees and reports string
// values that name a file on a fixed drive that is no longer there.
//
// Cost is dominated by the number of keys, so every value first passes cheap
// text tests and the fixed-drive test before any file probe is made, and the
// user interface is only told about progress at the throttled rate.
#include "engine/fwClassesEx.h"
#include "platform/TextU.h"
#include "engine/fwCleanRep.h"
#include "engine/fwExceptions.h"
#include "engine/fwLogs.h"
#include "engine/fwTools.h"

#include "backup/fwBackup.h"
#include "platform/HashU.h"
#include "platform/RegistryU.h"
#include "platform/SystemPathsU.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace {

const int MaxDepth = 25;

bool SameText(const std::string &a, const std::string &b)
{
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

struct TCaseLess {
    bool operator()(const std::string &a, const std::string &b) const { return lstrcmpiA(a.c_str(), b.c_str()) < 0; }
};

std::wstring ToWide(const std::string &s) { return AnsiToWide(s); }

// A finding. The shared registry item deletes the whole key when asked to
// delete an entry without a value name; here an empty name is the key's
// default value, and only that value may go.
class TfwMissingFileItem : public TfwRegItem {
public:
    using TfwRegItem::TfwRegItem;

    void Backup() override
    {
        if (!ValueName.empty()) return TfwRegItem::Backup();
        if (IsDetail || !Found || !Selected) return;
        try {
            BackupValue(Root, Key, "", false, Is64);
        } catch (...) {
        }
    }
    void Fix() override
    {
        if (!ValueName.empty()) return TfwRegItem::Fix();
        if (IsDetail || !Found || !Selected) return;
        try {
            if (Is64 && !Is64BitOS()) return;
            Trace("Delete value: " + RegFullKeyName(Root, Key) + "\\#", tcFix, tlDetail);
            TRegViewScope view = TRegViewScope::ForItem(Is64, Is64BitOS());
            if (RegRemoveValue(Root, Key, ""))
                if (TfwCleanRep *cleaned = ProcessCleanRep()) cleaned->Add(Root, Key, "", Is64);
        } catch (...) {
        }
    }
};

// One pass (one registry view) over the scan list.
class TMissingWalk {
public:
    // walked: on a 64-bit system, the keys whose values a pass has tested,
    // by the hash of their kernel name; the 32-bit pass fills it (unsorted),
    // the 64-bit pass reads it (sorted).
    TMissingWalk(TfwItemsMissingFiles &owner, bool pass64, std::set<std::string, TCaseLess> &reported,
                 std::vector<uint64_t> *walked)
        : S(owner), Pass64(pass64), Reported(reported), Walked(walked)
    {
    }

    void Walk(const std::string &rootName, HKEY root, const std::string &key, int depth)
    {
        if (depth > MaxDepth) return;
        // Forcing a report on every key would call the user interface tens of
        // thousands of times; only the start of a scan root is forced.
        if (!S.Main->ReportProgress(depth == 0)) return;
        const std::string full = rootName + "\\" + key;
        if (std::binary_search(S.IgnoreList.begin(), S.IgnoreList.end(), full, TCaseLess())) {
            if (RegKeyExists(root, key)) WalkSpecials(full, depth);
            return;
        }
        // One open per key: reading each value by name opened the key again
        // for its type and for its text.
        std::vector<std::string> subkeys;
        {
            TRegKey k;
            if (k.Open(root, key, KEY_READ) != ERROR_SUCCESS) return;
            // The kernel's name of the key, asked for once per key where
            // there are two views to tell apart.
            const std::string kernel = Walked ? RegKeyKernelPath(k.Get()) : std::string();
            if (!TestedInFirstPass(kernel)) {
                std::vector<TRegValueData> values;
                RegReadValues(k.Get(), values);
                // The default value first, then the named ones.
                for (const TRegValueData &v : values)
                    if (v.Name.empty()) TestValue(rootName, root, key, kernel, v);
                for (const TRegValueData &v : values)
                    if (!v.Name.empty()) TestValue(rootName, root, key, kernel, v);
            }
            RegReadSubKeyNames(k.Get(), subkeys);
        }

        const bool counted = depth == 0 || SameText(key, "SOFTWARE\\Classes");
        if (counted) {
            S.SubSteps += int(subkeys.size());
            if (SameText(key, "SOFTWARE")) {
                auto classes = std::find_if(subkeys.begin(), subkeys.end(),
                                            [](const std::string &n) { return SameText(n, "Classes"); });
                if (classes != subkeys.end() && classes != subkeys.begin()) std::iter_swap(classes, subkeys.begin());
            }
        }
        for (size_t i = 0; i < subkeys.size(); ++i) {
            if (!subkeys[i].empty()) Walk(rootName, root, key.empty() ? subkeys[i] : key + "\\" + subkeys[i], depth + 1);
            if (counted) {
                if (i > 0) S.NextSubStep();
                if (!S.Main->ReportProgress(false)) break;
            }
        }
    }

private:
    TfwItemsMissingFiles &S;
    bool Pass64;
    std::set<std::string, TCaseLess> &Reported;
    std::vector<uint64_t> *Walked;

    // Most keys are the same physical key in both views. Their values are
    // tested once: every test of a value gives the same answer in either
    // view, and a value the first pass reported the second would drop as
    // reported already. Their subkeys are still walked, as a subkey can be
    // one of the keys the views keep apart.
    bool TestedInFirstPass(const std::string &kernel)
    {
        if (!Walked || kernel.empty()) return false;
        const uint64_t hash = NameHash64(kernel, false);
        if (!Pass64) {
            Walked->push_back(hash);
            return false;
        }
        return std::binary_search(Walked->begin(), Walked->end(), hash);
    }

    void WalkSpecials(const std::string &full, int depth)
    {
        const std::string upperFull = LocaleUpper(full);
        const bool endsWithSlash = !full.empty() && full.back() == '\\';
        for (const std::string &entry : S.SpecialList) {
            std::string upper = LocaleUpper(entry);
            if (upper.size() <= upperFull.size() || upper.compare(0, upperFull.size(), upperFull) != 0) continue;
            if (!endsWithSlash && upper[upperFull.size()] != '\\') continue;
            HKEY root = nullptr;
            std::string key;
            if (!RegSplitKeyName(entry, root, key) || !root) continue;
            Walk(entry.substr(0, entry.find('\\')), root, key, depth + 1);
        }
    }

    bool IsListedException(const std::string &key, const std::string &name) const
    {
        const std::string upperKey = LocaleUpper(key);
        for (const std::string &e : S.ExceptList) {
            size_t eq = e.find('=');
            if (eq == std::string::npos) continue;
            std::string part = LocaleUpper(e.substr(0, eq));
            if (upperKey.find(part) != std::string::npos && SameText(name, e.substr(eq + 1))) return true;
        }
        return false;
    }

    static bool IsCandidate(const std::string &v)
    {
        if (v.empty()) return false;
        if (v.find(':') == std::string::npos && v.find('%') == std::string::npos) return false;
        if (v.find('\0') != std::string::npos || v.find('\r') != std::string::npos ||
            v.find(';') != std::string::npos || v.find("\\ ") != std::string::npos)
            return false;
        return IsOnFixedDrive(v);
    }

    // keyKernel: the kernel's name of the key, or empty when not known yet.
    void TestValue(const std::string &rootName, HKEY root, const std::string &key, const std::string &keyKernel,
                   const TRegValueData &value)
    {
        try {
            if (value.Type != REG_SZ && value.Type != REG_EXPAND_SZ) return;
            const std::string &name = value.Name;
            const std::string raw = value.Text();
            const std::string v = TrimA(raw);
            if (!IsCandidate(v)) return;
            if (!S.Main->ReportProgress(false)) return;
            // The same physical key can be reached through both views. The
            // second pass drops what the first reported before probing for
            // the file: the probes cost more than the key's name.
            std::string kernel = keyKernel;
            if (Pass64) {
                if (kernel.empty()) kernel = RegKeyKernelPath(root, key);
                if (!kernel.empty() && Reported.count(rootName + "\\" + kernel + "\t" + name)) return;
            }
            std::string resolved;
            if (ResolveCommandTarget(v, vmBoth, resolved)) return;
            if (IsListedException(key, name)) return;
            // A value whose wide text the code page cannot carry reads as a
            // different, usually nonexistent, path through the narrow API.
            std::wstring wide;
            if (RegReadStrW(root, key, name, wide) && lstrcmpiW(wide.c_str(), ToWide(raw).c_str()) != 0) return;
            if (!S.Main->ReportProgress(false)) return;
            if (kernel.empty()) kernel = RegKeyKernelPath(root, key);
            if (!kernel.empty() && !Reported.insert(rootName + "\\" + kernel + "\t" + name).second) return;

            auto *item = new TfwMissingFileItem(&S);
            item->Found = item->Selected = true;
            item->Root = root;
            item->Key = key;
            item->ValueName = name;
            item->Value = raw;
            item->FixMode = fmDelete;
            item->Is64 = Pass64;
            item->Why = MissingFileWhy(v, vmBoth);
            if (IsExcepted(*item)) {
                Trace("Registry IGNORED: " + std::to_string(Pass64 ? 2 : 1) + " " + rootName + "\\" + key + "\\#" +
                          name,
                      tcScan, tlFinding);
                delete item;
                return;
            }
            S.Add(item);
            S.Main->AddFound(1);
            S.Main->ReportProgress(false);
        } catch (...) {
        }
    }
};

} // namespace

void TfwItemsMissingFiles::Scan()
{
    const bool is64 = Is64BitOS();
    Step = 0;
    Steps = int(ScanList.size()) * (is64 ? 2 : 1);
    std::set<std::string, TCaseLess> reported;
    std::vector<uint64_t> walked;
    for (int pass = 0; pass < (is64 ? 2 : 1); ++pass) {
        const bool pass64 = pass == 1;
        if (pass64) {
            std::sort(walked.begin(), walked.end());
            walked.erase(std::unique(walked.begin(), walked.end()), walked.end());
        }
        TRegViewScope view(pass64, !pass64);
        TMissingWalk walk(*this, pass64, reported, is64 ? &walked : nullptr);
        for (const std::string &entry : ScanList) {
            HKEY root = nullptr;
            std::string key;
            if (!RegSplitKeyName(entry, root, key) || !root) continue;
            SubStep = SubSteps = 0;
            try {
                walk.Walk(entry.substr(0, entry.find('\\')), root, key, 0);
            } catch (...) {
            }
            NextStep();
        }
    }
}
