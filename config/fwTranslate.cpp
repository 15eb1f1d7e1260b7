#include "config/fwTranslate.h"
#include "config/fwTrust.h"
#include "platform/HandlesU.h"

#include "platform/DirectoryU.h"
#include "platform/FileResourceU.h"
#include "platform/FileU.h"
#include "platform/FileVersionU.h"
#include "platform/RegistryU.h"
#include "config/IniFileWU.h"
#include "platform/TextU.h"
#include "config/fwCommon.h"
#include "config/fwSettings.h"

#include <windows.h>

#include <cwctype>
#include <memory>
#include <mutex>

namespace {

const wchar_t BrandName[] = L"Tovu";
const wchar_t BrandDomain[] = L"tovu.example.org";
const char SettingsKey[] = "Software\\Tovu";

std::mutex Lock;  // guards the places, the open table and the language
std::unique_ptr<TIniFileW> Table;
std::string Language = "en";
std::string Folder;                    // empty: CommonDataFolder\Translate\ .
std::string VersionKey = SettingsKey;  // HKLM key of "LngVer"

std::wstring Widen(const std::string &utf8) { return Utf8ToWide(utf8); }

std::string TranslationFolder()
{
    if (!Folder.empty()) return Folder;
    std::string common = CommonDataFolder();
    return common.empty() ? std::string() : common + "Translate\\";
}

// The table travels in the main program; the console front-end and the tests
// carry their own copy, used when no main program stands beside them.
std::string TableSource()
{
    std::string main = ProgramFolder() + "Tovu.exe";
    return FileExists(main) ? main : std::string();
}

std::string SourceVersion(const std::string &source)
{
    if (!source.empty()) return FileVersionText(source);
    char self[MAX_PATH * 2] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    return FileVersionText(self);
}

void ReplaceAllNoCase(std::wstring &text, const std::wstring &what, const std::wstring &with)
{
    auto lower = [](std::wstring s) {
        for (wchar_t &c : s) c = wchar_t(std::towlower(c));
        return s;
    };
    const std::wstring needle = lower(what);
    std::wstring hay = lower(text);
    size_t at = 0;
    while ((at = hay.find(needle, at)) != std::wstring::npos) {
        text.replace(at, what.size(), with);
        hay.replace(at, what.size(), lower(with));
        at += with.size();
    }
}

bool ContainsNoCase(const std::wstring &text, const std::wstring &what)
{
    auto lower = [](std::wstring s) {
        for (wchar_t &c : s) c = wchar_t(std::towlower(c));
        return s;
    };
    return lower(text).find(lower(what)) != std::wstring::npos;
}

// Configuration values are narrow text in the system code page.
std::wstring FromCodePage(const std::string &text) { return AnsiToWide(text); }

void LoadLocked()
{
    try {
        const std::string folder = TranslationFolder();
        if (folder.empty()) return;
        const std::string file = folder + "lng.ini";
        const std::string source = TableSource();
        const std::string version = SourceVersion(source);
        std::vector<std::string> lines;
        bool fresh = false;
        std::string stored;
        // A table someone else placed is replaced like an outdated one: its
        // texts reach every window of the elevated program.
        const bool distrusted = FileExists(file) && !TrustedMachineFile(file);
        if (distrusted || !RegReadStr(HKEY_LOCAL_MACHINE, VersionKey, "LngVer", stored) || stored != version) {
            if (LoadTextResourceFrom(source, "TRANSLATE", lines)) {
                if (FileExists(file)) DeleteFileForce(file);
                Table.reset();
                fresh = true;
            }
        }
        if (Table) return;
        const bool made = !DirectoryExists(folder);
        if (!FileExists(file) && (fresh || LoadTextResourceFrom(source, "TRANSLATE", lines)) &&
            ForceDirectories(folder, false, true)) {
            if (made) ProtectMachineFile(folder);
            std::string text;
            for (const auto &l : lines) text += l + "\r\n";
            TOwnedHandle h(
                CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (h.Ok()) {
                DWORD n = 0;
                bool ok = WriteFile(h.Get(), text.data(), DWORD(text.size()), &n, nullptr) && n == text.size();
                ok = h.Close() && ok;
                // The version is recorded only after the file, so a failed
                // write is tried again at the next start.
                if (ok) RegWriteStr(HKEY_LOCAL_MACHINE, VersionKey, "LngVer", version);
                ProtectMachineFile(file);
            }
        }
        // Not replaceable: the built-in English texts serve.
        if (FileExists(file) && !TrustedMachineFile(file)) return;
        Table = std::make_unique<TIniFileW>(file);
    } catch (...) {
    }
}

std::vector<std::pair<std::string, std::string>> Languages()
{
    std::lock_guard<std::mutex> g(Lock);
    if (!Table) return {};
    return Table->ReadSectionValues("Languages");
}

} // namespace

void SetTranslationPlaces(const std::string &folder, const std::string &versionKey)
{
    std::lock_guard<std::mutex> g(Lock);
    Folder = folder;
    VersionKey = versionKey.empty() ? SettingsKey : versionKey;
    Table.reset();
}

void LoadTranslations()
{
    std::lock_guard<std::mutex> g(Lock);
    LoadLocked();
}

std::string ValidLanguage(const std::string &code)
{
    LoadTranslations();
    const std::string want = AsciiLower(code);
    for (const auto &entry : Languages())
        if (AsciiLower(entry.first) == want) return want;
    return "en";
}

void SettleLanguage()
{
    std::string stored, current;
    if (RegReadStr(HKEY_LOCAL_MACHINE, SettingsKey, "LANGUAGE", stored)) {
        current = ValidLanguage(stored);
        if (current != stored) current = ValidLanguage(UserLanguageCode());
    } else {
        current = ValidLanguage(UserLanguageCode());
    }
    SetCurrentLanguage(current);
}

std::wstring LanguageNames(const std::wstring &separator)
{
    std::wstring out;
    bool first = true;
    for (const auto &entry : Languages()) {
        if (!first) out += separator;
        out += Widen(entry.second);
        first = false;
    }
    return out;
}

std::wstring LanguageCodeAt(int index)
{
    auto langs = Languages();
    if (index < 0 || index >= int(langs.size())) return {};
    return Widen(AsciiLower(langs[index].first));
}

int LanguageIndex(const std::string &code)
{
    auto langs = Languages();
    for (size_t i = 0; i < langs.size(); ++i)
        if (AsciiLower(langs[i].first) == AsciiLower(code)) return int(i);
    return -1;
}

std::string CurrentLanguage()
{
    std::lock_guard<std::mutex> g(Lock);
    return Language;
}

void SetCurrentLanguage(const std::string &code)
{
    std::lock_guard<std::mutex> g(Lock);
    Language = AsciiLower(code);
}

std::wstring ReplacePlaceholders(const std::wstring &text)
{
    std::wstring s = text;
    SYSTEMTIME now;
    GetLocalTime(&now);
    ReplaceAllNoCase(s, L"%BRAND%", BrandName);
    ReplaceAllNoCase(s, L"%BRAND_DOMAIN%", BrandDomain);
    // Looked up only when used: every visible text passes through here, and
    // each lookup reads two registry keys. A set "PHONE_US" stands in for the
    // support number, as it does in the main window's header.
    if (ContainsNoCase(s, L"%SUPPORT_PHONE%")) {
        std::string phone = ConfigValue("PHONE_US");
        if (phone.empty()) phone = ConfigValue("SUPPORT_PHONE");
        ReplaceAllNoCase(s, L"%SUPPORT_PHONE%", FromCodePage(phone));
    }
    if (ContainsNoCase(s, L"%SUPPORT_MAIL%"))
        ReplaceAllNoCase(s, L"%SUPPORT_MAIL%", FromCodePage(ConfigValue("SUPPORT_MAIL")));
    ReplaceAllNoCase(s, L"%#%", L"\u2022");
    ReplaceAllNoCase(s, L"%C%", L"\u00A9");
    ReplaceAllNoCase(s, L"%YEAR%", std::to_wstring(now.wYear));
    ReplaceAllNoCase(s, L"|", L"\r\n");
    return s;
}

std::wstring Translate(const std::string &key, const std::wstring &def)
{
    std::wstring result;
    {
        std::lock_guard<std::mutex> g(Lock);
        if (Table) {
            try {
                result = Table->ReadString(Widen(Language), Widen(key), def);
            } catch (...) {
                result.clear();
            }
        }
    }
    if (result.empty()) result = def;
    return ReplacePlaceholders(result);
}

std::wstring TranslateText(const std::string &key, const std::wstring &text)
{
    size_t eq = text.find(L'=');
    if (eq == std::wstring::npos) return Translate(key, text);
    std::wstring k = text.substr(0, eq);
    return Translate(std::string(k.begin(), k.end()), text.substr(eq + 1));
}
