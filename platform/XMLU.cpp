#include "platform/XMLU.h"

#include "platform/StreamU.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>

namespace {

// Each element costs one level of recursion; a hostile document of a million
// nested tags must not exhaust the stack. Real documents nest a handful deep.
const int MaxDepth = 256;

char UpperA(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

bool StartsWithNoCase(const std::string &text, size_t at, const char *prefix)
{
    for (size_t i = 0; prefix[i]; ++i) {
        if (at + i >= text.size() || UpperA(text[at + i]) != UpperA(prefix[i]))
            return false;
    }
    return true;
}

bool IsBlank(unsigned char c) { return c <= 32; }

std::string Trim(const std::string &s)
{
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

// Number of a numeric reference; 32 when it is not a valid number.
uint32_t ReferenceNumber(const std::string &digits)
{
    bool hex = !digits.empty() && UpperA(digits[0]) == 'X';
    std::string d = hex ? digits.substr(1) : digits;
    if (d.empty() || d.size() > (hex ? 8u : 10u)) return 32;
    uint64_t v = 0;
    for (char c : d) {
        int n;
        if (c >= '0' && c <= '9') n = c - '0';
        else if (hex && UpperA(c) >= 'A' && UpperA(c) <= 'F') n = UpperA(c) - 'A' + 10;
        else return 32;
        v = v * (hex ? 16 : 10) + n;
    }
    if (!hex && v > 0x7FFFFFFFu) return 32;
    return static_cast<uint32_t>(v);
}

} // namespace

bool SameNameA(const std::string &a, const std::string &b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (UpperA(a[i]) != UpperA(b[i])) return false;
    return true;
}

// ---- TXMLTag ---------------------------------------------------------------

TXMLTag::~TXMLTag()
{
    if (Owned && Parent) {
        auto &sib = Parent->Children;
        auto it = std::find(sib.begin(), sib.end(), this);
        if (it != sib.end()) sib.erase(it);
    }
    FreeChildren();
}

void TXMLTag::FreeChildren()
{
    // Children must not unlink themselves from the array being cleared.
    std::vector<TXMLTag *> doomed;
    doomed.swap(Children);
    for (TXMLTag *c : doomed) {
        c->Owned = false;
        delete c;
    }
}

TXMLTag *TXMLTag::FindFirst(const std::string &name)
{
    SearchName = name;
    SearchIndex = 0;
    return FindNext();
}

TXMLTag *TXMLTag::FindNext()
{
    while (SearchIndex < ChildCount()) {
        TXMLTag *c = Children[SearchIndex++];
        if (SameNameA(c->Name, SearchName)) return c;
    }
    return nullptr;
}

TXMLTag *TXMLTag::FindPath(const std::vector<std::string> &names)
{
    TXMLTag *t = this;
    for (const auto &n : names) {
        t = t->FindFirst(n);
        if (!t) return nullptr;
    }
    return t;
}

TXMLTag *TXMLTag::ChildAt(int index) const
{
    if (index < 0 || index >= ChildCount()) return nullptr;
    return Children[index];
}

int TXMLTag::AttrIndex(const std::string &name) const
{
    for (size_t i = 0; i < Attributes.size(); ++i)
        if (SameNameA(Attributes[i].Name, name)) return static_cast<int>(i);
    return -1;
}

std::string TXMLTag::GetAttr(const std::string &name) const
{
    int i = AttrIndex(name);
    return i < 0 ? std::string() : Attributes[i].Value;
}

void TXMLTag::SetAttr(const std::string &name, const std::string &value)
{
    int i = AttrIndex(name);
    if (i < 0) {
        Attributes.push_back({name, value});
    } else {
        Attributes[i].Name = name;
        Attributes[i].Value = value;
    }
}

void TXMLTag::SetAttrCount(int count)
{
    Attributes.resize(count < 0 ? 0 : count);
}

TXMLTag *TXMLTag::AddChild(const std::string &name, const std::string &attrName,
                           const std::string &attrValue)
{
    auto *c = new TXMLTag(this);
    Children.push_back(c);
    if (!name.empty()) c->Name = name;
    if (!attrName.empty() && !attrValue.empty()) c->SetAttr(attrName, attrValue);
    return c;
}

void TXMLTag::Clear()
{
    SearchName.clear();
    Name.clear();
    Value.clear();
    FreeChildren();
    Attributes.clear();
}

std::string GetAttr(const TXMLTag *tag, const std::string &name)
{
    return tag ? tag->GetAttr(name) : std::string();
}

std::string GetValue(const TXMLTag *tag)
{
    return tag ? tag->Value : std::string();
}

// ---- TXML ------------------------------------------------------------------

TXML::TXML() : FRoot(new TXMLTag()) {}

TXML::~TXML() { delete FRoot; }

void TXML::LoadFromString(const std::string &text)
{
    FText = text;
    Parse();
}

bool TXML::LoadFromFile(const std::string &fileName)
{
    try {
        DWORD attr = GetFileAttributesA(fileName.c_str());
        if (attr == INVALID_FILE_ATTRIBUTES || (attr & FILE_ATTRIBUTE_DIRECTORY)) return false;
        TFileReader reader;
        std::string text;
        if (!reader.Open(fileName) || !reader.ReadAll(text)) return false;
        reader.Close();
        LoadFromString(text);
        return true;
    } catch (...) {
        return false;
    }
}

void TXML::Parse()
{
    delete FRoot;
    FRoot = new TXMLTag();
    FErrors.clear();
    FPos = 0;
    try {
        ParseContent(FRoot, 0);
    } catch (...) {
        FErrors.push_back("Parser: Unknown Exception");
    }
}

void TXML::ParseContent(TXMLTag *tag, int depth)
{
    const std::string &t = FText;
    const size_t n = t.size();
    if (depth > MaxDepth) {
        FErrors.push_back("Parser: Nesting Too Deep");
        FPos = n;
        return;
    }
    while (FPos < n) {
        // 1. Next markup; CDATA sections are consumed on the way.
        const size_t start = FPos;
        bool found = false;
        while (FPos < n) {
            if (t[FPos] != '<') { ++FPos; continue; }
            if (FPos + 1 < n && t[FPos + 1] == '!' && t.compare(FPos + 2, 7, "[CDATA[") == 0) {
                size_t content = FPos + 9;
                size_t end = t.find("]]>", content);
                if (end == std::string::npos) { FPos = n; break; }
                tag->Value = t.substr(content, end - content);
                FPos = end + 3;
                continue;
            }
            found = true;
            break;
        }
        if (!found) return;

        // 2. Only text before the tag's first child is its value.
        if (tag->Value.empty() && tag->Children.empty())
            tag->Value = XMLDecode(Trim(t.substr(start, FPos - start)));

        // 3.
        ++FPos;
        if (FPos >= n) return;

        // 4. Kind of markup.
        bool noContent = false, endTag = false;
        if (t[FPos] == '!' || t[FPos] == '?') { ++FPos; noContent = true; }
        else if (t[FPos] == '/') { ++FPos; endTag = true; }

        // 5. Name; tab and line feed do not end it.
        size_t nameEnd = t.find_first_of(" \r/>", FPos);
        if (nameEnd == std::string::npos) return;
        std::string name = t.substr(FPos, nameEnd - FPos);
        FPos = nameEnd;

        // 6.
        while (FPos < n && (t[FPos] == '\r' || t[FPos] == '\n')) ++FPos;

        // 7. An end tag always closes the element being parsed.
        if (endTag) {
            ++FPos;
            if (name != tag->Name)
                FErrors.push_back("Invalid End Tag \"" + name + "\" shoud be \"" + tag->Name + "\"");
            return;
        }

        // 8. Start tag and its attributes.
        TXMLTag *child = tag->AddChild(name);
        for (;;) {
            while (FPos < n && (t[FPos] == '\t' || t[FPos] == '\n' || t[FPos] == '\r' || t[FPos] == ' '))
                ++FPos;
            if (FPos >= n) return;
            const size_t attrStart = FPos;
            size_t attrEnd = std::string::npos, i = FPos;
            for (; i < n && t[i] != '=' && t[i] != '>'; ++i) {
                if (t[i] == '/') { noContent = true; attrEnd = i; }
                else if (t[i] == ' ') attrEnd = i;
            }
            if (i >= n) return;
            if (attrEnd == std::string::npos) attrEnd = i;
            if (t[i] == '>') { FPos = i + 1; break; }
            size_t q1 = t.find('"', i);
            if (q1 == std::string::npos) return;
            size_t q2 = t.find('"', q1 + 1);
            if (q2 == std::string::npos) return;
            child->Attributes.push_back({XMLDecode(t.substr(attrStart, attrEnd - attrStart)),
                                         XMLDecode(t.substr(q1 + 1, q2 - q1 - 1))});
            FPos = q2 + 1;
        }

        // 9.
        if (!noContent) ParseContent(child, depth + 1);
    }
}

// ---- escaping --------------------------------------------------------------

std::string XMLDecode(const std::string &text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '&') { out += c; continue; }
        size_t semi = text.find(';', i);
        if (semi == std::string::npos || semi - i > 10) { out += c; continue; }
        std::string ref = text.substr(i, semi - i);
        std::string up;
        for (char r : ref) up += UpperA(r);
        if (up == "&LT") out += '<';
        else if (up == "&GT") out += '>';
        else if (up == "&AMP") out += '&';
        else if (up == "&APOS") out += '\'';
        else if (up == "&QUOT") out += '"';
        else out += static_cast<char>(ReferenceNumber(ref.size() > 2 ? ref.substr(2) : std::string()) & 0xFF);
        i = semi;
    }
    return out;
}

