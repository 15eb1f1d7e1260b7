#include "backup/fwBackup.h"
#include "platform/HandlesU.h"

#include "config/fwCommon.h"
#include "config/fwTrust.h"

#include "platform/DayNumberU.h"
#include "platform/TextU.h"

#include "platform/DirectoryU.h"
#include "platform/FileU.h"
#include "platform/RegistryU.h"
#include "platform/RegistryWideU.h"
#include "platform/StreamU.h"
#include "platform/SystemPathsU.h"
#include "platform/XMLLinesU.h"
#include "platform/XMLU.h"

#include <oleauto.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::string Attr(const char *name, const std::string &value)
{
    return std::string(" ") + name + "=\"" + value + "\"";
}

std::string HexOf(const void *data, size_t size)
{
    static const char Digits[] = "0123456789ABCDEF";
    const unsigned char *p = static_cast<const unsigned char *>(data);
    std::string hex;
    hex.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        hex += Digits[p[i] >> 4];
        hex += Digits[p[i] & 15];
    }
    return hex;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool BytesOfHex(const std::string &hex, std::string &bytes)
{
    bytes.clear();
    if (hex.size() % 2 != 0) return false;
    bytes.reserve(hex.size() / 2);
    for (size_t i = 0; i < hex.size(); i += 2) {
        int hi = HexValue(hex[i]), lo = HexValue(hex[i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes.push_back(char(hi * 16 + lo));
    }
    return true;
}

std::string WideHex(const std::wstring &text) { return HexOf(text.data(), text.size() * sizeof(wchar_t)); }

bool WideOfHex(const std::string &hex, std::wstring &text)
{
    std::string bytes;
    if (!BytesOfHex(hex, bytes) || bytes.size() % 2 != 0) return false;
    text.assign(bytes.size() / 2, L'\0');
    if (!bytes.empty()) std::memcpy(&text[0], bytes.data(), bytes.size());
    return true;
}

// The documents carry UTF-8; a date written by hand in the system code page
// still reads.
std::wstring DocumentTextToWide(const std::string &text)
{
    std::wstring w;
    if (StrictUtf8ToWide(text, w)) return w;
    return AnsiToWide(text);
}

// The time stamp of "fix_yyyymmdd_hhnnss[_n].xml" / "boost_...". A suffix n,
// given to a second document of the same second, sorts it after the first.
bool StampOfName(const std::string &path, double &days)
{
    size_t slash = path.find_last_of("\\/");
    std::string name = AsciiLower(path.substr(slash == std::string::npos ? 0 : slash + 1));
    size_t at = name.compare(0, 4, "fix_") == 0 ? 4 : name.compare(0, 6, "boost_") == 0 ? 6 : 0;
    if (at == 0 || name.size() < at + 15 + 4 || name.compare(name.size() - 4, 4, ".xml") != 0) return false;
    std::string stamp = name.substr(at, 15);
    std::string rest = name.substr(at + 15, name.size() - 4 - at - 15);
    for (size_t i = 0; i < stamp.size(); ++i)
        if (i == 8 ? stamp[i] != '_' : (stamp[i] < '0' || stamp[i] > '9')) return false;
    int suffix = 0;
    if (!rest.empty()) {
        if (rest[0] != '_' || rest.size() < 2 || rest.size() > 4) return false;
        for (size_t i = 1; i < rest.size(); ++i) {
            if (rest[i] < '0' || rest[i] > '9') return false;
            suffix = suffix * 10 + (rest[i] - '0');
        }
    }
    auto num = [&](size_t pos, size_t len) { return WORD(std::atoi(stamp.substr(pos, len).c_str())); };
    SYSTEMTIME st = {};
    st.wYear = num(0, 4);
    st.wMonth = num(4, 2);
    st.wDay = num(6, 2);
    st.wHour = num(9, 2);
    st.wMinute = num(11, 2);
    st.wSecond = num(13, 2);
    bool ok;
    days = DayNumberOf(st, ok) + suffix / 86400000.0;
    return ok;
}

// The date text in the user's format, as the rescue center shows it.
bool ParseDateText(const std::wstring &text, double &days)
{
    if (text.empty()) return false;
    BSTR s = SysAllocStringLen(text.data(), UINT(text.size()));
    if (!s) return false;
    DATE d = 0;
    HRESULT hr = VarDateFromStr(s, LOCALE_USER_DEFAULT, 0, &d);
    SysFreeString(s);
    if (FAILED(hr)) return false;
    days = d;
    return true;
}

// Short date, a blank and the long time, both in the user's format; midnight
// shows the date alone.
std::wstring DateText(const SYSTEMTIME &st)
{
    wchar_t date[128] = {}, time[128] = {};
    GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, date, 128);
    std::wstring text = date;
    if (st.wHour || st.wMinute || st.wSecond || st.wMilliseconds) {
        GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, time, 128);
        text += L" ";
        text += time;
    }
    return text;
}

