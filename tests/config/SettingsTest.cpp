#include "RegSnapshot.h"
#include "platform/DayNumberU.h"
#include "platform/ProcessU.h"
#include "platform/RegistryU.h"
#include "config/fwSettings.h"
#include "config/fwTranslate.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace {

const char Key[] = "Software\\TovuTest\\Settings";
const REGSAM View32 = KEY_WOW64_32KEY;

std::string Sz(const std::string &text) { return text + std::string(1, '\0'); }

std::string Bytes(const void *p, size_t n) { return std::string(static_cast<const char *>(p), n); }

std::string Dword(DWORD v) { return Bytes(&v, sizeof v); }

std::string Double(double d) { return Bytes(&d, sizeof d); }

bool IsWow64()
{
    BOOL wow = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow) && wow;
}

// A stored value as the registry holds it; type 0 means "no value".
struct Stored {
    DWORD type;
    std::string bytes;
};

class SettingsStore : public testing::Test {
protected:
    void SetUp() override
    {
        savedLanguage = CurrentLanguage();
        Wipe();
        SetSettingsKeyPath(Key);
        SetSettings(TSettings{});
    }
    void TearDown() override
    {
        Wipe();
        SetSettingsKeyPath("");
        SetSettings(TSettings{});
        SetCurrentLanguage(savedLanguage);
    }
    static void Wipe()
    {
        regtest::Wipe(HKEY_CURRENT_USER, 0, Key);
        regtest::Wipe(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, Key);
        regtest::Wipe(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, Key);
    }
    static void Put(HKEY root, const std::string &name, const Stored &v)
    {
        if (v.type) regtest::PutRaw(root, View32, Key, name, v.type, v.bytes);
        else regtest::PutRaw(root, View32, Key, "", REG_SZ, Sz("unrelated"));  // key without the value
    }
    static std::string Raw(HKEY root, const std::string &name) { return regtest::GetRaw(root, View32, Key, name); }

    std::string savedLanguage;
};

TEST_F(SettingsStore, ConfigValueTakesUserThenMachineThenResourceThenDefault)
{
    // The resource alone.
    EXPECT_EQ(ConfigValue("CFG_ID", "x"), "4");
    EXPECT_EQ(ConfigValue("cfg_id", "x"), "4");
    const std::string help = ConfigValue("HELPPAID_URL", "x");
    EXPECT_EQ(help.rfind("https://", 0), 0u) << help;
    EXPECT_NE(help.find("?lng=%LNG%"), std::string::npos) << help;
    EXPECT_EQ(ConfigValue("PHONE_US", "x"), "") << "a resource line with an empty value is a hit";
    EXPECT_EQ(ConfigValue("NO_SUCH_KEY", "fallback"), "fallback");
    EXPECT_EQ(ConfigValue("NO_SUCH_KEY"), "");
    // An empty name never reaches the key's default value.
    regtest::PutRaw(HKEY_CURRENT_USER, View32, Key, "", REG_SZ, Sz("default"));
    EXPECT_EQ(ConfigValue("", "fallback"), "fallback");

    struct Case {
        const char *what;
        Stored user, machine;
        std::string expected;
    } cases[] = {
        {"machine override", {0, ""}, {REG_SZ, Sz("lm")}, "lm"},
        {"user beats machine", {REG_SZ, Sz("cu")}, {REG_SZ, Sz("lm")}, "cu"},
        {"empty user value is a hit", {REG_SZ, Sz("")}, {REG_SZ, Sz("lm")}, ""},
        {"user expand-string is not a text value", {REG_EXPAND_SZ, Sz("cu")}, {REG_SZ, Sz("lm")}, "lm"},
        {"user number is not a text value", {REG_DWORD, Dword(1)}, {REG_SZ, Sz("lm")}, "lm"},
        {"wrong types everywhere fall to the resource", {REG_DWORD, Dword(1)}, {REG_BINARY, "lm"}, help},
    };
    for (const auto &c : cases) {
        Wipe();
        Put(HKEY_CURRENT_USER, "HELPPAID_URL", c.user);
        Put(HKEY_LOCAL_MACHINE, "HELPPAID_URL", c.machine);
        EXPECT_EQ(ConfigValue("HELPPAID_URL", "x"), c.expected) << c.what;
    }

    // An elevated process sends reports and takes updates only from addresses
    // a standard user cannot set; other values keep the user's override.
    if (IsElevated()) {
        for (const char *name : {"LI_URL", "ADDON_URL", "update_url"}) {
            Wipe();
            Put(HKEY_CURRENT_USER, name, {REG_SZ, Sz("http://127.0.0.1:9/user")});
            EXPECT_EQ(ConfigValue(name).find("127.0.0.1"), std::string::npos) << name;
            Put(HKEY_LOCAL_MACHINE, name, {REG_SZ, Sz("http://127.0.0.1:9/machine")});
            EXPECT_EQ(ConfigValue(name), "http://127.0.0.1:9/machine") << name;
        }
        Wipe();
        Put(HKEY_CURRENT_USER, "SUPPORT_PHONE", {REG_SZ, Sz("cu")});
        EXPECT_EQ(ConfigValue("SUPPORT_PHONE"), "cu");
    }

    // The engine's threads run with the 64-bit view selected; settings stay in
    // the 32-bit one.
    Wipe();
    Put(HKEY_LOCAL_MACHINE, "HELPPAID_URL", {REG_SZ, Sz("lm32")});
    TRegViewScope view(true, false);
    EXPECT_EQ(ConfigValue("HELPPAID_URL", "x"), "lm32");
}