namespace {

bool NeedsNumericEscape(unsigned char c)
{
    return c < 32 || (c >= 127 && c <= 132) || (c >= 134 && c <= 159) || c == '"';
}

std::string Encode(const std::string &text, bool keepEntities)
{
    std::string out;
    out.reserve(text.size() + text.size() / 8 + 8);
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c == '&') {
            bool keep = keepEntities && (StartsWithNoCase(text, i, "&#") || StartsWithNoCase(text, i, "&amp;") ||
                                         StartsWithNoCase(text, i, "&lt;") || StartsWithNoCase(text, i, "&gt;"));
            out += keep ? "&" : "&amp;";
        } else if (NeedsNumericEscape(c)) {
            out += "&#" + std::to_string(c) + ";";
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

} // namespace

std::string XMLEncode(const std::string &text) { return Encode(text, false); }

std::string XMLEncodeKeepEntities(const std::string &text) { return Encode(text, true); }

// ---- attribute escapes of the system's own documents -----------------------

std::string HexEscape(const std::string &text)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c < 32 || c == '"' || c == '#' || c == '<' || c == '>' || c == '&') {
            out += '#';
            out += digits[c >> 4];
            out += digits[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

std::string HexUnescape(const std::string &text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '#') { out += text[i]; continue; }
        std::string two = text.substr(i + 1, 2);
        i += two.size();
        int v = 0;
        bool ok = !two.empty();
        for (char c : two) {
            char u = UpperA(c);
            if (u >= '0' && u <= '9') v = v * 16 + (u - '0');
            else if (u >= 'A' && u <= 'F') v = v * 16 + (u - 'A' + 10);
            else { ok = false; break; }
        }
        if (ok) out += static_cast<char>(v);
    }
    return out;
}