// ---- recorder state ---------------------------------------------------------

struct TRecording {
    int Kind = bkNone;
    std::wstring Caption;
    std::vector<std::string> Lines;
};

std::unique_ptr<TRecording> Recording;
std::string FolderOverride;
std::atomic<TfwCleanReportAdd> CleanReportAdd{nullptr};
std::atomic<TfwCleanReportSave> CleanReportSave{nullptr};

void HandToCleanReport(HKEY root, const std::string &key, const std::string &name, bool is64)
{
    if (TfwCleanReportAdd add = CleanReportAdd.load()) {
        try {
            add(root, key, name, is64);
        } catch (...) {
        }
    }
}

void Record(HKEY root, const std::string &key, const std::string &name, const std::string &value,
            const std::string &type, bool is64, const char *fix)
{
    std::string line = "    <reg";
    line += Attr("root", RegRootName(root));
    line += Attr("key", HexEscape(key));
    line += Attr("name", HexEscape(name));
    line += Attr("value", HexEscape(value));
    line += Attr("type", type);
    if (is64) line += Attr("is64", "1");
    line += Attr("scan", "backup");
    line += Attr("fix", fix);
    line += " />";
    Recording->Lines.push_back(line);
}

// Both record in the view the caller selected.
void RecordValue(HKEY root, const std::string &key, const std::string &name, bool is64)
{
    bool exists = name.empty() ? RegKeyExists(root, key) : RegValueExists(root, key, name);
    if (!exists) {
        // With an empty name this is also the line of a missing key: restoring
        // it removes the key again.
        Record(root, key, name, "", "backup", is64, "del");
        return;
    }
    DWORD type = 0;
    if (!RegValueType(root, key, name, type)) return;
    std::string value;
    bool ok = false;
    switch (type) {
    case REG_SZ: ok = RegReadStr(root, key, name, value); break;
    case REG_EXPAND_SZ: ok = RegReadExpandStr(root, key, name, value); break;
    case REG_BINARY: ok = RegReadBinaryHex(root, key, name, value); break;
    case REG_MULTI_SZ: ok = RegReadMultiStr(root, key, name, value); break;
    case REG_DWORD: {
        DWORD number = 0;
        ok = RegReadDWORD(root, key, name, number);
        char text[16];
        std::snprintf(text, sizeof text, "$%08lX", static_cast<unsigned long>(number));
        value = text;
        break;
    }
    default: break;
    }
    if (ok) Record(root, key, name, value, RegTypeName(int(type)), is64, "value");
}