TEST_F(SettingsStore, OnlyTheExactTextOneIsAnOnFlag)
{
    // SHOW_TRAY is on by default, CREATE_SYSTEMRP off; a missing value or one of
    // the wrong type keeps each default, any text but "1" switches both off.
    struct Case {
        const char *what;
        Stored v;
        bool showTray, restorePoint;
    } cases[] = {
        {"missing", {0, ""}, true, false},
        {"\"1\"", {REG_SZ, Sz("1")}, true, true},
        {"\"1\" without terminator", {REG_SZ, "1"}, true, true},
        {"\"0\"", {REG_SZ, Sz("0")}, false, false},
        {"\"true\"", {REG_SZ, Sz("true")}, false, false},
        {"\"01\"", {REG_SZ, Sz("01")}, false, false},
        {"\" 1\"", {REG_SZ, Sz(" 1")}, false, false},
        {"\"1 \"", {REG_SZ, Sz("1 ")}, false, false},
        {"empty", {REG_SZ, Sz("")}, false, false},
        {"REG_DWORD 1", {REG_DWORD, Dword(1)}, true, false},
        {"REG_EXPAND_SZ \"1\"", {REG_EXPAND_SZ, Sz("1")}, true, false},
    };
    for (const auto &c : cases) {
        Wipe();
        Put(HKEY_LOCAL_MACHINE, "SHOW_TRAY", c.v);
        Put(HKEY_LOCAL_MACHINE, "CREATE_SYSTEMRP", c.v);
        LoadSettings();
        EXPECT_EQ(Settings().ShowTray, c.showTray) << c.what;
        EXPECT_EQ(Settings().CreateRestorePoint, c.restorePoint) << c.what;
    }
}

TEST_F(SettingsStore, DatesAreEightByteDoublesAndNumbersDwords)
{
    const double when = 40886.65625;  // 9 December 2011, 15:45
    ASSERT_TRUE(WriteSettingDate(HKEY_LOCAL_MACHINE, "INSTALL", when));
    EXPECT_EQ(Raw(HKEY_LOCAL_MACHINE, "INSTALL"), "3:" + Double(when));
    double read = 0;
    EXPECT_TRUE(ReadSettingDate(HKEY_LOCAL_MACHINE, "INSTALL", read));
    EXPECT_EQ(read, when);

    ASSERT_TRUE(WriteSettingNumber(HKEY_CURRENT_USER, "COUNT", 0xFFFFFFFEu));
    EXPECT_EQ(Raw(HKEY_CURRENT_USER, "COUNT"), "4:" + Dword(0xFFFFFFFEu));
    DWORD n = 0;
    EXPECT_TRUE(ReadSettingNumber(HKEY_CURRENT_USER, "COUNT", n));
    EXPECT_EQ(n, 0xFFFFFFFEu);

    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char *what;
        Stored v;
    } badDates[] = {
        {"7 bytes", {REG_BINARY, Double(when).substr(0, 7)}},
        {"9 bytes", {REG_BINARY, Double(when) + "x"}},
        {"text", {REG_SZ, Sz("40886.65625")}},
        {"8-byte number", {REG_QWORD, Double(when)}},
        {"not a number", {REG_BINARY, Double(nan)}},
    };
    for (const auto &c : badDates) {
        Put(HKEY_LOCAL_MACHINE, "INSTALL", c.v);
        read = 1;
        EXPECT_FALSE(ReadSettingDate(HKEY_LOCAL_MACHINE, "INSTALL", read)) << c.what;
        EXPECT_EQ(read, 0) << c.what;
    }
    Put(HKEY_CURRENT_USER, "COUNT", {REG_SZ, Sz("5")});
    EXPECT_FALSE(ReadSettingNumber(HKEY_CURRENT_USER, "COUNT", n));
    Put(HKEY_CURRENT_USER, "COUNT", {REG_BINARY, Dword(5)});
    EXPECT_FALSE(ReadSettingNumber(HKEY_CURRENT_USER, "COUNT", n));
}

