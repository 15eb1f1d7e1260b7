#include "engine/fwScanners.h"
#include "platform/TextU.h"

#include "engine/fwClassesEx.h"
#include "engine/fwExceptions.h"
#include "engine/fwLogs.h"
#include "engine/fwTools.h"
#include "platform/RegistryU.h"
#include "platform/SystemPathsU.h"

#include <vector>

namespace {

bool Resolves(const std::string &text, int mode)
{
    std::string path;
    return ResolveCommandTarget(text, mode, path);
}

// The default value of HKCR\key as trimmed text; false when the key or value
// is missing, unreadable or blank.
bool ReadServerValue(const std::string &key, std::string &value)
{
    DWORD type = 0;
    // The read fails for a missing key too; thousands of classes make the
    // separate existence test worth saving.
    if (!RegReadAnyStr(HKEY_CLASSES_ROOT, key, "", type, value)) return false;
    value = TrimA(value);
    return !value.empty();
}

enum TServerState { ssNone, ssResolved, ssMissing };

// A type library's file value: "file" or "file\<resource number>".
// value receives the server text that was read.
TServerState CheckTypeLibServer(const std::string &key, int mode, std::string &value)
{
    if (!ReadServerValue(key, value)) return ssNone;
    if (Resolves(value, mode)) return ssResolved;
    // Only a resource index may be cut off: cutting a file name would leave
    // its folder, which always exists, and hide every missing library.
    size_t slash = value.find_last_of('\\');
    if (slash != std::string::npos) {
        std::string tail = TrimA(value.substr(slash + 1));
        bool number = !tail.empty() && tail.find_first_not_of("0123456789") == std::string::npos;
        if (number && Resolves(value.substr(0, slash), mode)) return ssResolved;
    }
    Trace("TypeLib server does not exists: " + value, tcScan, tlDetail);
    return ssMissing;
}

} // namespace

bool RegKeySharedBetweenViews(HKEY root, const std::string &key)
{
    if (!Is64BitOS()) return false;
    std::string path32, path64;
    {
        TRegViewScope view(false, true);
        path32 = RegKeyKernelPath(root, key);
    }
    {
        TRegViewScope view(true, false);
        path64 = RegKeyKernelPath(root, key);
    }
    return !path32.empty() && lstrcmpiA(path32.c_str(), path64.c_str()) == 0;
}

void TfwItemsClassesKeys::Scan()
{
    if (!Main) return;
    try {
        Trace(std::string("Scan type: ") + RootKey(), tcScan, tlStep);
        const bool is64 = Is64BitOS();
        Step = 0;
        Steps = is64 ? 2 : 1;
        const bool shared = is64 && RegKeySharedBetweenViews(HKEY_CLASSES_ROOT, RootKey());

        Pass64 = false;
        {
            TRegViewScope view(false, true);
            Pass(shared ? vmBoth : vm32, false);
        }
        // A stop ends the pass; the next one ends at its first progress check.
        NextStep();

        if (is64) {
            Pass64 = true;
            TRegViewScope view(true, false);
            Pass(vm64, shared);
            NextStep();
        }
    } catch (...) {
    }
}

void TfwItemsClassesKeys::Pass(int mode, bool judgedAlready)
{
    std::vector<std::string> names;
    if (!RegEnumSubKeyNames(HKEY_CLASSES_ROOT, RootKey(), names)) return;
    SubStep = 0;
    SubSteps = int(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) NextSubStep();
        if (!Main->ReportProgress(false)) return;
        // The 32-bit pass already saw every key of a shared root.
        if (judgedAlready) continue;
        if (TrimA(names[i]).empty()) continue;
        const std::string key = std::string(RootKey()) + "\\" + names[i];
        Trace(key, tcScan, tlDetail);
        if (IsInstallerOwned(HKEY_CLASSES_ROOT, key)) {
            Trace("TrustedInstaller - " + key, tcScan, tlDetail);
            continue;
        }
        std::string reason, why;
        try {
            reason = Test(key, mode, why);
        } catch (...) {
            continue;  // unreadable counts as sound
        }
        if (reason.empty()) continue;

        auto *item = new TfwRegItem(this);
        item->Found = item->Selected = true;
        item->Root = HKEY_CLASSES_ROOT;
        item->Key = key;
        item->FixMode = fmDelete;
        item->Is64 = Pass64;
        item->Why = why;
        if (IsExcepted(*item)) {
            Trace("Registry IGNORED: " + key, tcScan, tlDetail);
            delete item;
            continue;
        }
        Add(item);
        Main->AddFound(1);
        AddKeyDetails(this, *item);
        Trace("BAD REGISTRY:" + RegFullKeyName(HKEY_CLASSES_ROOT, key), tcScan, tlFinding);
        Trace(reason, tcScan, tlFinding);
        Trace("", tcScan, tlFinding);
    }
}

std::string TfwItemsCLSID::Test(const std::string &key, int mode, std::string &why)
{
    static const char *const servers[] = {"InprocServer32", "LocalServer32", "InprocHandler32",
                                          "InprocServer",   "LocalServer",   "InprocHandler"};
    bool missing = false;
    for (const char *server : servers) {
        std::string value;
        if (!ReadServerValue(key + "\\" + server, value)) continue;
        if (Resolves(value, mode)) return {};
        Trace("COM server does not exists: " + value, tcScan, tlDetail);
        if (!missing) why = std::string(server) + " " + MissingFileWhy(value, mode);
        missing = true;
    }
    return missing ? "Server does not exist!" : "";
}

std::string TfwItemsInterfaces::Test(const std::string &key, int, std::string &why)
{
    const std::string sub = key + "\\TypeLib";
    DWORD type = 0;
    std::string value;
    if (!RegKeyExists(HKEY_CLASSES_ROOT, sub) || !RegReadAnyStr(HKEY_CLASSES_ROOT, sub, "", type, value)) return {};
    value = TrimA(value);
    if (!value.empty() && RegKeyExists(HKEY_CLASSES_ROOT, "TypeLib\\" + value)) return {};
    why = value.empty() ? "TypeLib subkey names no type library"
                        : "type library " + value + " not registered (HKCR\\TypeLib)";
    return "Referenced TypeLib does not exist:  " + value;
}

std::string TfwItemsTypelib::Test(const std::string &key, int mode, std::string &why)
{
    const bool is64 = Is64BitOS();
    bool missing = false;
    std::vector<std::string> versions, subkeys;
    if (!RegEnumSubKeyNames(HKEY_CLASSES_ROOT, key, versions)) return {};
    for (const std::string &version : versions) {
        if (TrimA(version).empty()) continue;
        if (!RegEnumSubKeyNames(HKEY_CLASSES_ROOT, key + "\\" + version, subkeys)) continue;
        for (const std::string &sub : subkeys) {
            const std::string p = key + "\\" + version + "\\" + sub + "\\";
            std::string value;
            TServerState state = CheckTypeLibServer(p + "win32", mode, value);
            if (state == ssResolved) return {};
            if (state == ssMissing) {
                if (!missing) why = "win32 server " + MissingFileWhy(value, mode);
                missing = true;
            }
            if (is64) {
                state = CheckTypeLibServer(p + "win64", vm64, value);
                if (state == ssResolved) return {};
                if (state == ssMissing) {
                    if (!missing) why = "win64 server " + MissingFileWhy(value, vm64);
                    missing = true;
                }
            }
        }
    }
    return missing ? "TypeLib server does not exist!" : "";
}
