#include "engine/fwCleanRep.h"
#include "platform/TextU.h"

#include "config/fwTrust.h"
#include "platform/XMLLinesU.h"

#include "backup/fwBackup.h"
#include "engine/fwClassesEx.h"
#include "platform/DayNumberU.h"
#include "platform/DirectoryU.h"
#include "platform/FileU.h"
#include "platform/StreamU.h"
#include "platform/XMLU.h"
#include "config/fwCommon.h"

namespace {

const double KeepDays = 35;

std::unique_ptr<TfwCleanRep> Instance;

void AddHook(HKEY root, const std::string &key, const std::string &name, bool is64)
{
    if (Instance) Instance->Add(root, key, name, is64);
}

void SaveHook()
{
    if (Instance) Instance->Save();
}

} // namespace

TfwCleanRep::TfwCleanRep(const std::string &fileName) : FileName(fileName)
{
    if (FileName.empty()) {
        std::string folder = BackupFolder();
        if (!folder.empty()) FileName = folder + "cleanrep.xml";
    }
}

TfwCleanRep::~TfwCleanRep() = default;

std::vector<std::unique_ptr<TfwRegItem>> &TfwCleanRep::ListOf(HKEY root)
{
    return root == HKEY_LOCAL_MACHINE ? MachineEntries : root == HKEY_CLASSES_ROOT ? ClassesEntries : OtherEntries;
}

const std::vector<std::unique_ptr<TfwRegItem>> &TfwCleanRep::ListOf(HKEY root) const
{
    return root == HKEY_LOCAL_MACHINE ? MachineEntries : root == HKEY_CLASSES_ROOT ? ClassesEntries : OtherEntries;
}

void TfwCleanRep::Clear()
{
    MachineEntries.clear();
    ClassesEntries.clear();
    OtherEntries.clear();
}

void TfwCleanRep::Load()
{
    try {
        if (FileName.empty() || !FileExists(FileName)) return;
        // Hiding findings is steering the scan: only a list no standard user
        // could have written counts.
        if (!TrustedMachineFile(FileName)) return;
        std::string text;
        if (!ReadFileToString(FileName, text)) return;
        TfwCleanRep fresh(FileName);
        bool dropped = false, found = false;
        size_t children = 0, read = 0;
        const double oldest = DayNumberNow() - KeepDays;
        ReadEntryLines(
            text, "cleanrep", "reg",
            [&](TXMLTag *list) {
                found = list != nullptr;
                if (list) children = list->Children.size();
            },
            [&](TXMLTag *child) {
                ++read;
                auto entry = std::make_unique<TfwRegItem>(nullptr);
                entry->LoadFromXML(child);  // its answer is about list groups; entries have no fix mode
                if (entry->Date < oldest) {
                    dropped = true;
                    return;
                }
                fresh.ListOf(entry->Root).push_back(std::move(entry));
            });
        if (!found) return;
        // Anything else in the list, or a line that no longer reads, goes.
        if (read != children) dropped = true;
        MachineEntries = std::move(fresh.MachineEntries);
        ClassesEntries = std::move(fresh.ClassesEntries);
        OtherEntries = std::move(fresh.OtherEntries);
        if (dropped) Save();
    } catch (...) {
    }
}

bool TfwCleanRep::Save() const
{
    try {
        if (FileName.empty()) return false;
        size_t slash = FileName.find_last_of('\\');
        if (slash == std::string::npos || !DirectoryExists(FileName.substr(0, slash + 1))) return false;
        std::string text = "<cleanrep>\r\n";
        for (const auto *list : {&MachineEntries, &ClassesEntries, &OtherEntries})
            for (const auto &entry : *list) text += "    " + entry->GetXML() + "\r\n";
        text += "</cleanrep>\r\n";
        DeleteFileForce(FileName);
        TFileWriter file;
        file.EveryoneAccess = false;
        if (!file.Open(FileName)) return false;
        bool ok = file.WriteText(text) && file.Flush();
        file.Close();
        ProtectMachineFile(FileName);
        return ok;
    } catch (...) {
        return false;
    }
}

void TfwCleanRep::Add(HKEY root, const std::string &key, const std::string &name, bool is64)
{
    auto entry = std::make_unique<TfwRegItem>(nullptr);
    entry->Root = root;
    entry->Key = key;
    entry->ValueName = name;
    entry->Is64 = is64;
    entry->Date = DayNumberNow();
    if (Contains(*entry)) return;
    ListOf(root).push_back(std::move(entry));
}

bool TfwCleanRep::Contains(const TfwRegItem &item) const
{
    const auto &list = ListOf(item.Root);
    if (list.empty()) return false;
    const std::string key = LocaleUpper(item.Key), name = LocaleUpper(item.ValueName);
    for (const auto &entry : list)
        if (entry->Key.size() == key.size() && entry->ValueName.size() == name.size() &&
            LocaleUpper(entry->Key) == key && LocaleUpper(entry->ValueName) == name)
            return true;
    return false;
}

TfwCleanRep *EnsureCleanReport(const std::string &fileName)
{
    if (!Instance) {
        try {
            auto list = std::make_unique<TfwCleanRep>(fileName);
            list->Load();
            Instance = std::move(list);
            SetCleanReportHook(AddHook, SaveHook);
        } catch (...) {
        }
    }
    return Instance.get();
}

TfwCleanRep *ProcessCleanRep() { return Instance.get(); }