TEST_F(SettingsStore, ExpandUrlFillsEveryPlaceholder)
{
    Put(HKEY_LOCAL_MACHINE, "UID", {REG_SZ, Sz("1234567")});
    Put(HKEY_LOCAL_MACHINE, "CFG_ID", {REG_SZ, Sz("7")});
    Put(HKEY_LOCAL_MACHINE, "LANGUAGE", {REG_SZ, Sz("de")});
    Put(HKEY_LOCAL_MACHINE, "SubID", {REG_SZ, Sz("ch9")});
    LoadSettings();

    EXPECT_EQ(ExpandUrl("https://h/p?c=%CFG_ID%&u=%uid%&l=%Lng%%LANGUAGE%&s=%SUBID%&a=%ACTION%&again=%UID%"),
              "https://h/p?c=7&u=1234567&l=de&lng=de&s=ch9&a=%ACTION%&again=1234567");

    SetCurrentLanguage("en");
    EXPECT_EQ(ExpandUrl("https://h/?l=%LNG%%language%"), "https://h/?l=en");

    regtest::Wipe(HKEY_LOCAL_MACHINE, View32, Key);
    EXPECT_EQ(ExpandUrl("https://h/?s=%SUBID%&x=1"), "https://h/?s=&x=1");

    // A registry value cannot add parameters or form a new placeholder.
    Put(HKEY_LOCAL_MACHINE, "SubID", {REG_SZ, Sz("a b&c=%UID%#")});
    EXPECT_EQ(ExpandUrl("https://h/?s=%SUBID%"), "https://h/?s=a%20b%26c%3D%25UID%25%23");
    EXPECT_EQ(ExpandUrl(""), "");
}

TEST_F(SettingsStore, ExpandUrlCountsWholeDaysSinceInstall)
{
    // No INSTALL value: now is written and the count is 0.
    const double before = DayNumberNow();
    EXPECT_EQ(ExpandUrl("https://h/?d=%install%"), "https://h/?d=0");
    double written = 0;
    ASSERT_TRUE(ReadSettingDate(HKEY_LOCAL_MACHINE, "INSTALL", written));
    EXPECT_GE(written, before);
    EXPECT_LT(written - before, 1.0 / 24);

    struct Case {
        const char *what;
        double age;      // days before now
        bool extraByte;  // stored as 9 bytes
        const char *days;
    } cases[] = {
        {"three and a quarter days ago", 3.25, false, "3"},
        {"clock set back half a day", -0.5, false, "-1"},
        {"a 9-byte value is rewritten", 5, true, "0"},
    };
    for (const auto &c : cases) {
        Put(HKEY_LOCAL_MACHINE, "INSTALL", {REG_BINARY, Double(DayNumberNow() - c.age) + (c.extraByte ? "x" : "")});
        EXPECT_EQ(ExpandUrl("https://h/?d=%INSTALL%&e=%INSTALL%"), std::string("https://h/?d=") + c.days + "&e=" + c.days)
            << c.what;
    }
    EXPECT_EQ(Raw(HKEY_LOCAL_MACHINE, "INSTALL").size(), 2u + 8u);

    // Without the placeholder nothing is written.
    Wipe();
    ExpandUrl("https://h/?u=%UID%");
    EXPECT_EQ(Raw(HKEY_LOCAL_MACHINE, "INSTALL"), "<none>");
}

