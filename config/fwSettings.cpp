#include "config/fwSettings.h"
#include "platform/TextU.h"

#include "platform/DayNumberU.h"
#include "platform/FileResourceU.h"
#include "platform/ProcessU.h"
#include "platform/RegistryU.h"
#include "platform/ShellU.h"
#include "config/fwTranslate.h"

#include <cmath>
#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

namespace {

const char DefaultKey[] = "Software\\Tovu";

// Used when neither the registry nor the program's resource has the key; the
// tray program's resource carries only CFG_ID, so these are what it sees.
const std::pair<const char *, const char *> BuiltInDefaults[] = {
    {"CFG_ID", "0"},
    {"HOMEPAGE_URL", "https://www.tovu.example.org/?lng=%LNG%"},
    {"TERMS_URL", "https://www.tovu.example.org/terms/"},
    {"PRIVACY_URL", "https://www.tovu.example.org/privacy/"},
    {"HELPPAID_URL", "https://www.tovu.example.org/help/?lng=%LNG%"},
    {"TESTIMONIAL_READ", "https://www.tovu.example.org/testimonials/?lng=%LNG%"},
    {"LI_URL", "https://service.tovu.example.org/client.asmx/GetXML?action=%ACTION%&cr=%CU%"},
    {"ADDON_URL", "https://service.tovu.example.org/addons.asmx"},
    {"UPDATE_URL", "https://service.tovu.example.org/update.asmx/Check?cfg=%CFG_ID%&uid=%UID%&lng=%LNG%"},
    {"SUPPORT_MAIL", "support@tovu.example.org"},
    {"SUPPORT_PHONE", "1-800-555-0142"},
    {"PHONE_US", ""},
    {"PHONE_NONUS", ""},
    {"TRACK_USER", "0"},
};

std::mutex Lock;  // guards everything below
std::string Key = DefaultKey;
TSettings Current;
bool ConfigLoaded = false;
std::vector<std::pair<std::string, std::string>> Config;  // lower-cased names

void LoadConfigLocked()
{
    Config.clear();
    ConfigLoaded = true;
    std::vector<std::string> lines;
    if (!LoadTextResource("CONFIG", lines)) return;
    for (const auto &line : lines) {
        size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0) continue;
        Config.emplace_back(AsciiLower(line.substr(0, eq)), line.substr(eq + 1));
    }
}

bool ResourceValue(const std::string &name, std::string &value)
{
    std::lock_guard<std::mutex> g(Lock);
    if (!ConfigLoaded) LoadConfigLocked();
    const std::string want = AsciiLower(name);
    for (const auto &entry : Config)
        if (entry.first == want) {
            value = entry.second;
            return true;
        }
    return false;
}

// Values that come from the registry must not change the shape of the
// address they are put into: an "&", "#" or "%" in them would add parameters,
// cut the query or form a new placeholder.
std::string UrlEncode(const std::string &s)
{
    static const char Hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
            c == '.' || c == '_' || c == '~') {
            out += char(c);
        } else {
            out += '%';
            out += Hex[c >> 4];
            out += Hex[c & 15];
        }
    }
    return out;
}

void ReplaceAllNoCase(std::string &text, const std::string &what, const std::string &with)
{
    const std::string needle = AsciiUpper(what);
    std::string hay = AsciiUpper(text);
    size_t at = 0;
    while ((at = hay.find(needle, at)) != std::string::npos) {
        text.replace(at, what.size(), with);
        hay.replace(at, what.size(), AsciiUpper(with));
        at += with.size();
    }
}

bool Contains(const std::string &address, const std::string &placeholder)
{
    return AsciiUpper(address).find(placeholder) != std::string::npos;
}

std::string DaysSince(double date)
{
    char buf[400];
    // The stored date went through a double; x87 code keeps "now" in extended
    // precision, so within the same millisecond it could come out a hair below
    // the stored value and count as -1 day. Round it to a double first.
    volatile double now = DayNumberNow();
    // "+ 0.0" turns a negative zero into "0".
    std::snprintf(buf, sizeof buf, "%.0f", std::floor(now - date) + 0.0);
    return buf;
}

// Every settings access names the 32-bit view itself: the engine's threads
// switch to the 64-bit view per item and may call in here meanwhile.
struct TSettingsView : TRegViewScope {
    TSettingsView() : TRegViewScope(false, true) {}
};

} // namespace

bool ConfigResourceValue(const std::string &name, std::string &value)
{
    value.clear();
    return ResourceValue(name, value);
}