// The narrow typed form of a value when it brings back exactly the stored
// bytes: the text types with one terminator and nothing the code page cannot
// carry, binary data, and numbers of four bytes.
bool PlainValue(const TRegWideValue &v, std::string &value, int &type)
{
    auto wide = [&](std::wstring &w) {
        if (v.Data.size() % 2 != 0) return false;
        w.assign(v.Data.size() / 2, L'\0');
        if (!w.empty()) std::memcpy(&w[0], v.Data.data(), v.Data.size());
        return true;
    };
    std::wstring w;
    switch (v.Type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        if (!wide(w) || w.empty() || w.back() != L'\0') return false;
        w.pop_back();
        if (w.find(L'\0') != std::wstring::npos) return false;
        type = v.Type == REG_SZ ? rtStr : rtExStr;
        return WideToAnsiExact(w, value);
    case REG_MULTI_SZ:
        if (!wide(w) || w.size() < 2 || w[w.size() - 1] != L'\0' || w[w.size() - 2] != L'\0') return false;
        w.resize(w.size() - 2);
        type = rtMulStr;
        return WideToAnsiExact(w, value);
    case REG_BINARY:
        type = rtBin;
        value = HexOf(v.Data.data(), v.Data.size());
        return true;
    case REG_DWORD: {
        if (v.Data.size() != 4) return false;
        DWORD number;
        std::memcpy(&number, v.Data.data(), 4);
        char text[16];
        std::snprintf(text, sizeof text, "$%08lX", static_cast<unsigned long>(number));
        value = text;
        type = rtNum;
        return true;
    }
    default: return false;
    }
}

void RecordEntry(const TfwRegEntry &e) { Recording->Lines.push_back("    " + RegEntryXML(e)); }

TfwRegEntry WideEntry(HKEY root, const std::wstring &key, const std::wstring &name, bool is64, int fix)
{
    TfwRegEntry e;
    e.Root = root;
    e.Is64 = is64;
    e.ScanMode = smBackup;
    e.FixMode = fix;
    if (!WideToAnsiExact(key, e.Key)) e.WideKey = key;
    if (!WideToAnsiExact(name, e.ValueName)) e.WideName = name;
    return e;
}

void RecordWideValue(HKEY root, const std::wstring &key, const TRegWideValue &v, bool is64)
{
    TfwRegEntry e = WideEntry(root, key, v.Name, is64, fmValue);
    std::string value;
    int type = 0;
    if (e.WideKey.empty() && e.WideName.empty() && PlainValue(v, value, type)) {
        Record(root, e.Key, e.ValueName, value, RegTypeName(type), is64, "value");
        return;
    }
    e.Raw = true;
    e.RawType = v.Type;
    e.RawData = v.Data;
    RecordEntry(e);
}

void RecordTree(HKEY root, const std::wstring &key, bool is64)
{
    std::vector<TRegWideValue> values;
    std::vector<std::wstring> subKeys;
    if (!RegReadKeyW(root, key, values, subKeys)) return;
    // Writing a value creates its key; a key without values needs a line of
    // its own.
    if (values.empty()) RecordEntry(WideEntry(root, key, L"", is64, fmCreateKey));
    for (const TRegWideValue &v : values) RecordWideValue(root, key, v, is64);
    for (const std::wstring &sub : subKeys)
        if (!sub.empty()) RecordTree(root, key + L"\\" + sub, is64);
}

void RecordKey(HKEY root, const std::string &key, bool is64)
{
    if (!RegKeyExists(root, key)) {
        Record(root, key, "", "", "backup", is64, "del");
        return;
    }
    RecordTree(root, AnsiToWideText(key), is64);
}

// A second document of one kind within the same second must not replace the
// first: the first repair could no longer be undone.
std::string FreeDocumentName(const std::string &folder, int kind, const SYSTEMTIME &st)
{
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04u%02u%02u_%02u%02u%02u", st.wYear, st.wMonth, st.wDay, st.wHour,
                  st.wMinute, st.wSecond);
    std::string base = folder + (kind == bkFix ? "fix_" : "boost_") + stamp;
    std::string name = base + ".xml";
    for (int n = 2; FileExists(name) && n < 1000; ++n) name = base + "_" + std::to_string(n) + ".xml";
    return name;
}

} // namespace

// ---- the "reg" element ------------------------------------------------------

int RegTypeFromName(const std::string &name)
{
    std::string n = AsciiLower(name);
    if (n == "str") return rtStr;
    if (n == "exstr") return rtExStr;
    if (n == "bin") return rtBin;
    if (n == "num") return rtNum;
    if (n == "mulstr") return rtMulStr;
    return rtNone;
}