TEST_F(SettingsStore, SavedSettingsLoadBack)
{
    TSettings s;
    s.ShowTray = false;
    s.DelayStartup = false;
    s.CreateRestorePoint = true;
    s.CheckForUpdates = false;
    SetSettings(s);
    SetCurrentLanguage("fr");
    ASSERT_TRUE(SaveSettings());

    EXPECT_EQ(Raw(HKEY_LOCAL_MACHINE, "SHOW_TRAY"), "1:" + Sz("0"));
    EXPECT_EQ(Raw(HKEY_LOCAL_MACHINE, "DELAY_STARTUP"), "1:" + Sz("0"));
    EXPECT_EQ(Raw(HKEY_LOCAL_MACHINE, "CREATE_SYSTEMRP"), "1:" + Sz("1"));
    EXPECT_EQ(Raw(HKEY_LOCAL_MACHINE, "CHECK_FOR_UPDATES"), "1:" + Sz("0"));
    EXPECT_EQ(Raw(HKEY_LOCAL_MACHINE, "LANGUAGE"), "1:" + Sz("fr"));
    if (IsWow64()) {
        // Even with the thread in the 64-bit view.
        TRegViewScope view(true, false);
        SaveSettings();
        EXPECT_FALSE(regtest::KeyExists(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, Key));
    }

    SetSettings(TSettings{});
    SetCurrentLanguage("en");
    LoadSettings();
    const TSettings back = Settings();
    EXPECT_FALSE(back.ShowTray);
    EXPECT_FALSE(back.DelayStartup);
    EXPECT_TRUE(back.CreateRestorePoint);
    EXPECT_FALSE(back.CheckForUpdates);
    EXPECT_EQ(CurrentLanguage(), "fr");
}

TEST_F(SettingsStore, LoadSettingsReadsConfigurationAndSupportContacts)
{
    LoadSettings();
    TSettings s = Settings();
    EXPECT_EQ(s.CfgId, "4");
    EXPECT_FALSE(s.TrackUser) << "the configuration ships with counting off";
    EXPECT_EQ(s.UID, "");
    EXPECT_FALSE(s.SupportPhone.empty());
    EXPECT_EQ(s.PhoneUS, s.SupportPhone) << "an empty PHONE_US takes the support number";
    EXPECT_EQ(s.HelpPaidUrl, ConfigValue("HELPPAID_URL", "x"));
    EXPECT_EQ(s.ReportUrl.find("https://service.tovu.example.org/"), 0u) << s.ReportUrl;

    Put(HKEY_LOCAL_MACHINE, "TRACK_USER", {REG_SZ, Sz("yes")});
    Put(HKEY_LOCAL_MACHINE, "UID", {REG_DWORD, Dword(42)});
    Put(HKEY_CURRENT_USER, "PHONE_US", {REG_SZ, Sz("555-0199")});
    Put(HKEY_CURRENT_USER, "SUPPORT_MAIL", {REG_SZ, Sz("help@example.org")});
    LoadSettings();
    s = Settings();
    EXPECT_FALSE(s.TrackUser);
    EXPECT_EQ(s.UID, "") << "a number is not the identifier's text";
    EXPECT_EQ(s.SupportPhone, "555-0199");
    EXPECT_EQ(s.PhoneUS, "555-0199");

    SetCurrentLanguage("xx");  // no table entry: the default text is used
    EXPECT_EQ(Translate("NoSuchKey", L"Call %support_phone% or mail %SUPPORT_MAIL%."),
              L"Call 555-0199 or mail help@example.org.");
}

} // namespace

// The addresses can be overridden from the registry: only web pages open,
// never a file or a program named there.
TEST(Settings, OpenUrlOpensWebPagesOnly)
{
    for (const char *address : {"", " \t\r\n", "C:\\windows\\notepad.exe", "file:///C:/windows/win.ini",
                                "notepad.exe http://x", "javascript:alert(1)"})
        EXPECT_FALSE(OpenUrl(address)) << address;
}