std::string SettingsKeyPath()
{
    std::lock_guard<std::mutex> g(Lock);
    return Key;
}

void SetSettingsKeyPath(const std::string &key)
{
    std::lock_guard<std::mutex> g(Lock);
    Key = key.empty() ? DefaultKey : key;
}

TSettings Settings()
{
    std::lock_guard<std::mutex> g(Lock);
    return Current;
}

void SetSettings(const TSettings &settings)
{
    std::lock_guard<std::mutex> g(Lock);
    Current = settings;
}

bool ReadSettingFlag(HKEY root, const std::string &name, bool &value)
{
    value = false;
    std::string text;
    if (!ReadSettingText(root, name, text)) return false;
    value = text == "1";
    return true;
}

bool WriteSettingFlag(HKEY root, const std::string &name, bool value)
{
    return WriteSettingText(root, name, value ? "1" : "0");
}

bool ReadSettingDate(HKEY root, const std::string &name, double &value)
{
    value = 0;
    try {
        TSettingsView view;
        TRegKey k;
        if (k.Open(root, SettingsKeyPath(), KEY_QUERY_VALUE) != ERROR_SUCCESS) return false;
        // A buffer of exactly 8 bytes: a longer value fails with
        // ERROR_MORE_DATA, a shorter one shows in size.
        double d = 0;
        DWORD type = 0, size = sizeof d;
        if (RegQueryValueExA(k.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE *>(&d), &size) !=
                ERROR_SUCCESS ||
            type != REG_BINARY || size != sizeof d || !std::isfinite(d))
            return false;
        value = d;
        return true;
    } catch (...) {
        return false;
    }
}

bool WriteSettingDate(HKEY root, const std::string &name, double value)
{
    try {
        TSettingsView view;
        return RegWriteDouble(root, SettingsKeyPath(), name, value);
    } catch (...) {
        return false;
    }
}

bool ReadSettingNumber(HKEY root, const std::string &name, DWORD &value)
{
    value = 0;
    try {
        TSettingsView view;
        return RegReadDWORD(root, SettingsKeyPath(), name, value);
    } catch (...) {
        return false;
    }
}

bool WriteSettingNumber(HKEY root, const std::string &name, DWORD value)
{
    try {
        TSettingsView view;
        return RegWriteDWORD(root, SettingsKeyPath(), name, value);
    } catch (...) {
        return false;
    }
}

bool ReadSettingText(HKEY root, const std::string &name, std::string &value)
{
    value.clear();
    // An empty name would read the key's default value, which no setting is.
    if (name.empty()) return false;
    try {
        TSettingsView view;
        return RegReadStr(root, SettingsKeyPath(), name, value);
    } catch (...) {
        value.clear();
        return false;
    }
}

bool WriteSettingText(HKEY root, const std::string &name, const std::string &value)
{
    if (name.empty()) return false;
    try {
        TSettingsView view;
        return RegWriteStr(root, SettingsKeyPath(), name, value);
    } catch (...) {
        return false;
    }
}

namespace {

// The addresses of the service the programs report to, take add-on ratings
// and updates from. What an elevated process sends there, or installs from
// there, must not be steered by a value any user may write.
bool IsServiceAddress(const std::string &name)
{
    const std::string n = AsciiUpper(name);
    return n == "LI_URL" || n == "ADDON_URL" || n == "UPDATE_URL";
}

} // namespace

std::string ConfigValue(const std::string &name, const std::string &def)
{
    try {
        std::string value;
        const bool userMayOverride = !IsServiceAddress(name) || !IsElevated();
        if (userMayOverride && ReadSettingText(HKEY_CURRENT_USER, name, value)) return value;
        if (ReadSettingText(HKEY_LOCAL_MACHINE, name, value)) return value;
        if (!name.empty() && ResourceValue(name, value)) return value;
    } catch (...) {
    }
    return def;
}

std::string ConfigValue(const std::string &name)
{
    const std::string want = AsciiLower(name);
    for (const auto &entry : BuiltInDefaults)
        if (AsciiLower(entry.first) == want) return ConfigValue(name, entry.second);
    return ConfigValue(name, std::string());
}