std::string RegTypeName(int type)
{
    switch (type) {
    case rtStr: return "str";
    case rtExStr: return "exstr";
    case rtBin: return "bin";
    case rtNum: return "num";
    case rtMulStr: return "mulstr";
    default: return {};
    }
}

bool ParseRegNumber(const std::string &text, uint32_t &value)
{
    bool hex = !text.empty() && text[0] == '$';
    std::string digits = hex ? text.substr(1) : text;
    if (digits.empty() || digits.size() > 20) return false;
    uint64_t v = 0;
    for (char c : digits) {
        char u = (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
        int d;
        if (u >= '0' && u <= '9') d = u - '0';
        else if (hex && u >= 'A' && u <= 'F') d = u - 'A' + 10;
        else return false;
        v = v * (hex ? 16 : 10) + d;
        if (v > 0xFFFFFFFFull) return false;
    }
    value = static_cast<uint32_t>(v);
    return true;
}

void ReadRegEntry(const TXMLTag *tag, TfwRegEntry &entry)
{
    entry = TfwRegEntry();
    if (!tag) return;
    entry.Root = RegRootFromName(tag->GetAttr("root"));
    entry.Key = HexUnescape(tag->GetAttr("key"));
    entry.ValueName = HexUnescape(tag->GetAttr("name"));
    entry.Value = HexUnescape(tag->GetAttr("value"));
    entry.ValueType = RegTypeFromName(tag->GetAttr("type"));
    entry.Is64 = tag->GetAttr("is64") == "1";
    std::string scan = AsciiLower(tag->GetAttr("scan"));
    entry.ScanMode = scan == "value" ? smValue : scan == "exists" ? smExists : scan == "backup" ? smBackup : smNone;
    std::string fix = AsciiLower(tag->GetAttr("fix"));
    entry.FixMode = fix == "value" ? fmValue : fix == "del" ? fmDelete : fmNone;
    std::string date = tag->GetAttr("date");
    char *end = nullptr;
    long days = date.empty() ? 0 : std::strtol(date.c_str(), &end, 10);
    entry.Date = (end && *end == '\0' && days > 0) ? double(days) : 0;

    if (fix == "key") entry.FixMode = fmCreateKey;
    // A wide name that does not decode must not fall back to its narrow
    // stand-in, which may name another key ("?" for every lost character).
    if (tag->AttrIndex("wkey") >= 0 && !WideOfHex(tag->GetAttr("wkey"), entry.WideKey)) entry.ScanMode = smNone;
    if (tag->AttrIndex("wname") >= 0 && !WideOfHex(tag->GetAttr("wname"), entry.WideName)) entry.ScanMode = smNone;
    if (AsciiLower(tag->GetAttr("type")) == "raw") {
        uint32_t rawType = 0;
        entry.Raw = ParseRegNumber(tag->GetAttr("rawtype"), rawType) && BytesOfHex(tag->GetAttr("raw"), entry.RawData);
        entry.RawType = rawType;
        if (!entry.Raw) {
            entry.RawData.clear();
            entry.ScanMode = smNone;
        }
    }

    uint32_t number;
    if (entry.ValueType == rtNum && !ParseRegNumber(entry.Value, number)) entry.ScanMode = smNone;
    if (entry.ValueType == rtBin && entry.Value.size() % 2 != 0) entry.ScanMode = smNone;
}

std::string RegEntryXML(const TfwRegEntry &e)
{
    std::string s = "<reg";
    s += Attr("root", RegRootName(e.Root));
    s += Attr("key", HexEscape(e.Key));
    s += Attr("name", HexEscape(e.ValueName));
    s += Attr("value", HexEscape(e.Value));
    s += Attr("type", e.Raw ? std::string("raw") : RegTypeName(e.ValueType));
    if (!e.WideKey.empty()) s += Attr("wkey", WideHex(e.WideKey));
    if (!e.WideName.empty()) s += Attr("wname", WideHex(e.WideName));
    if (e.Raw) {
        s += Attr("rawtype", std::to_string(static_cast<unsigned long>(e.RawType)));
        s += Attr("raw", HexOf(e.RawData.data(), e.RawData.size()));
    }
    if (e.Is64) s += Attr("is64", "1");
    s += Attr("scan", e.ScanMode == smValue ? "value" : e.ScanMode == smBackup ? "backup" : "exists");
    s += Attr("fix", e.FixMode == fmValue         ? "value"
                     : e.FixMode == fmDelete    ? "del"
                     : e.FixMode == fmCreateKey ? "key"
                                                : "");
    if (e.Date >= 1) s += Attr("date", std::to_string(static_cast<long long>(std::floor(e.Date))));
    s += " />";
    return s;
}

void SelectItemView(bool is64)
{
    if (!Is64BitOS()) return;
    RegView64 = is64;
    RegView32 = !is64;
}

bool FixRegEntry(const TfwRegEntry &e)
{
    if (!e.Root || e.Key.empty()) return false;
    if (e.Is64 && !Is64BitOS()) return false;
    SelectItemView(e.Is64);
    if (!e.WideKey.empty() || !e.WideName.empty() || e.Raw || e.FixMode == fmCreateKey) {
        std::wstring key = e.WideKey.empty() ? AnsiToWideText(e.Key) : e.WideKey;
        std::wstring name = e.WideName.empty() ? AnsiToWideText(e.ValueName) : e.WideName;
        if (e.FixMode == fmCreateKey) return RegCreateKeyW(e.Root, key);
        if (e.FixMode == fmDelete)
            return name.empty() ? RegRemoveKeyTreeW(e.Root, key, true) : RegRemoveValueW(e.Root, key, name);
        if (e.FixMode == fmValue && e.Raw) return RegWriteRawW(e.Root, key, name, e.RawType, e.RawData);
        // A typed value under a wide name: its text is narrow anyway.
        if (!e.WideKey.empty() || !e.WideName.empty()) return false;
    }
    if (e.FixMode == fmDelete)
        return e.ValueName.empty() ? RegRemoveKeyTree(e.Root, e.Key, true) : RegRemoveValue(e.Root, e.Key, e.ValueName);
    if (e.FixMode != fmValue) return false;
    switch (e.ValueType) {
    case rtStr:
    case rtExStr:
    case rtMulStr: return RegWriteStrTyped(e.Root, e.Key, e.ValueName, DWORD(e.ValueType), e.Value);
    case rtNum: {
        uint32_t number = 0;
        if (!ParseRegNumber(e.Value, number)) number = 0;
        return RegWriteDWORD(e.Root, e.Key, e.ValueName, number);
    }
    case rtBin: return RegWriteBinaryHex(e.Root, e.Key, e.ValueName, e.Value);
    default: return false;
    }
}

// ---- recorder ---------------------------------------------------------------

void SetCleanReportHook(TfwCleanReportAdd add, TfwCleanReportSave save)
{
    CleanReportAdd.store(add);
    CleanReportSave.store(save);
}

std::string BackupDocumentsFolder()
{
    if (!FolderOverride.empty()) return FolderOverride;
    return BackupFolder();
}

void SetBackupDocumentsFolder(const std::string &folder)
{
    FolderOverride = folder;
    if (!FolderOverride.empty() && FolderOverride.back() != '\\') FolderOverride += '\\';
}

void BeginBackup(int kind, const std::wstring &caption)
{
    if (Recording || kind == bkNone) return;
    Recording = std::make_unique<TRecording>();
    Recording->Kind = kind;
    Recording->Caption = caption;
}

bool IsBackupActive() { return Recording != nullptr; }

bool BackupFile(const std::string &path)
{
    if (!Recording) return false;
    try {
        std::string folder = BackupDocumentsFolder();
        if (folder.empty() || !FileExists(path)) return false;
        const std::string files = folder + "Files\\";
        const bool made = !DirectoryExists(folder);
        if (!ForceDirectories(files, false, true)) return false;
        if (made) ProtectMachineFile(folder);
        size_t slash = path.find_last_of("\\/");
        const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
        // Unique for the life of the folder: documents of one second share
        // no copy, and a copy is never overwritten.
        SYSTEMTIME st;
        GetLocalTime(&st);
        char stamp[40];
        std::snprintf(stamp, sizeof stamp, "%04u%02u%02u_%02u%02u%02u_", st.wYear, st.wMonth, st.wDay, st.wHour,
                      st.wMinute, st.wSecond);
        std::string copy;
        for (int n = 1; n < 10000; ++n) {
            std::string candidate = std::string(stamp) + std::to_string(n) + "_" + base;
            if (!FileExists(files + candidate)) {
                copy = candidate;
                break;
            }
        }
        if (copy.empty() || !CopyFileA(path.c_str(), (files + copy).c_str(), TRUE)) return false;
        ProtectMachineFile(files + copy);
        Recording->Lines.push_back("    <file" + Attr("path", HexEscape(path)) + Attr("copy", HexEscape(copy)) + " />");
        return true;
    } catch (...) {
        return false;
    }
}

void BackupValue(HKEY root, const std::string &key, const std::string &name, bool toCleanReport, bool is64)
{
    if (Recording) {
        TRegViewScope view = TRegViewScope::ForItem(is64, Is64BitOS());
        try {
            RecordValue(root, key, name, is64);
        } catch (...) {
        }
    }
    if (toCleanReport) HandToCleanReport(root, key, name, is64);
}

void BackupKey(HKEY root, const std::string &key, bool is64, bool toCleanReport)
{
    if (Recording) {
        TRegViewScope view = TRegViewScope::ForItem(is64, Is64BitOS());
        try {
            RecordKey(root, key, is64);
        } catch (...) {
        }
    }
    if (toCleanReport) HandToCleanReport(root, key, "", is64);
}

std::string EndBackup()
{
    std::string written;
    EndBackup(written);
    return written;
}

bool EndBackup(std::string &written)
{
    written.clear();
    bool ok = true;
    try {
        if (Recording && (Recording->Kind == bkFix || Recording->Kind == bkBoost) && !Recording->Lines.empty()) {
            SYSTEMTIME st;
            GetLocalTime(&st);
            std::string text = "<backup";
            text += Attr("type", Recording->Kind == bkFix ? "fix" : "boost");
            text += Attr("name", HexEscape(WideToUtf8(Recording->Caption)));
            text += Attr("date", HexEscape(WideToUtf8(DateText(st))));
            text += ">\r\n";
            for (const std::string &line : Recording->Lines) text += line + "\r\n";
            text += "</backup>\r\n";

            ok = false;
            std::string folder = BackupDocumentsFolder();
            bool made = !folder.empty() && !DirectoryExists(folder);
            if (!folder.empty() && ForceDirectories(folder, false, true)) {
                if (made) ProtectMachineFile(folder);
                std::string name = FreeDocumentName(folder, Recording->Kind, st);
                TFileWriter file;
                file.EveryoneAccess = false;
                if (file.Open(name)) {
                    bool written_ok = file.WriteText(text);
                    // A document cut short by a full disk would restore only
                    // part of what the repair changes.
                    written_ok = written_ok && file.Flush();
                    file.Close();
                    if (written_ok) {
                        ProtectMachineFile(name);
                        written = name;
                        ok = true;
                    } else {
                        DeleteFileA(name.c_str());
                    }
                }
            }
        }
    } catch (...) {
        ok = false;
        written.clear();
    }
    Recording.reset();
    if (TfwCleanReportSave save = CleanReportSave.load()) {
        try {
            save();
        } catch (...) {
        }
    }
    return ok;
}

// ---- documents ----------------------------------------------------------------

TfwBackup::TfwBackup(const std::string &fileName) : FileName(fileName)
{
    try {
        if (!FileExists(fileName)) return;
        TXML xml;
        if (!xml.LoadFromFile(fileName)) return;
        TXMLTag *root = xml.Root()->FindFirst("backup");
        if (!root) return;
        std::string type = AsciiLower(root->GetAttr("type"));
        Kind = type == "fix" ? bkFix : type == "boost" ? bkBoost : bkNone;
        Date = DocumentTextToWide(HexUnescape(root->GetAttr("date")));
        if (!StampOfName(fileName, Time) && !ParseDateText(Date, Time)) Time = DayNumberNow();
    } catch (...) {
        Kind = bkNone;
    }
}

void TfwBackups::Load()
{
    FixBackups.clear();
    BoostBackups.clear();
    try {
        std::string folder = BackupDocumentsFolder();
        if (folder.empty() || !DirectoryExists(folder)) return;
        for (TFindFile f(folder + "*.xml"); f.Ok(); f.Next()) {
            if (f.IsFolder()) continue;
            // A document a standard user could have placed would have the
            // elevated program write whatever it says into the registry.
            if (!TrustedMachineFile(folder + f.Name())) continue;
            auto backup = std::make_unique<TfwBackup>(folder + f.Name());
            if (backup->Kind == bkFix) FixBackups.push_back(std::move(backup));
            else if (backup->Kind == bkBoost) BoostBackups.push_back(std::move(backup));
        }
    } catch (...) {
    }
}

bool TfwBackups::Remove(TfwBackup *backup)
{
    if (!backup) return false;
    bool deleted = false;
    try {
        deleted = DeleteFileForce(backup->FileName);
    } catch (...) {
    }
    for (auto *list : {&FixBackups, &BoostBackups}) {
        auto it = std::find_if(list->begin(), list->end(), [&](const auto &b) { return b.get() == backup; });
        if (it != list->end()) {
            list->erase(it);
            break;
        }
    }
    return deleted;
}

std::vector<TfwBackup *> TfwBackups::NewestFirst(int kind) const
{
    std::vector<TfwBackup *> result;
    const auto &list = kind == bkFix ? FixBackups : BoostBackups;
    if (kind != bkFix && kind != bkBoost) return result;
    for (const auto &b : list) result.push_back(b.get());
    std::stable_sort(result.begin(), result.end(), [](TfwBackup *a, TfwBackup *b) { return a->Time > b->Time; });
    return result;
}

void TfwBackups::Trim(int kind, size_t keep)
{
    if (kind != bkFix && kind != bkBoost) return;
    auto &list = kind == bkFix ? FixBackups : BoostBackups;
    while (list.size() > keep) Remove(NewestFirst(kind).back());
}

int Restore(TfwBackup &backup)
{
    backup.Items.clear();
    int applied = 0;
    TRegViewScope keep(RegView64, RegView32);
    try {
        if (!FileExists(backup.FileName) || !TrustedMachineFile(backup.FileName)) return 0;
        std::string text;
        if (!ReadFileToString(backup.FileName, text)) return 0;
        ReadEntryLines(text, "backup", "reg", nullptr, [&](TXMLTag *child) {
            TfwRegEntry entry;
            ReadRegEntry(child, entry);
            if (entry.ScanMode == smBackup && entry.FixMode != fmNone) backup.Items.push_back(entry);
        });
        const std::string files = backup.FileName.substr(0, backup.FileName.find_last_of('\\') + 1) + "Files\\";
        ReadEntryLines(text, "backup", "file", nullptr, [&](TXMLTag *child) {
            try {
                const std::string target = HexUnescape(child->GetAttr("path"));
                const std::string copy = HexUnescape(child->GetAttr("copy"));
                // The copy is a plain name inside the folder, never a path.
                if (target.empty() || copy.empty() || copy.find_first_of("\\/:") != std::string::npos) return;
                const std::string source = files + copy;
                if (!FileExists(source) || !TrustedMachineFile(source) || FileExists(target)) return;
                if (CopyFileA(source.c_str(), target.c_str(), TRUE)) ++applied;
            } catch (...) {
            }
        });
        for (const TfwRegEntry &entry : backup.Items) {
            try {
                if (FixRegEntry(entry)) ++applied;
            } catch (...) {
            }
        }
    } catch (...) {
    }
    return applied;
}
