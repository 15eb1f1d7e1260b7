// Persistent settings and build-time configuration.
//
// Settings live in the registry only, under SettingsKeyPath() in HKLM (machine-wide
// switches) and HKCU (per-user state), always in the 32-bit view whatever view
// the calling thread has selected. Value formats:
//   flag    REG_SZ "1" or "0"; only the exact text "1" is true
//   date    REG_BINARY of exactly 8 bytes, a double counting days since
//           30 December 1899 00:00 local time
//   number  REG_DWORD
//   text    REG_SZ
// A value of any other type (or a date of another length) reads as missing.
//
// The configuration is the "CONFIG" text resource of the running program
// (lines "NAME=value"); every key can be overridden by a REG_SZ value of the
// same name under either settings key.
#pragma once

#include <windows.h>

#include <string>

// The process's loaded settings. The language is not here: it is the
// translation unit's CurrentLanguage, which LoadSettings sets and SaveSettings
// stores.
struct TSettings {
    bool ShowTray = true;
    bool DelayStartup = true;
    bool CreateRestorePoint = false;
    bool CheckForUpdates = true;
    std::string UID;          // installation identifier, decimal; empty until installed
    bool TrackUser = false;
    std::string CfgId = "0";  // build configuration number
    std::string HomepageUrl, TermsUrl, PrivacyUrl, HelpPaidUrl, TestimonialReadUrl;
    std::string ReportUrl;    // "LI_URL", still holding %ACTION% and %CU%
    std::string AddonUrl;
    std::string UpdateUrl;
    std::string SupportMail;
    std::string SupportPhone; // already replaced by PhoneUS when that is set
    std::string PhoneUS, PhoneNonUS;
};

// A copy of the loaded settings (built-in defaults before LoadSettings).
TSettings Settings();
// Replaces the loaded settings, e.g. after the settings page changed the
// switches; nothing is written until SaveSettings.
void SetSettings(const TSettings &settings);

// Reads everything once at process start. Missing keys and values keep their
// defaults; never fails.
void LoadSettings();
// Writes the four switches and the current language to HKLM, creating the key.
// False when any write failed (e.g. no right to write HKLM).
bool SaveSettings();

// HKCU override, HKLM override, the "CONFIG" resource, def: first hit wins. A
// registry value that exists but is empty, or a resource line with nothing
// after "=", is a hit. An elevated process takes the service addresses
// (LI_URL, ADDON_URL, UPDATE_URL) without the HKCU override.
std::string ConfigValue(const std::string &name, const std::string &def);
// The "CONFIG" resource alone, without the registry overrides; false (value
// empty) when the resource has no such line.
bool ConfigResourceValue(const std::string &name, std::string &value);
// The same with the system's own built-in default for name (empty for names it
// does not know).
std::string ConfigValue(const std::string &name);

// Replaces, ignoring case and everywhere: %CFG_ID%, %UID%, %LNG%, %LANGUAGE%
// ("&lng=<code>", or nothing for "en"), %INSTALL% (whole days since HKLM
// "INSTALL", which is set to now when missing) and %SUBID% (HKLM "SubID" or
// nothing). Substituted values are percent-encoded. Other placeholders stay.
std::string ExpandUrl(const std::string &address);
// Opens ExpandUrl(address), trimmed, with the shell verb "open"; an empty
// address opens nothing and returns false.
bool OpenUrl(const std::string &address);

// Typed access to single values under SettingsKeyPath() in root (HKLM or HKCU), in
// the 32-bit view. Readers return false, and leave their out-parameter at
// false, 0 or empty, when the value is missing or of the wrong type.
bool ReadSettingFlag(HKEY root, const std::string &name, bool &value);
bool WriteSettingFlag(HKEY root, const std::string &name, bool value);
bool ReadSettingDate(HKEY root, const std::string &name, double &value);
bool WriteSettingDate(HKEY root, const std::string &name, double value);
bool ReadSettingNumber(HKEY root, const std::string &name, DWORD &value);
bool WriteSettingNumber(HKEY root, const std::string &name, DWORD value);
bool ReadSettingText(HKEY root, const std::string &name, std::string &value);
bool WriteSettingText(HKEY root, const std::string &name, const std::string &value);

// "Software\Tovu" unless a test moved it to a scratch key; an empty key puts
// it back.
std::string SettingsKeyPath();
void SetSettingsKeyPath(const std::string &key);
