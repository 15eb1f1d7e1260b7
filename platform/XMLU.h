// The system's only XML reader: a forgiving single-pass scanner over 8-bit
// text. It never fails as a whole: what it cannot match goes to Errors and
// everything read before stays in the tree. Names and values come out as the
// bytes of the document (entity references decoded, no transcoding).
//
// There is no tree writer; writers build their documents as text and use
// XMLEncode / XMLEncodeKeepEntities for escaping.
#pragma once

#include <string>
#include <vector>

struct TXMLAttrib {
    std::string Name;
    std::string Value;
};

class TXMLTag {
public:
    std::string Name;   // as written, case kept
    std::string Value;  // text before the first child, or CDATA content
    TXMLTag *Parent = nullptr;
    std::vector<TXMLAttrib> Attributes;  // document order, duplicates kept
    std::vector<TXMLTag *> Children;     // owned
    std::string SearchName;              // cursor of FindFirst/FindNext
    int SearchIndex = 0;
    // Set from creation; tells the destructor to unlink from Parent.
    bool Owned = true;

    explicit TXMLTag(TXMLTag *parent = nullptr) : Parent(parent) {}
    virtual ~TXMLTag();
    TXMLTag(const TXMLTag &) = delete;
    TXMLTag &operator=(const TXMLTag &) = delete;

    // Name comparison folds ASCII a-z only; other bytes compare as they are.
    TXMLTag *FindFirst(const std::string &name);
    TXMLTag *FindNext();
    // FindFirst level by level; nullptr as soon as a level is missing.
    TXMLTag *FindPath(const std::vector<std::string> &names);
    TXMLTag *ChildAt(int index) const;
    int ChildCount() const { return static_cast<int>(Children.size()); }
    int AttrIndex(const std::string &name) const;
    std::string GetAttr(const std::string &name) const;
    const std::string &GetValue() const { return Value; }
    void SetAttr(const std::string &name, const std::string &value);
    void SetAttrCount(int count);
    TXMLTag *AddChild(const std::string &name, const std::string &attrName = {},
                      const std::string &attrValue = {});
    void Clear();

private:
    void FreeChildren();
};

// Safe on no tag at all: both give an empty string for nullptr.
std::string GetAttr(const TXMLTag *tag, const std::string &name);
std::string GetValue(const TXMLTag *tag);

class TXML {
public:
    TXML();
    ~TXML();
    TXML(const TXML &) = delete;
    TXML &operator=(const TXML &) = delete;

    void LoadFromString(const std::string &text);
    // False when there is no such file (a directory does not count) or it
    // cannot be opened or read; the previous tree then stays. Parse errors do
    // not change the result.
    bool LoadFromFile(const std::string &fileName);

    TXMLTag *Root() const { return FRoot; }
    const std::vector<std::string> &Errors() const { return FErrors; }
    const std::string &Text() const { return FText; }

private:
    void Parse();
    void ParseContent(TXMLTag *tag, int depth);

    std::string FText;
    size_t FPos = 0;  // next byte to examine, shared by every level
    TXMLTag *FRoot = nullptr;
    std::vector<std::string> FErrors;
};

std::string XMLDecode(const std::string &text);
// Escapes for a double-quoted attribute value or element text.
std::string XMLEncode(const std::string &text);
// As XMLEncode, but an "&" that already begins a reference is kept.
std::string XMLEncodeKeepEntities(const std::string &text);

// ASCII-only case folding as the reader uses it.
bool SameNameA(const std::string &a, const std::string &b);

// "#" + two upper-case hexadecimal digits for the double quote, "#", "<", ">",
// "&" and every byte below 32, as the system writes attribute values of its
// own documents; every other byte is copied. "&" is escaped as well because
// the reader decodes entity references: a value holding "&lt;" would not come
// back byte for byte otherwise.
std::string HexEscape(const std::string &text);
// Each "#" takes the (at most) two bytes after it; a valid hexadecimal number
// gives its byte, anything else gives nothing.
std::string HexUnescape(const std::string &text);