void LoadSettings()
{
    TSettings s;
    try {
        bool flag;
        if (ReadSettingFlag(HKEY_LOCAL_MACHINE, "SHOW_TRAY", flag)) s.ShowTray = flag;
        if (ReadSettingFlag(HKEY_LOCAL_MACHINE, "DELAY_STARTUP", flag)) s.DelayStartup = flag;
        if (ReadSettingFlag(HKEY_LOCAL_MACHINE, "CREATE_SYSTEMRP", flag)) s.CreateRestorePoint = flag;
        if (ReadSettingFlag(HKEY_LOCAL_MACHINE, "CHECK_FOR_UPDATES", flag)) s.CheckForUpdates = flag;
        std::string text;
        if (ReadSettingText(HKEY_LOCAL_MACHINE, "UID", text)) s.UID = text;
        if (ReadSettingText(HKEY_LOCAL_MACHINE, "LANGUAGE", text)) SetCurrentLanguage(text);

        {
            std::lock_guard<std::mutex> g(Lock);
            LoadConfigLocked();
        }
        s.CfgId = ConfigValue("CFG_ID");
        s.HomepageUrl = ConfigValue("HOMEPAGE_URL");
        s.TermsUrl = ConfigValue("TERMS_URL");
        s.PrivacyUrl = ConfigValue("PRIVACY_URL");
        s.HelpPaidUrl = ConfigValue("HELPPAID_URL");
        s.TestimonialReadUrl = ConfigValue("TESTIMONIAL_READ");
        s.ReportUrl = ConfigValue("LI_URL");
        s.AddonUrl = ConfigValue("ADDON_URL");
        s.UpdateUrl = ConfigValue("UPDATE_URL");
        s.SupportMail = ConfigValue("SUPPORT_MAIL");
        s.SupportPhone = ConfigValue("SUPPORT_PHONE");
        s.PhoneUS = ConfigValue("PHONE_US");
        s.PhoneNonUS = ConfigValue("PHONE_NONUS");
        s.TrackUser = ConfigValue("TRACK_USER") == "1";
        if (!s.PhoneUS.empty()) s.SupportPhone = s.PhoneUS;
        else s.PhoneUS = s.SupportPhone;
    } catch (...) {
    }
    try {
        SetSettings(s);
    } catch (...) {
    }
}

bool SaveSettings()
{
    try {
        const TSettings s = Settings();
        bool ok = WriteSettingFlag(HKEY_LOCAL_MACHINE, "SHOW_TRAY", s.ShowTray);
        ok = WriteSettingFlag(HKEY_LOCAL_MACHINE, "DELAY_STARTUP", s.DelayStartup) && ok;
        ok = WriteSettingFlag(HKEY_LOCAL_MACHINE, "CREATE_SYSTEMRP", s.CreateRestorePoint) && ok;
        ok = WriteSettingFlag(HKEY_LOCAL_MACHINE, "CHECK_FOR_UPDATES", s.CheckForUpdates) && ok;
        ok = WriteSettingText(HKEY_LOCAL_MACHINE, "LANGUAGE", CurrentLanguage()) && ok;
        return ok;
    } catch (...) {
        return false;
    }
}

std::string ExpandUrl(const std::string &address)
{
    try {
        const TSettings s = Settings();
        const std::string lng = CurrentLanguage();
        std::string url = address;
        ReplaceAllNoCase(url, "%CFG_ID%", UrlEncode(s.CfgId));
        ReplaceAllNoCase(url, "%UID%", UrlEncode(s.UID));
        ReplaceAllNoCase(url, "%LNG%", UrlEncode(lng));
        ReplaceAllNoCase(url, "%LANGUAGE%", lng == "en" ? std::string() : "&lng=" + UrlEncode(lng));
        if (Contains(url, "%INSTALL%")) {
            double installed;
            if (!ReadSettingDate(HKEY_LOCAL_MACHINE, "INSTALL", installed)) {
                installed = DayNumberNow();
                WriteSettingDate(HKEY_LOCAL_MACHINE, "INSTALL", installed);
            }
            ReplaceAllNoCase(url, "%INSTALL%", DaysSince(installed));
        }
        if (Contains(url, "%SUBID%")) {
            std::string subId;
            ReadSettingText(HKEY_LOCAL_MACHINE, "SubID", subId);
            ReplaceAllNoCase(url, "%SUBID%", UrlEncode(subId));
        }
        return url;
    } catch (...) {
        return address;
    }
}

bool OpenUrl(const std::string &address)
{
    std::string url = TrimA(ExpandUrl(address));
    // The addresses can be overridden from HKCU, which any program of the user
    // may write, and this program often runs elevated: open web pages only,
    // never a file or program named there.
    const std::string upper = AsciiUpper(url);
    if (upper.rfind("HTTP://", 0) != 0 && upper.rfind("HTTPS://", 0) != 0) return false;
    return ShellOpen(url);
}
